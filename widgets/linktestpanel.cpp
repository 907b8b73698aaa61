#include "widgets/linktestpanel.h"

#include "serial/linktestcsv.h"
#include "widgets/lastfolder.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

// ---- The record -----------------------------------------------------------------------------

void LinkTestRecord::clear()
{
    blocks.clear();
    targets.clear();
    count = 0;
}

qsizetype LinkTestRecord::add(qint64 atMs, quint16 target)
{
    if (count % blockSize == 0)
        blocks.push_back(std::make_unique<Packed[]>(size_t(blockSize)));
    packed(count) = {quint32(std::clamp<qint64>(atMs, 0, UINT32_MAX)), pendingMark};
    if (targets.empty() || targets.back().second != target)
        targets.emplace_back(count, target);
    return count++;
}

void LinkTestRecord::settle(qsizetype index, std::optional<int> status, double latencyMs)
{
    if (index < 0 || index >= count)
        return;
    quint32 &word = packed(index).word;
    if (!status) {
        word = noReplyMark;
        return;
    }
    const auto tens = quint32(std::clamp<double>(std::lround(latencyMs * 100), 0, longestLatency));
    word = tens | quint32(*status & 0xff) << 24;
}

LinkTestRecord::Send LinkTestRecord::at(qsizetype index) const
{
    const Packed &p = packed(index);
    Send s;
    s.atMs = p.atMs;
    const quint32 latency = p.word & 0xffffff;
    if (latency == pendingMark) {
        s.outcome = Outcome::Pending;
    } else if (latency == noReplyMark) {
        s.outcome = Outcome::NoReply;
    } else {
        s.outcome = Outcome::Answered;
        s.status = int(p.word >> 24);
        s.latencyMs = latency / 100.0;
    }
    const auto change = std::upper_bound(
        targets.begin(), targets.end(), index,
        [](qsizetype i, const std::pair<qsizetype, quint16> &t) { return i < t.first; });
    s.target = change == targets.begin() ? 0 : (change - 1)->second;
    return s;
}

qsizetype LinkTestRecord::firstAtOrAfter(qint64 atMs) const
{
    qsizetype low = 0, high = count;
    while (low < high) {
        const qsizetype mid = low + (high - low) / 2;
        if (qint64(packed(mid).atMs) < atMs)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

qint64 LinkTestRecord::bytesHeld() const
{
    return qint64(blocks.size()) * blockSize * qint64(sizeof(Packed)) +
           qint64(targets.capacity() * sizeof(targets[0]));
}

// ---- The chart ------------------------------------------------------------------------------

namespace {

constexpr qint64 hourMs = 3600 * 1000;
constexpr qint64 minuteMs = 60 * 1000;
const QColor deliveredColour(0x1f, 0x77, 0xb4);
const QColor failedColour(0xd3, 0x2f, 0x2f);
const QColor noReplyColour(0xef, 0x8a, 0x00);
const QColor gapColour(0x70, 0x70, 0x70);

// The smallest of 1, 2, 5 × 10^k at or above `value`.
double niceCeiling(double value)
{
    const double step = std::pow(10.0, std::floor(std::log10(std::max(value, 1e-3))));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * step >= value)
            return m * step;
    }
    return 10 * step;
}

QString statusCode(int status)
{
    return QString::asprintf("0x%02x", status);
}

} // namespace

