#include "ui/logstore.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

bool isLowerHex(char16_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

int hexValue(char16_t c)
{
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

// Decodes one code point of valid UTF-8 (the store only holds what QString produced).
char32_t nextCodePoint(const char *&p)
{
    const auto b = uchar(*p++);
    if (b < 0x80)
        return b;
    int more = b >= 0xf0 ? 3 : b >= 0xe0 ? 2 : 1;
    char32_t c = b & (0x3f >> more);
    while (more--)
        c = (c << 6) | (uchar(*p++) & 0x3f);
    return c;
}

// Appends the "hh " text of raw bytes.
void appendHex(QString &out, const char *bytes, qint64 firstChar, qint64 endChar)
{
    for (qint64 ch = firstChar; ch < endChar; ++ch) {
        const auto b = uchar(bytes[ch / 3]);
        switch (ch % 3) {
        case 0:
            out += QLatin1Char(hexDigits[b >> 4]);
            break;
        case 1:
            out += QLatin1Char(hexDigits[b & 15]);
            break;
        default:
            out += QLatin1Char(' ');
        }
    }
}

} // namespace

bool LogStore::isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0x303e) ||
           (c >= 0x3041 && c <= 0x33ff) || (c >= 0x3400 && c <= 0x4dbf) ||
           (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xa000 && c <= 0xa4cf) ||
           (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) ||
           (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
           (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1f64f) ||
           (c >= 0x20000 && c <= 0x3fffd);
}

LogStore::LogStore() = default;

void LogStore::clear()
{
    std::vector<QByteArray>().swap(blocks);
    std::vector<Line>().swap(lines);
    std::vector<qint64>().swap(rowEnds);
    open = Line();
    openBegun = false;
}

void LogStore::append(QStringView text, QStringView linePrefix)
{
    while (!text.isEmpty()) {
        if (!openBegun) {
            openBegun = true;
            appendToOpenLine(linePrefix);
        }
        const qsizetype newline = text.indexOf(QLatin1Char('\n'));
        if (newline < 0) {
            appendToOpenLine(text);
            break;
        }
        closeOpenLineWith(text.left(newline));
        text = text.mid(newline + 1);
    }
}

void LogStore::appendToOpenLine(QStringView piece)
{
    if (piece.isEmpty())
        return;
    const QByteArray utf8 = piece.toUtf8();
    std::memcpy(growOpenLine(utf8.size()), utf8.constData(), size_t(utf8.size()));
    open.textBytes += quint32(utf8.size());
    const char16_t *c16 = piece.utf16();
    for (qsizetype i = 0; i < piece.size(); ++i) {
        char32_t c = c16[i];
        if (c < 0x1100) { // everything below the first wide block is narrow
            ++open.textColumns;
            continue;
        }
        // Characters outside the basic plane also take the walk: one column, two code units.
        if (QChar::isHighSurrogate(c) && i + 1 < piece.size()) {
            c = QChar::surrogateToUcs4(c16[i], c16[i + 1]);
            ++i;
            open.hasWide = true;
        }
        if (isWide(c)) {
            open.hasWide = true;
            open.textColumns += quint32(wide);
        } else {
            open.textColumns += 1;
        }
    }
}

char *LogStore::growOpenLine(qsizetype extra)
{
    // Text lives in blocks that never move once written, so that no append copies the log;
    // the open line moves to a new block when it outgrows its own.
    constexpr qsizetype blockSize = 1 << 20;
    const qsizetype held = open.textBytes;
    if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < extra) {
        QByteArray block;
        block.reserve(std::max(blockSize, held + extra));
        if (!blocks.empty()) {
            block.append(blocks.back().constData() + open.offset, held);
            blocks.back().truncate(open.offset);
        }
        blocks.push_back(block);
        open.block = quint32(blocks.size() - 1);
        open.offset = 0;
    }
    QByteArray &block = blocks.back();
    const qsizetype at = block.size();
    block.resize(at + extra);
    return block.data() + at;
}

void LogStore::closeOpenLineWith(QStringView piece)
{
    // A trailing run of "hh " groups is kept as the bytes it shows.
    const char16_t *c16 = piece.utf16();
    qsizetype end = piece.size();
    while (end >= 3 && c16[end - 1] == u' ' && isLowerHex(c16[end - 2]) && isLowerHex(c16[end - 3]))
        end -= 3;
    appendToOpenLine(piece.left(end));
    const qsizetype count = (piece.size() - end) / 3;
    if (count > 0) {
        char *out = growOpenLine(count);
        for (qsizetype i = 0; i < count; ++i)
            out[i] = char(hexValue(c16[end + 3 * i]) << 4 | hexValue(c16[end + 3 * i + 1]));
        open.hexBytes = quint32(count);
    }
    closeOpenLine();
}

