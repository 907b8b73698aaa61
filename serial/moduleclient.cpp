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
    // Route and data replies name their target; a late answer for another node is not ours,
    // nor is one too short to name any.
    constexpr int targetEnd = 6; // the target's two bytes at 4 and 5, then at least a checksum
    if (quint8(request[0]) == protocol::group::network)
        return request.size() > targetEnd && reply.size() > targetEnd && reply[4] == request[4] &&
               reply[5] == request[5];
    return true;
}

ModuleClient::Pairing ModuleClient::pair(QByteArrayView frame, QByteArrayView pending,
                                         QByteArrayView overdue)
{
    if (!pending.isEmpty() && answers(pending, frame))
        return Pairing::Answer;
    if (!overdue.isEmpty() && answers(overdue, frame))
        return Pairing::Late;
    return Pairing::Unsolicited;
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

bool ModuleClient::deliverFound(QByteArrayView request, QByteArray *reply, bool untilLate)
{
    while (!found.isEmpty()) {
        const protocol::StreamItem item = found.takeFirst();
        const Pairing pairing =
            item.kind == protocol::StreamItem::Kind::Frame
                ? pair(item.frame, reply ? request : QByteArrayView(), overdueRequest)
                : Pairing::Unsolicited;
        switch (pairing) {
        case Pairing::Answer:
            *reply = item.frame;
            return true;
        case Pairing::Late:
            overdueRequest.clear(); // one report per request; a further one is unsolicited
            late(item.frame);
            if (untilLate)
                return true;
            break;
        case Pairing::Unsolicited:
            if (unsolicited)
                unsolicited(item.frame);
            break;
        }
    }
    return false;
}

ModuleClient::Outcome ModuleClient::await(QByteArrayView request, qint64 deadlineNs,
                                          QByteArray *reply, bool untilLate)
{
    for (;;) {
        if (deliverFound(request, reply, untilLate))
            return Outcome::Answered;
        if (stopRequested && stopRequested())
            return Outcome::Interrupted;
        const qint64 remainingNs = deadlineNs - clock.nsecsElapsed();
        if (remainingNs <= 0) {
            // One last look at what the driver holds already, and no more: a module that keeps
            // sending must not hold the wait open.
            bool lost = false;
            readSome(0, &lost);
            if (deliverFound(request, reply, untilLate))
                return Outcome::Answered;
            if (lost)
                return Outcome::PortLost;
            // A stray header may still hold back a complete reply behind it.
            while (scanner.hasPendingBytes() && found.isEmpty())
                found = scanner.dropStalledByte();
            return deliverFound(request, reply, untilLate) ? Outcome::Answered : Outcome::NoReply;
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
    // Whatever arrived before the request cannot answer it (but may be an earlier one's late
    // report).
    result.outcome = listen(0);
    if (result.outcome != Outcome::NoReply)
        return result;
    // From this send on, a report that matches answers it.
    overdueRequest.clear();
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
        result.outcome = await(request, replyDeadlineNs(sentNs, timeoutMs), &result.reply);
        if (result.outcome == Outcome::Answered)
            result.latencyNs = clock.nsecsElapsed() - sentNs;
        if (result.outcome != Outcome::NoReply)
            return result;
    }
    if (late)
        overdueRequest = request;
    return result;
}

ModuleClient::Outcome ModuleClient::listen(int ms)
{
    return await({}, clock.nsecsElapsed() + qint64(ms) * 1'000'000, nullptr);
}

ModuleClient::Outcome ModuleClient::awaitLateReport(int ms)
{
    if (!lateReportOwed())
        return Outcome::NoReply;
    return await({}, clock.nsecsElapsed() + qint64(ms) * 1'000'000, nullptr, true);
}

bool ModuleClient::previousFrameLeft(int flushMs)
{
    if (port.bytesToWrite() > 0 && !port.waitForBytesWritten(flushMs) && port.isOpen() &&
        !isDeviceLost(port.error()))
        port.clearError(); // a timeout here is the answer, not a fault of the port
    return port.bytesToWrite() == 0;
}

} // namespace serial
