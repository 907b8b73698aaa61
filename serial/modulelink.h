#pragma once

#include "protocol/framescanner.h"
#include "serial/openfailure.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <optional>

class QTimer;

namespace serial {

// Rate, parity and stop bits; a link always runs 8 data bits without flow control.
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Milliseconds to wait for the reply to `request`: a second for the module to act, plus the
// request's and its longest possible reply's time on the line.
int replyDeadlineMs(QByteArrayView request, const LineSettings &settings);

// The one connection to a module: owns the port (object name "myCom"), scans the received
// stream for frames and pairs each request with its reply. Widget-free, so the window, rfcfg
// and any number of links side by side in one event loop share it.
class ModuleLink : public QObject
{
    Q_OBJECT

public:
    enum class State { Closed, Open, Closing };
    Q_ENUM(State)

    using RequestId = quint64;
    struct Request
    {
        RequestId id = 0;
        QByteArray frame;
        qint64 sentNs = 0; // on the link's clock, see nowNs()
        int timeoutMs = 0;
    };

    explicit ModuleLink(QObject *parent = nullptr);
    ~ModuleLink() override;

    QSerialPort *port() const { return serialPort; }
    // The path open() was given (the port may open through another name).
    QString portPath() const { return openedPath; }
    State state() const { return linkState; }
    LineSettings lineSettings() const { return settings; }

    // Opens the port with these settings; the reason when it did not open. Only from Closed.
    std::optional<OpenFailure> open(const QString &portName, const LineSettings &lineSettings);
    // Applies the settings, at once while open; false when the port refused one.
    bool setLineSettings(const LineSettings &lineSettings);
    // Drops the pending requests and closes once the bytes already handed to the port are out,
    // within their time on the line plus a margin; Closing until then.
    void close();

    // Sends one frame that expects an answer (without blocking): its id, or nothing when the link
    // is not open or the port did not take every byte. Without `timeoutMs`, replyDeadlineMs()
    // applies.
    std::optional<RequestId> sendRequest(const QByteArray &frame,
                                         std::optional<int> timeoutMs = std::nullopt);
    // Bytes that expect no frame back (the configuration-mode bytes); true when all were taken.
    bool writeRaw(const QByteArray &bytes);
    // Open and every byte handed to the port is out: a repeater skips a send otherwise.
    bool canSendNow() const;
    bool writeQueueEmpty() const;
    int pendingCount() const { return int(pending.size()); }
    // Received bytes wait for the rest of a frame (or for the stall to give them up): a frame
    // found later may still hold them.
    bool holdsUnfinishedFrame() const { return scanner.hasPendingBytes(); }

    // Late replies, for callers that wait on after a request (a link test, a session). The protocol
    // carries no sequence number, so they are told apart by timing alone: with tracking on, the
    // last request whose deadline passed unanswered stays overdue until the next send, and a frame
    // that answers nothing pending but answers it is its late reply (lateReply, once; unsolicited
    // otherwise). Off by default.
    void setTracksLateReplies(bool on);
    bool isTrackingLateReplies() const { return tracksLateReplies; }
    bool lateReplyOwed() const { return overdue.has_value(); }

    qint64 nowNs() const { return clock.nsecsElapsed(); }

signals:
    // Every read while open, as it came.
    void bytesArrived(const QByteArray &bytes);
    // What the scanner made of the reads, in stream order and before it is handled: frames, the
    // configuration-mode bytes, noise and given-up headers (for a capture).
    void scanned(const protocol::StreamItem &item);
    // Bytes the port took: a request's frame or the configuration-mode bytes.
    void sent(const QByteArray &bytes);
    // A frame answered the oldest pending request it answers; latency from its send.
    void answered(const serial::ModuleLink::Request &request, const QByteArray &replyFrame,
                  qint64 latencyNs);
    // Once per request whose deadline passed unanswered.
    void noReply(const serial::ModuleLink::Request &request);
    // A frame (or the configuration-mode bytes) that answers nothing pending.
    void unsolicited(const QByteArray &frame);
    // With late replies tracked: the frame that answers the overdue request.
    void lateReply(const serial::ModuleLink::Request &request, const QByteArray &frame);
    // The device went away while open: the link is closed and its requests dropped. A lost
    // device while closing only ends the wait.
    void lost(const QString &reason);
    void stateChanged(serial::ModuleLink::State state);

private:
    void readIncoming();
    void handleFrame(const QByteArray &frame);
    void onPortError(QSerialPort::SerialPortError error);
    void onBytesWritten();
    void onTimer();
    void expireDue();
    void takeReplyBehindStrayHeader(qint64 now);
    void dropStalledHeader();
    void handleAfterStall(const QList<protocol::StreamItem> &items, qint64 now);
    // Reports each item and handles its frames; false when the link closed or went away.
    bool handleItems(const QList<protocol::StreamItem> &items);
    void resetScanner();
    void rearmTimer();
    void finishClose();
    void setState(State state);
    qint64 stallLimitNs() const;

    struct Pending
    {
        Request request;
        qint64 deadlineNs = 0;
    };

    QSerialPort *serialPort = nullptr;
    QTimer *timer = nullptr; // the next request deadline, stalled header or close bound
    State linkState = State::Closed;
    LineSettings settings;
    QString openedPath;
    protocol::FrameScanner scanner;
    QList<Pending> pending; // in send order
    QElapsedTimer clock;
    RequestId lastId = 0;
    std::optional<qint64> headerSinceNs; // when the scanner's unfinished frame began
    qint64 closeByNs = 0;
    bool tracksLateReplies = false;
    std::optional<Request> overdue;
};

} // namespace serial

Q_DECLARE_METATYPE(serial::ModuleLink::Request)
