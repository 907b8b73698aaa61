#pragma once

#include <QByteArray>
#include <QList>

namespace protocol {

// What a scanner finds in a byte stream: a command frame (request or reply), or the raw
// configuration-mode bytes.
struct StreamItem
{
    enum class Kind { Frame, ConfigMode };
    Kind kind = Kind::Frame;
    QByteArray frame; // the whole frame, checksum included
};

// Finds frames by header, length and checksum in a byte stream that may hold noise, split
// frames and several frames at once. Bytes that cannot start a frame are skipped one at a time,
// so the scanner falls back into step with the next real frame.
class FrameScanner
{
public:
    QList<StreamItem> feed(const QByteArray &bytes);
    // Gives up on a frame whose header promised more bytes than ever came.
    QList<StreamItem> dropStalledByte();
    bool hasPendingBytes() const { return !buffer.isEmpty(); }
    qsizetype skippedBytes() const { return skipped; }

private:
    QList<StreamItem> scan();
    QByteArray buffer;
    qsizetype skipped = 0;
};

} // namespace protocol