void LogStore::closeOpenLine()
{
    lines.push_back(open);
    rowEnds.push_back(rowsBefore(qsizetype(lines.size()) - 1) + rowCountOf(open));
    open = Line();
    open.block = blocks.empty() ? 0 : quint32(blocks.size() - 1);
    open.offset = blocks.empty() ? 0 : quint32(blocks.back().size());
    openBegun = false;
}

qint64 LogStore::lineColumns(qsizetype line) const
{
    return record(line).columns();
}

QString LogStore::lineText(qsizetype line) const
{
    return slice(line, 0, lineColumns(line));
}

QString LogStore::slice(qsizetype line, qint64 from, qint64 to) const
{
    const Line &l = record(line);
    QString out;
    from = std::max<qint64>(from, 0);
    to = std::min(to, l.columns());
    if (from >= to)
        return out;
    if (from < l.textColumns) {
        const qint64 stop = std::min<qint64>(to, l.textColumns);
        if (!l.hasWide && l.textBytes == l.textColumns) { // ASCII: columns are bytes
            out = QString::fromLatin1(bytesOf(l) + from, stop - from);
        } else if (!l.hasWide) {
            out = QString::fromUtf8(bytesOf(l), l.textBytes).mid(from, stop - from);
        } else {
            const char *p = bytesOf(l);
            const char *stop = p + l.textBytes;
            qint64 column = 0;
            while (p < stop && column < to) {
                const char32_t c = nextCodePoint(p);
                if (column >= from)
                    out += QStringView(QChar::fromUcs4(c));
                column += isWide(c) ? wide : 1;
            }
        }
    }
    if (to > l.textColumns) {
        const qint64 first = std::max<qint64>(from - l.textColumns, 0);
        const qint64 last = to - l.textColumns;
        out.reserve(out.size() + (last - first));
        appendHex(out, bytesOf(l) + l.textBytes, first, last);
    }
    return out;
}

QString LogStore::text(Position from, Position to) const
{
    QString out;
    for (qsizetype line = from.line; line <= to.line && line < lineCount(); ++line) {
        if (line > from.line)
            out += QLatin1Char('\n');
        out += slice(line, line == from.line ? from.column : 0,
                     line == to.line ? to.column : lineColumns(line));
    }
    return out;
}

LogStore::Position LogStore::step(Position p, int direction) const
{
    const Line &l = record(p.line);
    if (direction > 0) {
        if (p.column >= l.columns())
            return p.line + 1 < lineCount() ? Position{p.line + 1, 0} : p;
        if (p.column >= l.textColumns || !l.hasWide)
            return {p.line, p.column + 1};
    } else {
        if (p.column <= 0)
            return p.line > 0 ? Position{p.line - 1, lineColumns(p.line - 1)} : p;
        if (p.column > l.textColumns || !l.hasWide)
            return {p.line, p.column - 1};
    }
    // Inside a text with wide characters: step over whole characters.
    const char *c = bytesOf(l);
    const char *stop = c + l.textBytes;
    qint64 column = 0;
    while (c < stop) {
        const qint64 next = column + (isWide(nextCodePoint(c)) ? wide : 1);
        if (direction > 0 && column >= p.column)
            return {p.line, next};
        if (direction < 0 && next >= p.column)
            return {p.line, column};
        column = next;
    }
    return {p.line, direction > 0 ? column + 1 : column};
}

QString LogStore::plainText() const
{
    QString out;
    qint64 size = 0;
    for (const Line &l : lines)
        size += l.columns() + 1;
    out.reserve(size + open.textColumns);
    for (qsizetype line = 0; line < lineCount(); ++line) {
        if (line > 0)
            out += QLatin1Char('\n');
        out += lineText(line);
    }
    return out;
}

bool LogStore::writeUtf8(QIODevice &out) const
{
    QByteArray buffer;
    const auto flush = [&] {
        const bool ok = out.write(buffer) == buffer.size();
        buffer.clear();
        return ok;
    };
    for (qsizetype line = 0; line < lineCount(); ++line) {
        const Line &l = record(line);
        if (line > 0)
            buffer += '\n';
        buffer.append(bytesOf(l), l.textBytes);
        const char *bytes = bytesOf(l) + l.textBytes;
        for (quint32 i = 0; i < l.hexBytes; ++i) {
            const auto b = uchar(bytes[i]);
            const char group[3] = {hexDigits[b >> 4], hexDigits[b & 15], ' '};
            buffer.append(group, 3);
            if (buffer.size() >= 1 << 16 && !flush())
                return false;
        }
        if (buffer.size() >= 1 << 16 && !flush())
            return false;
    }
    return flush();
}