// Latency over time for the hour that ends at the view's end: each pixel column shows the
// range of its delivered sends; failures (red) and missing replies (orange) are marked along
// the top. Draws only the sends in view, found by a binary search.
class LatencyChart : public QWidget
{
public:
    LatencyChart(const LinkTestRecord &record, const std::vector<LinkTestGap> &gaps,
                 QWidget *parent)
        : QWidget(parent), sends(record), gaps(gaps)
    {
        setMinimumSize(160, 80);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    // The view: spanMs up to viewEndMs. A run shorter than an hour fills the chart (a minute at
    // least); a longer one shows its last hour, or the hour scrolled to.
    qint64 viewEndMs = minuteMs;
    qint64 spanMs = minuteMs;
    QDateTime wallStart;
    // The time now from the start of the run: a gap still going reaches it.
    qint64 nowMs = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const QRect area = rect().adjusted(metrics.horizontalAdvance(QStringLiteral("0000 ms")) + 6,
                                           8, -2, -metrics.height() - 2);
        painter.fillRect(area, palette().color(QPalette::Base));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        if (area.width() < 2 || area.height() < 2)
            return;

        const qint64 from = viewEndMs - spanMs;
        const qsizetype first = sends.firstAtOrAfter(from);
        const qsizetype last = sends.firstAtOrAfter(viewEndMs + 1);
        double top = 0;
        for (qsizetype i = first; i < last; ++i) {
            const LinkTestRecord::Send s = sends.at(i);
            if (s.outcome == LinkTestRecord::Outcome::Answered)
                top = std::max(top, s.latencyMs);
        }
        top = niceCeiling(std::max(top, 1.0));

        // The axes' words: the latency scale at the left, the hour's ends below.
        painter.setPen(palette().color(QPalette::WindowText));
        const auto ms = [](double v) { return QString::number(v, 'g', 4) + QStringLiteral(" ms"); };
        painter.drawText(QRect(0, area.top() - 8, area.left() - 4, metrics.height()),
                         Qt::AlignRight | Qt::AlignTop, ms(top));
        painter.drawText(
            QRect(0, area.bottom() - metrics.height() + 1, area.left() - 4, metrics.height()),
            Qt::AlignRight | Qt::AlignBottom, QStringLiteral("0"));
        const QString format = QStringLiteral("HH:mm:ss");
        const QRect below(area.left(), area.bottom() + 2, area.width(), metrics.height());
        painter.drawText(below, Qt::AlignLeft,
                         wallStart.addMSecs(std::max<qint64>(from, 0)).toString(format));
        painter.drawText(below, Qt::AlignRight, wallStart.addMSecs(viewEndMs).toString(format));

        // One pass over the sends in view, a column at a time.
        const int width = area.width() - 2;
        const int plotTop = area.top() + 6, plotBottom = area.bottom() - 1;
        const double yScale = (plotBottom - plotTop) / top;
        const auto xOf = [&](qint64 atMs) {
            return area.left() + 1 + int((atMs - from) * width / spanMs);
        };
        // Times without the port, hatched across the whole height.
        for (const LinkTestGap &gap : gaps) {
            const qint64 end = gap.lengthMs < 0 ? nowMs : gap.atMs + gap.lengthMs;
            if (end < from || gap.atMs > viewEndMs)
                continue;
            const int left = xOf(std::max(gap.atMs, from));
            const int right = std::max(left + 1, xOf(std::min(end, viewEndMs)));
            const QRect band(left, area.top() + 1, right - left, area.height() - 2);
            painter.fillRect(band, QBrush(gapColour, Qt::BDiagPattern));
            painter.fillRect(band,
                             QColor(gapColour.red(), gapColour.green(), gapColour.blue(), 40));
        }
        int column = -1;
        double low = 0, high = 0;
        bool delivered = false, failed = false, missing = false;
        const auto flush = [&] {
            if (column < 0)
                return;
            if (delivered) {
                painter.setPen(QPen(deliveredColour, 2));
                painter.drawLine(column, plotBottom - int(low * yScale), column,
                                 plotBottom - int(high * yScale));
            }
            // A column with both marks shows the missing reply: the rarer, worse news.
            if (failed || missing) {
                painter.setPen(missing ? noReplyColour : failedColour);
                painter.drawLine(column, area.top() + 1, column, area.top() + 5);
            }
        };
        for (qsizetype i = first; i < last; ++i) {
            const LinkTestRecord::Send s = sends.at(i);
            const int x = xOf(s.atMs);
            if (x != column) {
                flush();
                column = x;
                delivered = failed = missing = false;
            }
            if (s.outcome == LinkTestRecord::Outcome::NoReply) {
                missing = true;
            } else if (s.outcome == LinkTestRecord::Outcome::Answered && s.status != 0) {
                failed = true;
                painter.setPen(failedColour);
                painter.drawPoint(x, plotBottom - int(s.latencyMs * yScale));
            } else if (s.outcome == LinkTestRecord::Outcome::Answered) {
                low = delivered ? std::min(low, s.latencyMs) : s.latencyMs;
                high = delivered ? std::max(high, s.latencyMs) : s.latencyMs;
                delivered = true;
            }
        }
        flush();
    }

private:
    const LinkTestRecord &sends;
    const std::vector<LinkTestGap> &gaps;
};

