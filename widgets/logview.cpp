#include "widgets/logview.h"

#include "widgets/lastfolder.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QTime>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace {

constexpr int margin = 4;

std::pair<LogStore::Position, LogStore::Position> ordered(LogStore::Position a,
                                                          LogStore::Position b)
{
    return b < a ? std::pair(b, a) : std::pair(a, b);
}

// The reason a file operation failed, as the system gave it.
QString failureOf(const QFileDevice &file, int code)
{
    return file.error() != QFileDevice::NoError ? file.errorString() : qt_error_string(code);
}

// Writes into a FIFO or a device node as it stands: putting a finished copy in its place
// would leave a regular file there.
bool writeInPlace(const LogStore &store, const QString &path, QString *error)
{
    // Opened without waiting, so that a FIFO nobody reads fails with a reason instead of
    // hanging the window; the writes then wait for the reader as usual.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    QFile file;
    if (fd < 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) < 0 ||
        !file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        const int code = errno;
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = failureOf(file, code);
        return false;
    }
    const bool written = store.writeUtf8(file);
    const int code = errno;
    if (written) {
        file.close();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    if (error)
        *error = failureOf(file, code);
    return false;
}

} // namespace

LogView::LogView(QWidget *parent) : QAbstractScrollArea(parent)
{
    // A streaming module makes each receive tick build and drop strings of megabytes; glibc
    // would hand them back to the system and fault fresh pages in on the next tick, which
    // costs more than the tick's own work. Keep freed memory in the heap for reuse.
#ifdef __GLIBC__
    static const bool keepFreedMemory = [] {
        mallopt(M_MMAP_THRESHOLD, 64 << 20);
        mallopt(M_TRIM_THRESHOLD, 128 << 20);
        return true;
    }();
    Q_UNUSED(keepFreedMemory);
#endif
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);

    const auto addAction = [this](const QString &text, const char *name, auto slot) {
        auto *action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, slot);
        QWidget::addAction(action);
        return action;
    };
    copyAction = addAction(tr("复制"), "copyAction", &LogView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    selectAllAction = addAction(tr("全选"), "selectAllAction", &LogView::selectAll);
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    saveAction = addAction(tr("另存为…"), "saveAction", &LogView::saveAs);
    clearAction = addAction(tr("清除"), "clearAction", &LogView::clear);
    stampAction = addAction(tr("时间戳"), "timeStampAction", &LogView::setTimeStamps);
    stampAction->setCheckable(true);
    // The font's metrics are taken when the first text comes: loading the fixed-pitch font
    // and its CJK fallback would otherwise hold up the window's first frame.
}

// ---- Text -----------------------------------------------------------------------------------

void LogView::appendText(const QString &text)
{
    if (text.isEmpty())
        return;
    ensureMeasured();
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const QString stamp =
        stamping ? QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) : QString();
    store.append(text, stamp);
    refit();
    if (following)
        bar->setValue(bar->maximum());
    viewport()->update();
}

void LogView::clear()
{
    store.clear();
    anchor = cursor = {};
    refit();
    viewport()->update();
}

void LogView::setPlainText(const QString &text)
{
    clear();
    ensureMeasured();
    store.append(text);
    refit();
}

QString LogView::selectedText() const
{
    const auto [from, to] = ordered(anchor, cursor);
    return store.text(from, to);
}

void LogView::selectAll()
{
    anchor = {};
    cursor = store.end();
    viewport()->update();
}

void LogView::copy() const
{
    if (!(anchor == cursor))
        QGuiApplication::clipboard()->setText(selectedText());
}

bool LogView::saveTo(const QString &path, QString *error) const
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return writeInPlace(store, path, error);
    // Unbuffered, every write reports its own failure: a buffered tail that failed to reach
    // the disk would still be committed.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && store.writeUtf8(file) &&
        file.commit())
        return true;
    if (error)
        *error = failureOf(file, errno);
    return false;
}

void LogView::saveAs()
{
    const QString path =
        QFileDialog::getSaveFileName(this, tr("另存为"), lastFolder(QStringLiteral("logs")),
                                     tr("文本文件 (*.txt);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    setLastFolder(QStringLiteral("logs"), QFileInfo(path).absolutePath());
    QString error;
    if (!saveTo(path, &error))
        QMessageBox::critical(this, tr("错误"), tr("无法保存文件：%1").arg(error));
}

void LogView::setTimeStamps(bool on)
{
    stamping = on;
    stampAction->setChecked(on);
}

// ---- Geometry -------------------------------------------------------------------------------

void LogView::measureFont()
{
    // Glyph advances are fractional; columns must add up as the painter draws them.
    const QFontMetricsF metrics(font());
    cellWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('0')));
    rowHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    // The CJK glyphs come from whatever font supplies them; give them the cells they need.
    const qreal wideAdvance = metrics.horizontalAdvance(QChar(0x4e2d));
    store.setWideColumns(std::max(1, int(std::lround(wideAdvance / cellWidth))));
    measured = true;
    refit();
}