qint64 LogStore::bytesHeld() const
{
    qint64 held = 0;
    for (const QByteArray &block : blocks)
        held += block.capacity();
    return held + qint64(lines.capacity() * sizeof(Line)) +
           qint64(rowEnds.capacity() * sizeof(qint64));
}

// ---- Wrapping -------------------------------------------------------------------------------

LogStore::Rows LogStore::rowsOf(const Line &l) const
{
    Rows rows;
    rows.starts.push_back(0);
    if (l.hasWide) {
        const char *p = bytesOf(l);
        const char *stop = p + l.textBytes;
        qint64 column = 0;
        while (p < stop) {
            const int width = isWide(nextCodePoint(p)) ? wide : 1;
            // A wide character that does not fit goes whole to the next row.
            if (column - rows.starts.back() + width > wrap && column > rows.starts.back())
                rows.starts.push_back(column);
            column += width;
        }
    }
    const qint64 lastStart = rows.starts.back();
    const qint64 rest = l.columns() - lastStart;
    rows.count = qint64(rows.starts.size()) + (rest > wrap ? (rest + wrap - 1) / wrap - 1 : 0);
    return rows;
}

qint64 LogStore::rowCountOf(const Line &l) const
{
    if (!l.hasWide)
        return l.columns() > wrap ? (l.columns() + wrap - 1) / wrap : 1;
    return rowsOf(l).count;
}

void LogStore::recountRows()
{
    qint64 total = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        total += rowCountOf(lines[i]);
        rowEnds[i] = total;
    }
}

void LogStore::setWrapColumns(int columns)
{
    columns = std::max(columns, 1);
    if (columns == wrap)
        return;
    wrap = columns;
    recountRows();
}

void LogStore::setWideColumns(int columns)
{
    columns = std::max(columns, 1);
    if (columns == wide)
        return;
    // Column counts of stored text depend on it: count them again.
    wide = columns;
    for (Line *l = lines.data(), *stop = l + lines.size(); l <= stop; ++l) {
        Line &line = l == stop ? open : *l;
        if (!line.hasWide)
            continue;
        const char *p = bytesOf(line);
        const char *end = p + line.textBytes;
        quint32 count = 0;
        while (p < end)
            count += isWide(nextCodePoint(p)) ? quint32(wide) : 1;
        line.textColumns = count;
    }
    recountRows();
}

qint64 LogStore::rowCount() const
{
    return rowsBefore(qsizetype(lines.size())) + rowCountOf(open);
}

LogStore::Position LogStore::rowStart(qint64 row) const
{
    row = std::clamp<qint64>(row, 0, rowCount() - 1);
    const auto line =
        qsizetype(std::upper_bound(rowEnds.begin(), rowEnds.end(), row) - rowEnds.begin());
    const Line &l = record(line);
    const qint64 k = row - rowsBefore(line);
    if (!l.hasWide)
        return {line, k * wrap};
    const Rows rows = rowsOf(l);
    const auto walked = qint64(rows.starts.size());
    return {line, k < walked ? rows.starts[size_t(k)]
                             : rows.starts.back() + (k - walked + 1) * qint64(wrap)};
}

qint64 LogStore::rowEnd(qint64 row) const
{
    const Position start = rowStart(row);
    if (row + 1 < rowCount()) {
        const Position next = rowStart(row + 1);
        if (next.line == start.line)
            return next.column;
    }
    return lineColumns(start.line);
}

qint64 LogStore::rowOf(Position p) const
{
    p.line = std::clamp<qsizetype>(p.line, 0, lineCount() - 1);
    const Line &l = record(p.line);
    const qint64 before = rowsBefore(p.line);
    const qint64 rows = rowCountOf(l);
    qint64 k;
    if (!l.hasWide) {
        k = p.column / wrap;
    } else {
        const Rows r = rowsOf(l);
        const auto walked = qint64(r.starts.size());
        if (p.column < r.starts.back() + wrap)
            k = std::upper_bound(r.starts.begin(), r.starts.end(), p.column) - r.starts.begin() - 1;
        else
            k = walked - 1 + (p.column - r.starts.back()) / wrap;
    }
    return before + std::clamp<qint64>(k, 0, rows - 1);
}