// ---- The panel ------------------------------------------------------------------------------

LinkTestPanel::LinkTestPanel(QWidget *parent) : QWidget(parent)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 2, 0, 0);
    outer->setSpacing(2);
    auto *layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    outer->addLayout(layout, 1);

    // A column of figures, the latencies under their caption; the chart takes the rest.
    auto *figures = new QGridLayout;
    figures->setHorizontalSpacing(4);
    figures->setVerticalSpacing(1);
    const auto addFigure = [&](const QString &caption, const char *name, bool below = false) {
        const int row = figures->rowCount();
        figures->addWidget(new QLabel(caption, this), row, 0, 1, below ? 2 : 1);
        auto *value = new QLabel(this);
        value->setObjectName(QLatin1String(name));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (below)
            figures->addWidget(value, row + 1, 0, 1, 2);
        else
            figures->addWidget(value, row, 1);
        return value;
    };
    sentLabel = addFigure(tr("已发送："), "linkTestSent");
    deliveredLabel = addFigure(tr("送达（状态0）："), "linkTestDelivered");
    failedLabel = addFigure(tr("失败："), "linkTestFailed");
    noReplyLabel = addFigure(tr("无应答："), "linkTestNoReply");
    lateLabel = addFigure(tr("迟到的应答："), "linkTestLate");
    ratioLabel = addFigure(tr("送达率："), "linkTestRatio");
    latencyLabel = addFigure(tr("时延（最小/中位/95%/最大）："), "linkTestLatency", true);
    gapLabel = addFigure(tr("断开："), "linkTestGaps");
    // What the run is doing or why it ended, and where it is recorded: one line under it all,
    // the file's name cut short rather than widening the panel.
    auto *lines = new QHBoxLayout;
    lines->setSpacing(12);
    const auto addLine = [&](const char *name, int stretch) {
        auto *line = new QLabel(this);
        line->setObjectName(QLatin1String(name));
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        lines->addWidget(line, stretch);
        return line;
    };
    statusLabel = addLine("linkTestStatus", 2);
    recordLabel = addLine("linkTestRecordFile", 3);
    outer->addLayout(lines);
    figures->setRowStretch(figures->rowCount(), 1);
    layout->addLayout(figures);

    auto *chartColumn = new QVBoxLayout;
    chartColumn->setSpacing(0);
    chart = new LatencyChart(sends, gapList, this);
    chart->setObjectName(QStringLiteral("linkTestChart"));
    chartColumn->addWidget(chart, 1);
    scroll = new QScrollBar(Qt::Horizontal, this);
    scroll->setObjectName(QStringLiteral("linkTestScroll"));
    scroll->setRange(0, 0);
    chartColumn->addWidget(scroll);
    layout->addLayout(chartColumn, 1);
    connect(scroll, &QScrollBar::valueChanged, this, [this](int seconds) {
        chart->viewEndMs = qint64(seconds) * 1000 + chart->spanMs;
        chart->update();
    });

    auto *buttons = new QVBoxLayout;
    auto *exportButton = new QPushButton(tr("导出…"), this);
    exportButton->setObjectName(QStringLiteral("pushButton_exportLinkTest"));
    auto *clearButton = new QPushButton(tr("清除"), this);
    clearButton->setObjectName(QStringLiteral("pushButton_clearLinkTest"));
    for (QPushButton *button : {exportButton, clearButton}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);
    connect(exportButton, &QPushButton::clicked, this, &LinkTestPanel::exportAs);
    connect(clearButton, &QPushButton::clicked, this, &LinkTestPanel::clearRun);

    // Figures and chart follow the sends a few times a second, never per report.
    refreshTimer = new QTimer(this);
    refreshTimer->setSingleShot(true);
    refreshTimer->setInterval(200);
    connect(refreshTimer, &QTimer::timeout, this, &LinkTestPanel::refresh);
    refresh();
}