void LogView::ensureMeasured()
{
    if (!measured)
        measureFont();
}

int LogView::visibleRows() const
{
    return std::max(1, (viewport()->height() - 2 * margin) / rowHeight);
}

void LogView::refit()
{
    // An empty box needs no metrics yet; any text measures the font first.
    if (!measured) {
        if (!store.isEmpty())
            measureFont();
        else
            verticalScrollBar()->setRange(0, 0);
        return;
    }
    // Room for the scroll bar is kept whether it shows or not, so that its coming and going
    // does not wrap every line again.
    const int width = contentsRect().width() - verticalScrollBar()->sizeHint().width();
    store.setWrapColumns(int((width - 2 * margin) / cellWidth));
    QScrollBar *bar = verticalScrollBar();
    const qint64 rows = store.rowCount() - visibleRows();
    bar->setRange(0, int(std::clamp<qint64>(rows, 0, INT_MAX)));
    bar->setPageStep(visibleRows());
    bar->setSingleStep(1);
}

void LogView::resizeEvent(QResizeEvent *event)
{
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const LogStore::Position top = store.rowStart(bar->value());
    QAbstractScrollArea::resizeEvent(event);
    refit();
    bar->setValue(following ? bar->maximum() : int(store.rowOf(top)));
}

void LogView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        measured = false;
        refit();
    }
    QAbstractScrollArea::changeEvent(event);
}

// ---- Painting -------------------------------------------------------------------------------

void LogView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const qint64 top = verticalScrollBar()->value();
    for (int r = 0; r <= visibleRows(); ++r) {
        const qint64 row = top + r;
        if (row >= store.rowCount())
            break;
        drawRow(painter, row, margin + r * rowHeight);
    }
}

void LogView::drawRow(QPainter &painter, qint64 row, int y)
{
    const LogStore::Position start = store.rowStart(row);
    const qint64 end = store.rowEnd(row);
    const QString text = store.slice(start.line, start.column, end);
    const QFontMetricsF metrics(font());
    const qreal baseline = y + metrics.ascent();

    // Narrow characters in runs, each wide character centred in its cells, so that columns
    // line up whatever font supplies the glyphs.
    const auto drawText = [&] {
        qint64 runStart = 0, column = 0;
        qsizetype runFrom = 0;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            char32_t c = 0;
            qsizetype length = 1;
            if (i < text.size()) {
                c = text[i].unicode();
                if (text[i].isHighSurrogate() && i + 1 < text.size()) {
                    c = QChar::surrogateToUcs4(text[i], text[i + 1]);
                    length = 2;
                }
                if (!LogStore::isWide(c)) {
                    ++column;
                    i += length - 1;
                    continue;
                }
            }
            if (i > runFrom)
                painter.drawText(QPointF(margin + runStart * cellWidth, baseline),
                                 text.mid(runFrom, i - runFrom));
            if (i == text.size())
                break;
            const QString glyph = text.mid(i, length);
            const qreal cells = store.wideColumns() * cellWidth;
            painter.drawText(QPointF(margin + column * cellWidth +
                                         (cells - metrics.horizontalAdvance(glyph)) / 2.0,
                                     baseline),
                             glyph);
            column += store.wideColumns();
            i += length - 1;
            runFrom = i + 1;
            runStart = column;
        }
    };

    painter.setPen(palette().color(QPalette::Text));
    drawText();

    const auto [from, to] = ordered(anchor, cursor);
    if (from == to || start.line < from.line || start.line > to.line)
        return;
    const qint64 a = start.line == from.line ? std::max(from.column, start.column) : start.column;
    const qint64 b = start.line == to.line ? std::min(to.column, end) : end;
    // A selected line break shows as one more cell at the end of the line's last row.
    const bool lineBreak = start.line < to.line && end == store.lineColumns(start.line);
    if (b < a || (a == b && !lineBreak))
        return;
    const QRectF band(margin + (a - start.column) * cellWidth, y,
                      (b - a + (lineBreak ? 1 : 0)) * cellWidth, rowHeight);
    painter.fillRect(band, palette().brush(QPalette::Highlight));
    painter.save();
    painter.setClipRect(band);
    painter.setPen(palette().color(QPalette::HighlightedText));
    drawText();
    painter.restore();
}

