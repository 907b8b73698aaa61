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

    // Sends `request` and waits up to `timeoutMs` for its reply; without one, sends it again,
    // up to `retries` more times.
    Exchange exchange(const QByteArray &request, int timeoutMs, int retries);

    // Reads for `ms` (0: only what has already arrived), reporting every frame as unsolicited.
    // Returns the outcome NoReply when the time ran out, or why it stopped earlier.
    Outcome listen(int ms);

    // Frames that answer no pending request.
    void setUnsolicitedHandler(std::function<void(const QByteArray &)> handler)
    {
        unsolicited = std::move(handler);
    }
    // Asked between reads; true ends a wait with Outcome::Interrupted (Ctrl+C).
    void setStopRequest(std::function<bool()> stop) { stopRequested = std::move(stop); }

    // A reply answers a request when it carries the request's group and code with bit 7 set,
    // and, for the network commands, the same target address.
    static bool answers(QByteArrayView request, QByteArrayView reply);

private:
    // Waits until `deadlineNs` on `clock` for the reply to `request` (none: for nothing).
    Outcome await(QByteArrayView request, qint64 deadlineNs, QByteArray *reply);
    bool readSome(int ms, bool *lost);
    bool hungUp() const;

    QSerialPort &port;
    protocol::FrameScanner scanner;
    QList<protocol::StreamItem> found;
    QElapsedTimer clock;
    qint64 lastBytesNs = 0;
    std::function<void(const QByteArray &)> unsolicited;
    std::function<bool()> stopRequested;
};

} // namespace serial