LinkTestPanel::~LinkTestPanel() = default;

void LinkTestPanel::start()
{
    linkStats = protocol::LinkStats();
    sends.clear();
    gapList.clear();
    statusLabel->clear();
    recordLabel->clear();
    wallStart = QDateTime::currentDateTime();
    clock.start();
    chart->wallStart = wallStart;
    scroll->setRange(0, 0);
    chart->viewEndMs = chart->spanMs = minuteMs;
    refresh();
    show();
}

void LinkTestPanel::clearRun()
{
    linkStats = protocol::LinkStats();
    sends.clear();
    gapList.clear();
    refresh();
    hide();
}

qsizetype LinkTestPanel::recordSend(quint16 target)
{
    return recordSendAt(clock.isValid() ? clock.elapsed() : 0, target);
}

qsizetype LinkTestPanel::recordSendAt(qint64 atMs, quint16 target)
{
    const qsizetype index = sends.add(atMs, target);
    changed();
    return index;
}

void LinkTestPanel::recordReply(qsizetype index, std::optional<int> status, double latencyMs)
{
    if (status)
        linkStats.addAnswer(*status, latencyMs);
    else
        linkStats.addNoReply();
    sends.settle(index, status, latencyMs);
    changed();
}

void LinkTestPanel::recordNoReply(qsizetype index)
{
    linkStats.addNoReply();
    sends.settle(index, std::nullopt, 0);
    changed();
}

void LinkTestPanel::recordLate()
{
    linkStats.addLate();
    changed();
}

void LinkTestPanel::recordSkipped()
{
    linkStats.addSkipped();
    changed();
}

void LinkTestPanel::recordPause()
{
    gapList.push_back({clock.isValid() ? clock.elapsed() : 0, -1, 0});
    showStatus(tr("串口已断开，等待重新连接…"));
    changed();
}

void LinkTestPanel::recordGap(qint64 lengthMs, qint64 missed, bool resumed)
{
    if (gapList.empty() || gapList.back().lengthMs >= 0)
        gapList.push_back({clock.isValid() ? clock.elapsed() - lengthMs : 0, -1, 0});
    gapList.back().lengthMs = lengthMs;
    gapList.back().missed = missed;
    linkStats.addGap(missed);
    if (resumed)
        showStatus(tr("串口已重新连接，继续发送（断开 %1 秒，漏发 %2 次）")
                       .arg(QString::number(lengthMs / 1000.0, 'f', 1))
                       .arg(missed));
    changed();
}

void LinkTestPanel::showStatus(const QString &text)
{
    statusLabel->setText(text);
    statusLabel->setToolTip(text);
}

void LinkTestPanel::showRecord(const QString &text)
{
    recordLabel->setText(text);
    recordLabel->setToolTip(text);
}

void LinkTestPanel::changed()
{
    if (!refreshTimer->isActive())
        refreshTimer->start();
}

QString LinkTestPanel::figure(const char *name) const
{
    const auto *label = findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QString();
}

