#include "framescanner.h"

#include "protocol/frame.h"

namespace vmodule {

namespace {

bool canStartFrame(quint8 group)
{
    return group == protocol::group::module || group == protocol::group::whitelist ||
           group == protocol::group::network;
}

} // namespace

QList<Request> FrameScanner::feed(const QByteArray &bytes)
{
    buffer.append(bytes);
    return scan();
}

QList<Request> FrameScanner::dropStalledByte()
{
    if (buffer.isEmpty())
        return {};
    buffer.remove(0, 1);
    ++skipped;
    return scan();
}

QList<Request> FrameScanner::scan()
{
    QList<Request> found;
    const QByteArray configMode = protocol::enterConfigModeBytes();
    while (!buffer.isEmpty()) {
        if (buffer.startsWith(configMode)) {
            found.append({Request::Kind::ConfigMode, configMode});
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
        const int total = protocol::frameOverhead + b[3];
        if (buffer.size() < total)
            break;
        const QByteArray frame = buffer.left(total);
        if (protocol::checksumMatches(frame)) {
            found.append({Request::Kind::Frame, frame});
            buffer.remove(0, total);
        } else {
            buffer.remove(0, 1);
            ++skipped;
        }
    }
    return found;
}

} // namespace vmodule
