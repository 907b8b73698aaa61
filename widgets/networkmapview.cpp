#include "widgets/networkmapview.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QImage>
#include <QMap>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStaticText>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr int margin = 24;
constexpr int titleHeight = 28;
constexpr int columnWidth = 120;
constexpr int rowHeight = 44;
constexpr double radius = 18;
constexpr int maxRows = 24;

} // namespace

NetworkMapView::NetworkMapView(QWidget *parent)
    : QWidget(parent), now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    setObjectName(QStringLiteral("networkMapView"));
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void NetworkMapView::setMap(const network::NetworkMap *map)
{
    networkMap = map;
    refresh();
}

void NetworkMapView::refresh()
{
    layOut();
    updateGeometry();
    resize(sizeHint().expandedTo(parentWidget() ? parentWidget()->size() : QSize()));
    update();
}

QSize NetworkMapView::sizeHint() const
{
    return extent;
}

void NetworkMapView::layOut()
{
    centres.clear();
    labels.clear();
    sprites.clear();
    columnTitles.clear();
    hops.clear();
    if (!networkMap || networkMap->isEmpty()) {
        extent = QSize(2 * margin + columnWidth, 2 * margin + titleHeight + rowHeight);
        return;
    }
    hops = networkMap->hopCounts();
    // Columns by hop count, the unreached last; rows by address within a column.
    QMap<int, QList<network::NodeId>> columns;
    const int unreached = 1000;
    for (const network::Node &n : networkMap->nodes())
        columns[hops.value(n.id, unreached)] << n.id;
    if (!columns.contains(0))
        columns[0]; // the own module's column, even before the own module is known
    // A tall group is cut into columns side by side, so that a large map stays a picture.
    int column = 0, tallest = 0;
    for (auto it = columns.begin(); it != columns.end(); ++it) {
        QString title;
        if (it.key() == 0)
            title = tr("本模块");
        else if (it.key() == unreached)
            title = tr("未到达");
        else
            title = tr("%n 跳", nullptr, it.key());
        columnTitles.append({margin + column * columnWidth + columnWidth / 2, title});
        const int nodes = int(it->size());
        for (int i = 0; i < nodes; ++i) {
            const int x = margin + (column + i / maxRows) * columnWidth + columnWidth / 2;
            const int row = i % maxRows;
            centres.insert((*it)[i],
                           QPointF(x, margin + titleHeight + rowHeight / 2.0 + row * rowHeight));
        }
        column += std::max(1, (nodes + maxRows - 1) / maxRows);
        tallest = std::max(tallest, std::min(nodes, maxRows));
    }
    extent = QSize(2 * margin + column * columnWidth,
                   2 * margin + titleHeight + std::max(1, tallest) * rowHeight);
}