void LinkTestPanel::refresh()
{
    const protocol::LinkStats &s = linkStats;
    sentLabel->setText(s.skipped() > 0 ? tr("%1（跳过%2）").arg(s.sent()).arg(s.skipped())
                                       : QString::number(s.sent()));
    deliveredLabel->setText(QString::number(s.acknowledged()));
    QStringList codes;
    for (auto it = s.failuresByStatus().begin(); it != s.failuresByStatus().end(); ++it)
        codes << statusCode(it.key()) + QStringLiteral("×") + QString::number(it.value());
    failedLabel->setText(codes.isEmpty()
                             ? QString::number(s.failed())
                             : tr("%1（%2）").arg(s.failed()).arg(codes.join(tr("，"))));
    noReplyLabel->setText(QString::number(s.noReply()));
    gapLabel->setText(s.gaps() > 0 ? tr("%1 次（漏发 %2 次）").arg(s.gaps()).arg(s.missed())
                                   : QStringLiteral("0"));
    lateLabel->setText(QString::number(s.late()));
    ratioLabel->setText(s.sent() ? QString::number(100.0 * s.deliveryRatio(), 'f', 1) +
                                       QStringLiteral(" %")
                                 : QStringLiteral("–"));
    const auto ms = [](double v) { return QString::number(v, 'f', v < 10 ? 2 : 1); };
    latencyLabel->setText(s.hasLatency() ? QStringLiteral("%1 / %2 / %3 / %4 ms")
                                               .arg(ms(s.minimumMs()), ms(s.percentileMs(0.5)),
                                                    ms(s.percentileMs(0.95)), ms(s.maximumMs()))
                                         : QStringLiteral("–"));

    // The scroll bar spans the run in seconds; at its end it follows the newest send.
    const qint64 lastMs = sends.size() ? sends.at(sends.size() - 1).atMs : 0;
    chart->spanMs = std::clamp(lastMs, minuteMs, hourMs);
    const int maximum = int(std::max<qint64>(0, (lastMs - chart->spanMs + 999) / 1000));
    const bool following = scroll->value() >= scroll->maximum();
    {
        const QSignalBlocker quiet(scroll);
        scroll->setRange(0, maximum);
        scroll->setPageStep(int(chart->spanMs / 1000));
        scroll->setSingleStep(60);
        if (following)
            scroll->setValue(maximum);
    }
    chart->viewEndMs = qint64(scroll->value()) * 1000 + chart->spanMs;
    chart->nowMs = clock.isValid() ? clock.elapsed() : 0;
    chart->update();
}

bool LinkTestPanel::exportCsv(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    namespace csv = serial::linktestcsv;
    QByteArray text = csv::header();
    // Gaps go in among the sends, at their start.
    auto gap = gapList.cbegin();
    const auto gapsUpTo = [&](qint64 atMs) {
        for (; gap != gapList.cend() && gap->atMs <= atMs; ++gap) {
            const quint16 target = sends.size() > 0 ? sends.at(sends.size() - 1).target : 0;
            text += csv::gapLine(wallStart.addMSecs(gap->atMs), gap->missed, target,
                                 gap->lengthMs < 0 ? clock.elapsed() - gap->atMs : gap->lengthMs);
        }
    };
    for (qsizetype i = 0; i < sends.size(); ++i) {
        const LinkTestRecord::Send s = sends.at(i);
        gapsUpTo(s.atMs - 1);
        const bool answered = s.outcome == LinkTestRecord::Outcome::Answered;
        text += csv::sendLine(wallStart.addMSecs(s.atMs), i + 1, s.target,
                              answered ? std::optional<int>(s.status) : std::nullopt, s.latencyMs,
                              s.outcome == LinkTestRecord::Outcome::Pending);
        if (text.size() >= 1 << 16) {
            file.write(text);
            text.clear();
        }
    }
    gapsUpTo(std::numeric_limits<qint64>::max());
    file.write(text);
    if (file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

void LinkTestPanel::exportAs()
{
    // Named after the run's target (its last, should it have changed) and the day it began.
    const QString target =
        sends.size() > 0 ? QString::asprintf("%04x", sends.at(sends.size() - 1).target) : QString();
    const QDate day = wallStart.isValid() ? wallStart.date() : QDate::currentDate();
    const QString path = askSavePath(
        this, tr("导出链路测试"), QStringLiteral("linktest"),
        suggestedFileName(QStringLiteral("linktest"), target, day, QStringLiteral("csv")),
        tr("CSV 文件 (*.csv);;所有文件 (*)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    QString error;
    if (!exportCsv(path, &error))
        QMessageBox::critical(this, tr("错误"), tr("无法保存文件：%1").arg(error));
}
