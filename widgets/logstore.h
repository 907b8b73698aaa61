#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <vector>

class QIODevice;

// The text of a log box, kept compact: each line's text as UTF-8, and the trailing run of
// "hh " groups of a hex line as the raw bytes it shows (a third of the size). Lines are
// wrapped by arithmetic on display columns, as on a terminal with a fixed-pitch font: narrow
// characters take one column, East Asian wide ones wideColumns(). Text wraps by character, the
// hex run only between bytes (a byte's blank may hang past the row's end). The last line is always
// open (it holds the text after the final line break, often none).
class LogStore
{
public:
    // A place in the text: a line and a display column in it.
    struct Position
    {
        qsizetype line = 0;
        qint64 column = 0;
        friend bool operator<(const Position &a, const Position &b)
        {
            return a.line < b.line || (a.line == b.line && a.column < b.column);
        }
        friend bool operator==(const Position &a, const Position &b)
        {
            return a.line == b.line && a.column == b.column;
        }
    };

    LogStore();

    // Appends at the end. linePrefix goes in front of every line this text begins.
    void append(QStringView text, QStringView linePrefix = {});
    void clear();
    bool isEmpty() const { return lines.empty() && open.textBytes == 0; }

    qsizetype lineCount() const { return qsizetype(lines.size()) + 1; }
    qint64 lineColumns(qsizetype line) const;
    QString lineText(qsizetype line) const;
    // The characters of the line whose first column lies in [from, to).
    QString slice(qsizetype line, qint64 from, qint64 to) const;
    // Text between two places, lines joined by '\n'.
    QString text(Position from, Position to) const;
    Position end() const { return {lineCount() - 1, lineColumns(lineCount() - 1)}; }
    // The place one character before or after, crossing line ends.
    Position step(Position p, int direction) const;

    // The whole text, as appended.
    QString plainText() const;
    // The whole text as UTF-8, streamed line by line; false when the device fails.
    bool writeUtf8(QIODevice &out) const;
    // Bytes held, for the curious.
    qint64 bytesHeld() const;

    void setWrapColumns(int columns);
    int wrapColumns() const { return wrap; }
    void setWideColumns(int columns);
    int wideColumns() const { return wide; }
    qint64 rowCount() const;
    // The line and first column of a visual row, and the column where the row ends.
    Position rowStart(qint64 row) const;
    qint64 rowEnd(qint64 row) const;
    qint64 rowOf(Position p) const;

    // East Asian wide and fullwidth characters (CJK, kana, hangul, fullwidth punctuation).
    static bool isWide(char32_t c);

private:
    struct Line
    {
        quint32 block = 0; // where the text starts
        quint32 offset = 0;
        quint32 textBytes = 0; // UTF-8 text before the hex run
        quint32 textColumns = 0;
        quint32 hexBytes = 0; // raw bytes shown as "hh " each
        bool hasWide = false; // wide characters or surrogate pairs: columns need a walk
        qint64 columns() const { return qint64(textColumns) + 3 * qint64(hexBytes); }
        bool isAscii() const { return !hasWide && textBytes == textColumns; }
    };
    // Where a visual row begins in a line's text part.
    struct RowMark
    {
        qint64 column = 0;
        quint32 byte = 0;
        quint32 row = 0;
    };
    // Every rowsPerMark-th row start of a line's text part at the current widths, so that any
    // place in a long line is a short walk from a mark; the hex run wraps by arithmetic.
    struct RowIndex
    {
        std::vector<RowMark> marks{RowMark{}};
        RowMark last; // the last row start in the text part
    };
    struct IndexedLine
    {
        qsizetype line;
        RowIndex rows;
    };

    const Line &record(qsizetype line) const
    {
        return line < qsizetype(lines.size()) ? lines[size_t(line)] : open;
    }
    qint64 rowsBefore(qsizetype line) const { return line == 0 ? 0 : rowEnds[size_t(line - 1)]; }
    qint64 rowsIn(qsizetype line) const;
    qint64 rowsFrom(const Line &l, const RowMark &last) const;
    qint64 lastTextRowEnd(const Line &l, const RowMark &last) const;
    // The last row start of the text part: as walked for a line with wide characters, by
    // arithmetic otherwise.
    RowMark lastTextRow(const Line &l, const RowMark &walked) const;
    // Hex bytes wrap as whole "hh " groups: how many fill a row, how many fit after the text.
    qint64 hexGroupsPerRow() const;
    qint64 hexGroupsInTextRow(const Line &l, const RowMark &last) const;
    // The first column of row k of a line, for a row below its text part.
    qint64 hexRowStart(const Line &l, const RowMark &last, qint64 k) const;
    bool needsIndex(const Line &l) const { return !l.isAscii() && l.textBytes >= indexBytes; }
    const RowIndex *indexOf(qsizetype line) const;
    RowMark markAtColumn(qsizetype line, qint64 column) const;
    RowMark lastRowStart(qsizetype line) const;
    RowIndex indexText(const Line &l) const;
    void addRow(RowIndex &index, const RowMark &row) const;
    bool breaksBefore(const RowMark &row, qint64 column, int width) const
    {
        // A wide character that does not fit goes whole to the next row.
        return column - row.column + width > wrap && column > row.column;
    }
    // Calls visit(row, column, byte, width) for each character of the text part from a row
    // start on, while it returns true.
    template <typename Visit> void walk(const Line &l, RowMark from, Visit visit) const;

    void closeOpenLine();
    void closeOpenLineWith(QStringView piece);
    void appendToOpenLine(QStringView piece);
    void recountRows();

    const char *bytesOf(const Line &l) const
    {
        // Lines ended before any text arrived point past the blocks and hold nothing.
        return l.block < blocks.size() ? blocks[l.block].constData() + l.offset : "";
    }
    char *growOpenLine(qsizetype extra);

    // Lines shorter than this are walked from their start: that costs no more than a row.
    static constexpr quint32 indexBytes = 1024;
    static constexpr int markColumns = 256;

    std::vector<QByteArray> blocks;
    std::vector<Line> lines;          // closed lines
    std::vector<qint64> rowEnds;      // rows up to and including each closed line
    std::vector<IndexedLine> indexes; // long non-ASCII closed lines, in line order
    Line open;
    RowIndex openRows; // kept up to date as text arrives
    bool openBegun = false;
    int wrap = 80;
    int wide = 2;
    quint32 rowsPerMark = 3;
};
