#pragma once

#include <QByteArray>
#include <QList>

namespace protocol {

// What a scanner finds in a byte stream: a command frame (request or reply), or the raw
// configuration-mode bytes. A scanner that reports what it skips also hands out the bytes no
// frame holds, in stream order: noise, and the bytes of a header given up after a stall.
struct StreamItem
{
    enum class Kind { Frame, ConfigMode, Noise, GivenUp };
    Kind kind = Kind::Frame;
    QByteArray frame; // the whole frame, checksum included (or the skipped bytes)

    bool isSkipped() const { return kind == Kind::Noise || kind == Kind::GivenUp; }
};

// True when `items` hold a frame or the configuration-mode bytes, not only skipped bytes.
bool holdsFound(const QList<StreamItem> &items);
// Appends `more`, joining skipped bytes of one kind that follow each other into one item.
void appendItems(QList<StreamItem> &items, const QList<StreamItem> &more);

// Finds frames by header, length and checksum in a byte stream that may hold noise, split
// frames and several frames at once. Bytes that cannot start a frame are skipped one at a time,
// so the scanner falls back into step with the next real frame.
class FrameScanner
{
public:
    QList<StreamItem> feed(const QByteArray &bytes);
    // Gives up on a frame whose header promised more bytes than ever came.
    QList<StreamItem> dropStalledByte();
    // Gives up bytes until a frame (or the configuration-mode bytes) comes out or none wait.
    QList<StreamItem> giveUpStalledHeader();
    bool hasPendingBytes() const { return !buffer.isEmpty(); }
    qsizetype skippedBytes() const { return skipped; }

    // Off by default: skipped bytes are only counted.
    void setReportsSkipped(bool on) { reportsSkipped = on; }

private:
    QList<StreamItem> scan(StreamItem::Kind skipKind);
    void skip(qsizetype count, StreamItem::Kind kind, QList<StreamItem> &found);
    QByteArray buffer;
    qsizetype skipped = 0;
    bool reportsSkipped = false;
};

} // namespace protocol