std::optional<QPointF> NetworkMapView::nodeCentre(network::NodeId id) const
{
    const auto it = centres.constFind(id);
    if (it == centres.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<network::NodeId> NetworkMapView::nodeAt(const QPointF &point) const
{
    for (auto it = centres.begin(); it != centres.end(); ++it) {
        if (std::hypot(point.x() - it->x(), point.y() - it->y()) <= radius + 2)
            return it.key();
    }
    return std::nullopt;
}

QString NetworkMapView::nodeHistory(network::NodeId id) const
{
    if (!networkMap)
        return {};
    const auto node = networkMap->nodes().constFind(id);
    if (node == networkMap->nodes().constEnd())
        return {};
    const auto local = [](qint64 ms) {
        return ms ? QDateTime::fromMSecsSinceEpoch(ms).toString(
                        QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                  : QStringLiteral("-");
    };
    QStringList lines;
    if (id == network::ownNode)
        lines << tr("%1（本模块）")
                     .arg(networkMap->ownAddress() ? network::nodeName(*networkMap->ownAddress())
                                                   : QStringLiteral("????"));
    else
        lines << network::nodeName(id);
    QStringList how;
    if (node->learned & network::LearnedOwn)
        how << tr("本模块");
    if (node->learned & network::LearnedRelay)
        how << tr("路由中继");
    if (node->learned & network::LearnedRouteTarget)
        how << tr("路由目标");
    if (node->learned & network::LearnedDataReport)
        how << tr("数据发送目标");
    lines << tr("来源：%1").arg(how.join(tr("、")));
    lines
        << tr("首次出现：%1，最近确认：%2").arg(local(node->firstSeenMs), local(node->lastSeenMs));
    if (hops.contains(id) && id != network::ownNode)
        lines << tr("跳数：%1").arg(hops.value(id));
    const auto target = networkMap->targets().constFind(quint16(id));
    if (id != network::ownNode && target != networkMap->targets().constEnd()) {
        if (target->route) {
            QStringList relays;
            for (quint16 r : *target->route)
                relays << network::nodeName(r);
            lines << tr("路由：%1")
                         .arg(relays.isEmpty() ? tr("直达") : relays.join(QStringLiteral(" → ")));
        }
        lines << tr("路由搜索成功 %1 次，失败 %2 次；数据发送成功 %3 次，失败 %4 次")
                     .arg(target->routesFound)
                     .arg(target->routesFailed)
                     .arg(target->sendsDelivered)
                     .arg(target->sendsFailed);
        // The newest few: a tooltip is no log.
        const qsizetype shown = std::min<qsizetype>(target->history.size(), 8);
        for (qsizetype i = target->history.size() - shown; i < target->history.size(); ++i) {
            const network::Result &r = target->history[i];
            QString line = local(r.timeMs) + QLatin1Char(' ') +
                           (r.kind == network::Result::Kind::Route ? tr("路由") : tr("发送")) +
                           QLatin1Char(' ');
            if (r.status == network::Result::noReply)
                line += tr("无应答");
            else if (r.status == 0)
                line += tr("成功");
            else
                line += tr("失败（状态 0x%1）").arg(r.status, 2, 16, QLatin1Char('0'));
            if (r.latencyMs >= 0)
                line += QStringLiteral(" %1 ms").arg(double(r.latencyMs), 0, 'f', 1);
            lines << line;
        }
    }
    int stale = 0;
    for (const network::Link &l : networkMap->links()) {
        if ((l.a == id || l.b == id) &&
            networkMap->linkState(l, now()) != network::LinkState::Fresh)
            ++stale;
    }
    if (stale)
        lines << tr("过时的链路：%1").arg(stale);
    return lines.join(QLatin1Char('\n'));
}

void NetworkMapView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    draw(painter, event->rect());
}

QImage NetworkMapView::picture() const
{
    QImage image(extent, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    draw(painter, image.rect());
    return image;
}

void NetworkMapView::draw(QPainter &painter, const QRect &area) const
{
    painter.fillRect(area, Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!networkMap)
        return;
    const qint64 t = now();
    // Only what the area shows is drawn: a large map scrolls.
    const QRectF visible =
        QRectF(area).adjusted(-radius - 30, -radius - 10, radius + 30, radius + 10);
    const double staleAfter = double(networkMap->staleAfterMs());

    QFont font = painter.font();
    font.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.9));
    painter.setFont(font);
    painter.setPen(QColor(90, 90, 90));
    for (const auto &[x, title] : columnTitles)
        painter.drawText(QRectF(x - columnWidth / 2.0, margin, columnWidth, titleHeight - 6),
                         Qt::AlignCenter, title);

    // Links under the nodes. A stale link fades over four age limits, never quite away.
    for (const network::Link &l : networkMap->links()) {
        const auto a = centres.constFind(l.a), b = centres.constFind(l.b);
        if (a == centres.constEnd() || b == centres.constEnd() ||
            !visible.intersects(QRectF(*a, *b).normalized().adjusted(-2, -2, 2, 2)))
            continue;
        QPen pen(QColor(60, 60, 60), 2);
        switch (networkMap->linkState(l, t)) {
        case network::LinkState::Fresh:
            break;
        case network::LinkState::Contradicted:
        case network::LinkState::Aged: {
            const double age = double(t - l.lastConfirmedMs) / staleAfter;
            const int alpha = int(std::clamp(180.0 - 35.0 * age, 40.0, 180.0));
            pen = QPen(QColor(150, 150, 150, alpha), 1.5,
                       l.contradictedMs ? Qt::DashLine : Qt::DotLine);
            break;
        }
        }
        painter.setPen(pen);
        painter.drawLine(*a, *b);
    }

    const auto &targets = networkMap->targets();
    for (auto it = centres.begin(); it != centres.end(); ++it) {
        if (!visible.contains(*it))
            continue;
        const network::NodeId id = it.key();
        QColor fill(225, 235, 250); // a relay
        if (id == network::ownNode) {
            fill = QColor(70, 120, 200);
        } else if (const auto target = targets.constFind(quint16(id));
                   target != targets.constEnd() && !target->history.isEmpty()) {
            fill =
                target->history.last().status == 0 ? QColor(190, 230, 190) : QColor(245, 200, 195);
        }
        if (!hops.contains(id))
            fill = fill.lighter(115);
        // Smooth circles cost the most of a frame: each kind is drawn once and then copied.
        const bool reached = hops.contains(id), own = id == network::ownNode;
        const quint64 key = quint64(fill.rgba()) << 2 | (reached ? 2 : 0) | (own ? 1 : 0);
        QImage &sprite = sprites[key];
        if (sprite.isNull()) {
            const qreal ratio = painter.device()->devicePixelRatioF();
            const int side = int(2 * radius + 4);
            sprite = QImage(QSize(side, side) * ratio, QImage::Format_ARGB32_Premultiplied);
            sprite.setDevicePixelRatio(ratio);
            sprite.fill(Qt::transparent);
            QPainter p(&sprite);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(reached ? QColor(60, 60, 60) : QColor(160, 160, 160), 1.5,
                          reached ? Qt::SolidLine : Qt::DashLine));
            p.setBrush(fill);
            const QPointF c(side / 2.0, side / 2.0);
            p.drawEllipse(c, radius, radius);
            if (own)
                p.drawEllipse(c, radius - 3, radius - 3);
        }
        painter.drawImage(*it - QPointF(radius + 2, radius + 2), sprite);
        painter.setPen(id == network::ownNode ? Qt::white : Qt::black);
        // Laid out once per map change: text layout is the dearest part of a frame.
        QStaticText &label = labels[id];
        if (label.text().isEmpty()) {
            label.setText(id == network::ownNode
                              ? (networkMap->ownAddress()
                                     ? network::nodeName(*networkMap->ownAddress())
                                     : QStringLiteral("?"))
                              : network::nodeName(id));
            label.setTextFormat(Qt::PlainText);
            label.prepare(painter.transform(), painter.font());
        }
        painter.drawStaticText(*it - QPointF(label.size().width(), label.size().height()) / 2,
                               label);
    }
}

void NetworkMapView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (const auto id = nodeAt(event->position())) {
            emit nodeClicked(*id);
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

bool NetworkMapView::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && networkMap) {
        auto *help = static_cast<QHelpEvent *>(event);
        if (const auto id = nodeAt(help->pos()))
            QToolTip::showText(help->globalPos(), nodeHistory(*id), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}
