#include "protocol/framescanner.h"

#include "protocol/frame.h"

namespace protocol {

namespace {

bool canStartFrame(quint8 group)
{
    return group == group::module || group == group::whitelist || group == group::network;
}

} // namespace

QList<StreamItem> FrameScanner::feed(const QByteArray &bytes)
{
    buffer.append(bytes);
    return scan();
}

QList<StreamItem> FrameScanner::dropStalledByte()
{
    if (buffer.isEmpty())
        return {};
    buffer.remove(0, 1);
    ++skipped;
    return scan();
}

QList<StreamItem> FrameScanner::scan()
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
            buffer.remove(0, 1);
            ++skipped;
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
            buffer.remove(0, 1);
            ++skipped;
        }
    }
    return found;
}

} // namespace protocol
