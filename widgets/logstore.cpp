#include "widgets/logstore.h"

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
    std::vector<IndexedLine>().swap(indexes);
    open = Line();
    openRows = RowIndex();
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
    // QString's UTF-8 encoder turns a lone surrogate and the unit after it into one '?':
    // replace just the stray unit, so that the text after it survives.
    QString repaired;
    for (qsizetype i = 0; i < piece.size(); ++i) {
        if (!piece[i].isSurrogate())
            continue;
        if (piece[i].isHighSurrogate() && i + 1 < piece.size() && piece[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (repaired.isNull())
            repaired = piece.toString();
        repaired[i] = QChar::ReplacementCharacter;
    }
    if (!repaired.isNull())
        piece = repaired;

    const QByteArray utf8 = piece.toUtf8();
    std::memcpy(growOpenLine(utf8.size()), utf8.constData(), size_t(utf8.size()));
    // Count the columns and carry on the open line's rows over the new text only.
    qint64 column = open.textColumns;
    quint32 byte = open.textBytes;
    const auto place = [&](int width, int length) {
        if (breaksBefore(openRows.last, column, width))
            addRow(openRows, {column, byte, openRows.last.row + 1});
        column += width;
        byte += quint32(length);
    };
    const auto placeAscii = [&](qsizetype count) {
        // Rows begin every wrap columns (or right away after a glyph wider than a row).
        const qint64 end = column + count;
        for (qint64 start = std::max(openRows.last.column + wrap, column); start < end;
             start += wrap)
            addRow(openRows, {start, quint32(byte + (start - column)), openRows.last.row + 1});
        column = end;
        byte += quint32(count);
    };
    const char16_t *c16 = piece.utf16();
    for (qsizetype i = 0; i < piece.size(); ++i) {
        char32_t c = c16[i];
        if (c < 0x80) {
            qsizetype run = i + 1;
            while (run < piece.size() && c16[run] < 0x80)
                ++run;
            placeAscii(run - i);
            i = run - 1;
            continue;
        }
        if (c < 0x1100) { // everything below the first wide block is narrow
            place(1, c < 0x800 ? 2 : 3);
            continue;
        }
        // Characters outside the basic plane also take the walk: one column, two code units.
        int length = 3;
        if (QChar::isHighSurrogate(c)) {
            c = QChar::surrogateToUcs4(c16[i], c16[i + 1]);
            ++i;
            length = 4;
            open.hasWide = true;
        }
        const bool isWideChar = isWide(c);
        open.hasWide = open.hasWide || isWideChar;
        place(isWideChar ? wide : 1, length);
    }
    open.textColumns = quint32(column);
    open.textBytes = byte;
}

char *LogStore::growOpenLine(qsizetype extra)
{
    // Text lives in blocks of a megabyte or more, so that no append copies closed lines. A
    // block that holds nothing but the open line grows in place; otherwise the open line moves
    // to a new block. Either way its room doubles, so that a long line costs in proportion to
    // its length however it arrives.
    constexpr qsizetype blockSize = 1 << 20;
    const qsizetype held = open.textBytes;
    if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < extra) {
        const qsizetype room = std::max(blockSize, 2 * (held + extra));
        if (!blocks.empty() && open.offset == 0) {
            blocks.back().reserve(room);
        } else {
            QByteArray block;
            block.reserve(room);
            if (!blocks.empty()) {
                QByteArray &old = blocks.back();
                block.append(old.constData() + open.offset, held);
                old.truncate(open.offset);
                // Give back the room of a long line that moved out.
                if (old.capacity() - old.size() > old.capacity() / 8)
                    old.squeeze();
            }
            blocks.push_back(std::move(block));
            open.block = quint32(blocks.size() - 1);
            open.offset = 0;
        }
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
    const auto line = qsizetype(lines.size()) - 1;
    rowEnds.push_back(rowsBefore(line) + rowsFrom(open, openRows.last));
    if (needsIndex(open)) {
        indexes.push_back({line, std::move(openRows)});
        openRows = RowIndex();
    } else {
        openRows.marks.resize(1);
        openRows.last = RowMark();
    }
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
        if (l.isAscii()) { // columns are bytes
            out = QString::fromLatin1(bytesOf(l) + from, stop - from);
        } else {
            quint32 first = l.textBytes, last = l.textBytes;
            walk(l, markAtColumn(line, from),
                 [&](const RowMark &, qint64 column, quint32 byte, int) {
                     if (column >= stop) {
                         last = byte;
                         return false;
                     }
                     first = std::min(first, column >= from ? byte : l.textBytes);
                     return true;
                 });
            out = QString::fromUtf8(bytesOf(l) + first, qsizetype(last) - qsizetype(first));
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
    Position found{p.line, -1};
    qint64 end = 0;
    walk(l, markAtColumn(p.line, direction > 0 ? p.column : p.column - 1),
         [&](const RowMark &, qint64 column, quint32, int width) {
             const qint64 next = column + width;
             end = next;
             if (direction > 0 && column >= p.column)
                 found.column = next;
             else if (direction < 0 && next >= p.column)
                 found.column = column;
             return found.column < 0;
         });
    if (found.column < 0)
        found.column = direction > 0 ? end + 1 : end;
    return found;
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
        // What a short write left is written again, so that a failing device says why.
        for (qsizetype done = 0; done < buffer.size();) {
            const qint64 written = out.write(buffer.constData() + done, buffer.size() - done);
            if (written <= 0)
                return false;
            done += written;
        }
        buffer.clear();
        return true;
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
    for (const IndexedLine &indexed : indexes)
        held += qint64(indexed.rows.marks.capacity() * sizeof(RowMark));
    held += qint64(openRows.marks.capacity() * sizeof(RowMark));
    return held + qint64(lines.capacity() * sizeof(Line)) +
           qint64(rowEnds.capacity() * sizeof(qint64)) +
           qint64(indexes.capacity() * sizeof(IndexedLine));
}

// ---- Wrapping -------------------------------------------------------------------------------

template <typename Visit> void LogStore::walk(const Line &l, RowMark from, Visit visit) const
{
    const char *text = bytesOf(l);
    const char *p = text + from.byte;
    const char *stop = text + l.textBytes;
    RowMark row = from;
    qint64 column = from.column;
    while (p < stop) {
        const auto byte = quint32(p - text);
        const int width = isWide(nextCodePoint(p)) ? wide : 1;
        if (breaksBefore(row, column, width))
            row = {column, byte, row.row + 1};
        if (!visit(row, column, byte, width))
            return;
        column += width;
    }
}

void LogStore::addRow(RowIndex &index, const RowMark &row) const
{
    index.last = row;
    if (row.row % rowsPerMark == 0)
        index.marks.push_back(row);
}

LogStore::RowIndex LogStore::indexText(const Line &l) const
{
    RowIndex index;
    if (l.isAscii()) { // a row every wrap columns
        for (qint64 start = wrap; start < l.textColumns; start += wrap)
            addRow(index, {start, quint32(start), index.last.row + 1});
        return index;
    }
    walk(l, RowMark(), [&](const RowMark &row, qint64, quint32, int) {
        if (row.row != index.last.row)
            addRow(index, row);
        return true;
    });
    return index;
}

const LogStore::RowIndex *LogStore::indexOf(qsizetype line) const
{
    if (line >= qsizetype(lines.size()))
        return &openRows;
    const auto found =
        std::lower_bound(indexes.begin(), indexes.end(), line,
                         [](const IndexedLine &indexed, qsizetype l) { return indexed.line < l; });
    return found != indexes.end() && found->line == line ? &found->rows : nullptr;
}

LogStore::RowMark LogStore::markAtColumn(qsizetype line, qint64 column) const
{
    const RowIndex *index = indexOf(line);
    if (!index)
        return RowMark();
    const auto after =
        std::upper_bound(index->marks.begin(), index->marks.end(), column,
                         [](qint64 c, const RowMark &mark) { return c < mark.column; });
    return after == index->marks.begin() ? RowMark() : *(after - 1);
}

LogStore::RowMark LogStore::lastRowStart(qsizetype line) const
{
    if (const RowIndex *index = indexOf(line))
        return index->last;
    RowMark last;
    walk(record(line), RowMark(), [&](const RowMark &row, qint64, quint32, int) {
        last = row;
        return true;
    });
    return last;
}

qint64 LogStore::lastTextRowEnd(const Line &l, const RowMark &last) const
{
    // A wide character wider than a row has the row to itself, whatever the width.
    const qint64 end = last.column + wrap;
    return l.hasWide ? std::max<qint64>(end, l.textColumns) : end;
}

LogStore::RowMark LogStore::lastTextRow(const Line &l, const RowMark &walked) const
{
    // Narrow text starts a row every wrap columns: no walk needed.
    if (l.hasWide)
        return walked;
    const qint64 column = l.textColumns > 0 ? (l.textColumns - 1) / wrap * wrap : 0;
    return {column, quint32(column), quint32(column / wrap)};
}

qint64 LogStore::hexGroupsPerRow() const
{
    // A byte's trailing blank may hang past the edge; its two digits may not.
    return std::max(1, (wrap + 1) / 3);
}

qint64 LogStore::hexGroupsInTextRow(const Line &l, const RowMark &last) const
{
    if (l.textColumns == last.column)
        return hexGroupsPerRow(); // the hex run starts the row
    return (lastTextRowEnd(l, last) - l.textColumns + 1) / 3;
}

qint64 LogStore::rowsFrom(const Line &l, const RowMark &walked) const
{
    // The rows of the text part as walked; the hex run wraps between whole bytes.
    const RowMark last = lastTextRow(l, walked);
    const qint64 rest = qint64(l.hexBytes) - hexGroupsInTextRow(l, last);
    const qint64 per = hexGroupsPerRow();
    return qint64(last.row) + 1 + (rest > 0 ? (rest + per - 1) / per : 0);
}

qint64 LogStore::hexRowStart(const Line &l, const RowMark &last, qint64 k) const
{
    const qint64 groups = hexGroupsInTextRow(l, last) + (k - last.row - 1) * hexGroupsPerRow();
    return l.textColumns + 3 * groups;
}

qint64 LogStore::rowsIn(qsizetype line) const
{
    if (line < qsizetype(lines.size()))
        return rowsBefore(line + 1) - rowsBefore(line);
    return rowsFrom(open, openRows.last);
}

void LogStore::recountRows()
{
    rowsPerMark = quint32(std::max(1, markColumns / wrap));
    indexes.clear();
    qint64 total = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line &l = lines[i];
        RowMark last;
        if (l.hasWide || needsIndex(l)) {
            RowIndex index = indexText(l);
            last = index.last;
            if (needsIndex(l))
                indexes.push_back({qsizetype(i), std::move(index)});
        }
        total += rowsFrom(l, last);
        rowEnds[i] = total;
    }
    openRows = indexText(open);
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
    return rowsBefore(qsizetype(lines.size())) + rowsIn(qsizetype(lines.size()));
}

LogStore::Position LogStore::rowStart(qint64 row) const
{
    row = std::clamp<qint64>(row, 0, rowCount() - 1);
    const auto line =
        qsizetype(std::upper_bound(rowEnds.begin(), rowEnds.end(), row) - rowEnds.begin());
    const Line &l = record(line);
    const qint64 k = row - rowsBefore(line);
    const RowMark last = l.hasWide ? lastRowStart(line) : lastTextRow(l, {});
    if (k > last.row)
        return {line, hexRowStart(l, last, k)};
    if (!l.hasWide)
        return {line, k * wrap};
    if (k == last.row)
        return {line, last.column};
    // Walk from the mark of the row or the last one before it.
    const RowIndex *index = indexOf(line);
    RowMark start = index ? index->marks[std::min(size_t(k / rowsPerMark), index->marks.size() - 1)]
                          : RowMark();
    walk(l, start, [&](const RowMark &r, qint64, quint32, int) {
        start = r;
        return r.row < k;
    });
    return {line, start.column};
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
    const RowMark last = l.hasWide ? lastRowStart(p.line) : lastTextRow(l, {});
    const qint64 shared = hexGroupsInTextRow(l, last);
    qint64 k;
    if (p.column >= l.textColumns + 3 * shared) {
        k = last.row + 1 + ((p.column - l.textColumns) / 3 - shared) / hexGroupsPerRow();
    } else if (p.column >= l.textColumns || p.column >= last.column) {
        k = last.row;
    } else if (!l.hasWide) {
        k = p.column / wrap;
    } else {
        const RowMark mark = markAtColumn(p.line, p.column);
        k = mark.row;
        walk(l, mark, [&](const RowMark &r, qint64, quint32, int) {
            if (r.column > p.column)
                return false;
            k = r.row;
            return true;
        });
    }
    return rowsBefore(p.line) + std::clamp<qint64>(k, 0, rowsIn(p.line) - 1);
}
