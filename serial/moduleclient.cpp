#include "serial/moduleclient.h"

#include "protocol/frame.h"
#include "serial/linesettings.h"

#include <QSerialPort>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace serial {

namespace {

// Reads wait in short slices so that Ctrl+C is noticed promptly.
constexpr int sliceMs = 50;
// A frame whose header promised more bytes than arrive within this time is given up.
constexpr qint64 stallNs = 300'000'000;

} // namespace

ModuleClient::ModuleClient(QSerialPort &port) : port(port)
{
    clock.start();
}

bool ModuleClient::answers(QByteArrayView request, QByteArrayView reply)
{
    if (request.size() < protocol::frameOverhead || reply.size() < protocol::frameOverhead)
        return false;
    if (reply[0] != request[0] || quint8(reply[2]) != (quint8(request[2]) | protocol::replyBit))
        return false;
    // Route and data replies name their target; a late answer for another node is not ours.
    if (quint8(request[0]) == protocol::group::network && request.size() >= 7 && reply.size() >= 7)
        return reply[4] == request[4] && reply[5] == request[5];
    return true;
}

bool ModuleClient::hungUp() const
{
#ifdef Q_OS_UNIX
    pollfd pfd{int(port.handle()), POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) &&
           !(pfd.revents & POLLIN);
#else
    return false;
#endif
}

bool ModuleClient::readSome(int ms, bool *lost)
{
    *lost = false;
    if (port.bytesAvailable() == 0 && !port.waitForReadyRead(ms)) {
        if (!port.isOpen() || isDeviceLost(port.error())) {
            *lost = true;
            return false;
        }
        port.clearError();
        // A blocking wait sees a hang-up only as a wait without data; the descriptor tells.
        *lost = hungUp();
        return false;
    }
    const QByteArray bytes = port.readAll();
    if (bytes.isEmpty())
        return false;
    lastBytesNs = clock.nsecsElapsed();
    found += scanner.feed(bytes);
    return true;
}

ModuleClient::Outcome ModuleClient::await(QByteArrayView request, qint64 deadlineNs,
                                          QByteArray *reply)
{
    for (;;) {
        while (!found.isEmpty()) {
            const protocol::StreamItem item = found.takeFirst();
            if (reply && item.kind == protocol::StreamItem::Kind::Frame &&
                answers(request, item.frame)) {
                *reply = item.frame;
                return Outcome::Answered;
            }
            if (unsolicited)
                unsolicited(item.frame);
        }
        if (stopRequested && stopRequested())
            return Outcome::Interrupted;
        const qint64 remainingNs = deadlineNs - clock.nsecsElapsed();
        if (remainingNs <= 0 && port.bytesAvailable() == 0) {
            // One last look without waiting: the reply may be in the driver already.
            bool lost = false;
            if (readSome(0, &lost))
                continue;
            if (lost)
                return Outcome::PortLost;
            // A stray header may still hold back a complete reply behind it.
            while (scanner.hasPendingBytes() && found.isEmpty())
                found = scanner.dropStalledByte();
            if (found.isEmpty())
                return Outcome::NoReply;
            continue;
        }
        const int ms = int(std::clamp<qint64>(remainingNs / 1'000'000, 0, sliceMs));
        bool lost = false;
        if (readSome(ms, &lost))
            continue;
        if (lost)
            return Outcome::PortLost;
        // Nothing came: a header that promised more bytes is noise; resynchronise on what follows.
        if (scanner.hasPendingBytes() && clock.nsecsElapsed() - lastBytesNs > stallNs) {
            while (scanner.hasPendingBytes() && found.isEmpty())
                found = scanner.dropStalledByte();
        }
    }
}

ModuleClient::Exchange ModuleClient::exchange(const QByteArray &request, int timeoutMs, int retries)
{
    Exchange result;
    // Whatever arrived before the request cannot answer it.
    result.outcome = listen(0);
    if (result.outcome != Outcome::NoReply)
        return result;
    for (int attempt = 0; attempt <= retries; ++attempt) {
        const qint64 sentNs = clock.nsecsElapsed();
        ++result.attempts;
        if (port.write(request) != request.size() || !port.waitForBytesWritten(timeoutMs)) {
            if (!port.isOpen() || isDeviceLost(port.error())) {
                result.outcome = Outcome::PortLost;
                return result;
            }
            port.clearError();
        }
        result.outcome = await(request, sentNs + qint64(timeoutMs) * 1'000'000, &result.reply);
        if (result.outcome == Outcome::Answered)
            result.latencyNs = clock.nsecsElapsed() - sentNs;
        if (result.outcome != Outcome::NoReply)
            return result;
    }
    return result;
}

ModuleClient::Outcome ModuleClient::listen(int ms)
{
    return await({}, clock.nsecsElapsed() + qint64(ms) * 1'000'000, nullptr);
}

} // namespace serial
