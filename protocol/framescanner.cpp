#include "protocol/framescanner.h"

#include "protocol/frame.h"

namespace protocol {

namespace {

bool canStartFrame(quint8 group)
{
    return group == group::module || group == group::whitelist || group == group::network;
}

} // namespace

bool holdsFound(const QList<StreamItem> &items)
{
    for (const StreamItem &item : items) {
        if (!item.isSkipped())
            return true;
    }
    return false;
}

void appendItems(QList<StreamItem> &items, const QList<StreamItem> &more)
{
    for (const StreamItem &item : more) {
        if (item.isSkipped() && !items.isEmpty() && items.constLast().kind == item.kind)
            items.last().frame.append(item.frame);
        else
            items.append(item);
    }
}

QList<StreamItem> FrameScanner::feed(const QByteArray &bytes)
{
    buffer.append(bytes);
    return scan(StreamItem::Kind::Noise);
}

QList<StreamItem> FrameScanner::dropStalledByte()
{
    if (buffer.isEmpty())
        return {};
    QList<StreamItem> found;
    skip(1, StreamItem::Kind::GivenUp, found);
    // What the given-up header held up to the next header went with it.
    appendItems(found, scan(StreamItem::Kind::GivenUp));
    return found;
}

QList<StreamItem> FrameScanner::giveUpStalledHeader()
{
    QList<StreamItem> found;
    while (hasPendingBytes() && !holdsFound(found))
        appendItems(found, dropStalledByte());
    return found;
}

void FrameScanner::skip(qsizetype count, StreamItem::Kind kind, QList<StreamItem> &found)
{
    if (reportsSkipped) {
        if (!found.isEmpty() && found.constLast().kind == kind)
            found.last().frame.append(buffer.constData(), count);
        else
            found.append({kind, buffer.left(count)});
    }
    buffer.remove(0, count);
    skipped += count;
}

QList<StreamItem> FrameScanner::scan(StreamItem::Kind skipKind)
{
    QList<StreamItem> found;
    const QByteArray configMode = enterConfigModeBytes();
    while (!buffer.isEmpty()) {
        if (buffer.startsWith(configMode)) {
            found.append({StreamItem::Kind::ConfigMode, configMode});
            buffer.remove(0, configMode.size());
            continue;
        }
        if (configMode.startsWith(buffer))
            break; // perhaps the start of "---"
        const auto *b = reinterpret_cast<const quint8 *>(buffer.constData());
        const bool header = canStartFrame(b[0]) && (buffer.size() < 2 || b[1] == 0x00);
        if (!header) {
            skip(1, skipKind, found);
            continue;
        }
        if (buffer.size() < 4)
            break;
        const int total = frameOverhead + b[3];
        if (buffer.size() < total)
            break;
        const QByteArray frame = buffer.left(total);
        if (checksumMatches(frame)) {
            found.append({StreamItem::Kind::Frame, frame});
            buffer.remove(0, total);
        } else {
            skip(1, skipKind, found);
        }
    }
    return found;
}

} // namespace protocol