// ---- Selection ------------------------------------------------------------------------------

LogStore::Position LogView::positionAt(QPoint point) const
{
    const qint64 row =
        verticalScrollBar()->value() + int(std::floor(double(point.y() - margin) / rowHeight));
    if (row >= store.rowCount())
        return store.end();
    LogStore::Position p = store.rowStart(std::max<qint64>(row, 0));
    const qint64 offset = std::lround((point.x() - margin) / cellWidth);
    p.column = std::clamp<qint64>(p.column + offset, p.column, store.rowEnd(row));
    return p;
}

void LogView::ensureVisible(LogStore::Position p)
{
    QScrollBar *bar = verticalScrollBar();
    const qint64 row = store.rowOf(p);
    if (row < bar->value())
        bar->setValue(int(row));
    else if (row >= bar->value() + visibleRows())
        bar->setValue(int(row - visibleRows() + 1));
}

void LogView::setCursorTo(LogStore::Position p, bool extend)
{
    if (!extend)
        anchor = p;
    cursor = p;
    ensureVisible(cursor);
    viewport()->update();
}

void LogView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    selecting = true;
    setCursorTo(positionAt(event->position().toPoint()),
                event->modifiers().testFlag(Qt::ShiftModifier));
}

void LogView::mouseMoveEvent(QMouseEvent *event)
{
    if (!selecting)
        return QAbstractScrollArea::mouseMoveEvent(event);
    const QPoint point = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls one row per move.
    QScrollBar *bar = verticalScrollBar();
    if (point.y() < 0)
        bar->setValue(bar->value() - 1);
    else if (point.y() > viewport()->height())
        bar->setValue(bar->value() + 1);
    setCursorTo(positionAt(point), true);
}

void LogView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!selecting)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    selecting = false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && !(anchor == cursor))
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void LogView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    // A log line is the unit worth picking out.
    const LogStore::Position p = positionAt(event->position().toPoint());
    anchor = {p.line, 0};
    cursor = {p.line, store.lineColumns(p.line)};
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent *event)
{
    QScrollBar *bar = verticalScrollBar();
    const qint64 row = store.rowOf(cursor);
    const auto toRow = [&](qint64 target) {
        target = std::clamp<qint64>(target, 0, store.rowCount() - 1);
        LogStore::Position p = store.rowStart(target);
        p.column =
            std::min(p.column + (cursor.column - store.rowStart(row).column), store.rowEnd(target));
        return p;
    };
    if (event == QKeySequence::SelectNextChar)
        setCursorTo(store.step(cursor, +1), true);
    else if (event == QKeySequence::SelectPreviousChar)
        setCursorTo(store.step(cursor, -1), true);
    else if (event == QKeySequence::SelectNextLine)
        setCursorTo(toRow(row + 1), true);
    else if (event == QKeySequence::SelectPreviousLine)
        setCursorTo(toRow(row - 1), true);
    else if (event == QKeySequence::SelectNextPage)
        setCursorTo(toRow(row + visibleRows()), true);
    else if (event == QKeySequence::SelectPreviousPage)
        setCursorTo(toRow(row - visibleRows()), true);
    else if (event == QKeySequence::SelectStartOfLine)
        setCursorTo(store.rowStart(row), true);
    else if (event == QKeySequence::SelectEndOfLine)
        setCursorTo({cursor.line, store.rowEnd(row)}, true);
    else if (event == QKeySequence::SelectStartOfDocument)
        setCursorTo({}, true);
    else if (event == QKeySequence::SelectEndOfDocument)
        setCursorTo(store.end(), true);
    else if (event == QKeySequence::MoveToStartOfDocument)
        bar->setValue(0);
    else if (event == QKeySequence::MoveToEndOfDocument)
        bar->setValue(bar->maximum());
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void LogView::contextMenuEvent(QContextMenuEvent *event)
{
    copyAction->setEnabled(!(anchor == cursor));
    QMenu menu(this);
    menu.addAction(copyAction);
    menu.addAction(selectAllAction);
    menu.addSeparator();
    menu.addAction(saveAction);
    menu.addAction(clearAction);
    menu.addSeparator();
    menu.addAction(stampAction);
    menu.exec(event->globalPos());
    copyAction->setEnabled(true); // its shortcut works whatever the menu showed
}
