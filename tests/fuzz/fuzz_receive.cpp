// Arbitrary chunks through what the receive tick runs: hex line, checksum, dispatch, decoding
// and the text that goes into the receive box.
#include "protocol/frame.h"
#include "protocol/replies.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const QByteArrayView chunk(reinterpret_cast<const char *>(data), qsizetype(size));
    const protocol::Reply reply = protocol::decodeReply(chunk);
    const QString text = protocol::receiveLogText(chunk, reply);

    // Every byte is shown, in order, whatever the chunk is.
    const QString hex = QStringLiteral("Recv->") + protocol::hexLine(chunk);
    check(text.startsWith(hex));
    check(text.size() == hex.size() + reply.text.size());
    if (reply.kind == protocol::Reply::Kind::Unrecognised) {
        check(reply.text.isEmpty());
        return 0;
    }
    // Only whole, checked frames that fit the receive buffer are interpreted.
    check(size <= size_t(protocol::rxBufferCapacity));
    check(protocol::checksumMatches(chunk));
    check(int(size) >= protocol::minimumReplyLength(data[0], data[2], size > 6 ? data[6] : 0));
    check(!reply.text.isEmpty());
    if (reply.kind == protocol::Reply::Kind::WhitelistRead)
        check(reply.whitelist.size() == 5);
    return 0;
}
