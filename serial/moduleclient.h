#pragma once

#include "protocol/framescanner.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>

#include <functional>

class QSerialPort;

namespace serial {

// Pairs each request with the module's reply over an open port, in blocking calls (no event
// loop needed). The byte stream goes through a frame scanner, so a reply split across reads
// is put together, noise is skipped, and a frame that does not answer the request is handed
// to the unsolicited handler instead of being taken for the answer.
//
// Every wait ends at a deadline fixed when it starts (for a reply: from its send); frames that
// keep arriving are read and handed on but never move it.
class ModuleClient
{
public:
    explicit ModuleClient(QSerialPort &port);

    enum class Outcome { Answered, NoReply, PortLost, Interrupted };
    struct Exchange
    {
        Outcome outcome = Outcome::NoReply;
        QByteArray reply;     // the answering frame, checksum included
        int attempts = 0;     // sends made, the first included
        qint64 latencyNs = 0; // from the last send to its reply
    };

    // Sends `request` and waits up to `timeoutMs` from the send for its reply; without one,
    // sends it again, up to `retries` more times.
    Exchange exchange(const QByteArray &request, int timeoutMs, int retries);

    // Reads for `ms` (0: only what has already arrived), reporting every frame as unsolicited
    // (or as late, see below). Returns NoReply when the time ran out, or why it stopped earlier.
    Outcome listen(int ms);

    // Frames that answer no pending request.
    void setUnsolicitedHandler(std::function<void(const QByteArray &)> handler)
    {
        unsolicited = std::move(handler);
    }
    // Asked between reads; true ends a wait with Outcome::Interrupted (Ctrl+C).
    void setStopRequest(std::function<bool()> stop) { stopRequested = std::move(stop); }

    // Late reports, told apart by timing alone since the protocol has no sequence number: once
    // an exchange ended without its reply, a frame that answers that request and arrives before
    // the next send is its late report. It goes to this handler, never to another send. Without
    // a handler such frames are unsolicited.
    void setLateHandler(std::function<void(const QByteArray &)> handler)
    {
        late = std::move(handler);
    }
    // True from an exchange that timed out (with a late handler set) until its late report came
    // or the next send went out.
    bool lateReportOwed() const { return !overdueRequest.isEmpty(); }
    // Reads until the owed late report came (Answered) or `ms` ran out (NoReply).
    Outcome awaitLateReport(int ms);

    // True when the port has passed on every byte written before, given up to `flushMs` to do
    // so. A line that does not drain (a far end that stopped reading) keeps bytes in the port;
    // a sender that skips its frame then builds no backlog of stale frames.
    bool previousFrameLeft(int flushMs);

    // A reply answers a request when it carries the request's group and code with bit 7 set,
    // and, for the network commands, the same target address (a reply too short to carry one
    // answers nothing).
    static bool answers(QByteArrayView request, QByteArrayView reply);

    // The rules above, for the waits and their callers.
    static qint64 replyDeadlineNs(qint64 sentNs, int timeoutMs)
    {
        return sentNs + qint64(timeoutMs) * 1'000'000;
    }
    enum class Pairing { Answer, Late, Unsolicited };
    // `pending`: the request waited for (empty between sends); `overdue`: the last request that
    // timed out and whose late report has not come (empty if none).
    static Pairing pair(QByteArrayView frame, QByteArrayView pending, QByteArrayView overdue);

private:
    // Waits until `deadlineNs` on `clock` for the reply to `request` (none: for nothing); with
    // `untilLate`, only until the owed late report came.
    Outcome await(QByteArrayView request, qint64 deadlineNs, QByteArray *reply,
                  bool untilLate = false);
    // Hands on what the scanner found; true when the awaited frame was among it.
    bool deliverFound(QByteArrayView request, QByteArray *reply, bool untilLate);
    bool readSome(int ms, bool *lost);
    bool hungUp() const;

    QSerialPort &port;
    protocol::FrameScanner scanner;
    QList<protocol::StreamItem> found;
    QElapsedTimer clock;
    qint64 lastBytesNs = 0;
    QByteArray overdueRequest;
    std::function<void(const QByteArray &)> unsolicited;
    std::function<void(const QByteArray &)> late;
    std::function<bool()> stopRequested;
};

} // namespace serial
