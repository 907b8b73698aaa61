#pragma once

#include "modulebehaviour.h"
#include "protocol/framescanner.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vmodule {

// A radio module on the far side of a pseudo-terminal. The tool opens devicePath() like any
// serial port; the module reads frames from the stream and answers each with one write.
// devicePath() is a link to the terminal that hangUp() removes, as a USB serial device's path
// vanishes when it is pulled: a reopen then fails whatever terminal numbers others take.
class VirtualModule : public QObject
{
    Q_OBJECT

public:
    explicit VirtualModule(Network network = Network::standard(), QObject *parent = nullptr);
    ~VirtualModule() override;

    bool start();
    QString devicePath() const { return linkPath; }
    // The pseudo-terminal itself, /dev/pts/N.
    QString terminalPath() const { return slavePath; }
    ModuleBehaviour &behaviour() { return module; }
    quint64 requestsHandled() const { return handled; }

    // Replies the line has not taken yet. A real module drops what the line cannot take: beyond
    // this many the oldest waiting replies are dropped and counted.
    static constexpr int maxQueuedReplies = 256;
    qsizetype queuedReplies() const { return outgoing.size(); }
    quint64 repliesDropped() const { return dropped; }

    // With the line check on, the module takes in only what arrives while the line's rate and
    // stop bits are those of its record, as a real module's receiver does; what arrives
    // otherwise is garbage to it and dropped. Parity cannot be checked on a pseudo-terminal.
    void setLineCheck(bool on) { lineCheck = on; }
    bool lineMatchesRecord() const;
    quint64 ignoredByteCount() const { return ignored; }

    // Faults, for tests and demonstrations; each "next" fault applies to one reply.
    void splitNextReply(int gapMs = 600) { splitGapMs = gapMs; }
    void corruptNextChecksum() { corruptNext = true; }
    void dropNextReply() { dropNext = true; }
    void failNextDataSend(quint8 status) { module.failNextSend = status; }
    void setReplyDelay(int ms) { replyDelayMs = ms; }
    void sendUnsolicited(const QByteArray &bytes) { writeNow(bytes); }
    // Answers requests in place of the module's own behaviour (a replayed capture); it sends
    // what it answers with sendUnsolicited(). None: the module answers.
    using Responder = std::function<void(const Request &request)>;
    void setResponder(Responder responder) { respond = std::move(responder); }
    void sendNoise(int count);
    // Closes the master side, as a pulled cable does; the tool sees its device vanish.
    void hangUp();

signals:
    void requestReceived(const QByteArray &bytes);
    // Bytes the module's scanner skipped: noise, or a header given up (item.kind tells).
    void bytesSkipped(const protocol::StreamItem &item);
    void replySent(const QByteArray &bytes);
    void replyDropped(const QByteArray &bytes);
    // Bytes that came while the line's rate or stop bits were not the record's.
    void bytesIgnored(const QByteArray &bytes, unsigned lineBaudRate, bool lineTwoStopBits);

private:
    void onReadable();
    void handle(const QList<Request> &requests);
    // Gives up the first pending byte once it has waited its full time, and so on for the
    // bytes behind it: each is measured from its own arrival, not from the latest read.
    void giveUpStalledBytes();
    qint64 firstPendingByteAgeMs();
    void deliver(QByteArray reply);
    void writeNow(const QByteArray &bytes);
    void flushOutgoing();

    ModuleBehaviour module;
    Responder respond;
    FrameScanner scanner;
    QTimer stallTimer;
    QElapsedTimer clock;
    // Each read, as the stream offset just past its bytes and when it came.
    struct Arrival
    {
        quint64 end;
        qint64 atMs;
    };
    std::deque<Arrival> arrivals;
    quint64 bytesRead = 0;
    quint64 bytesInRequests = 0; // the scanner's other bytes are its skipped ones
    QSocketNotifier *notifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    // Messages the line has not taken in full yet; the first may be partly written.
    QList<QByteArray> outgoing;
    qsizetype outgoingWritten = 0;
    int masterFd = -1;
    int slaveFd = -1; // held so the line stays up while the tool closes and reopens it
    QString slavePath;
    std::unique_ptr<QTemporaryDir> linkDir;
    QString linkPath;
    quint64 dropped = 0;
    quint64 handled = 0;
    int splitGapMs = -1;
    bool corruptNext = false;
    bool dropNext = false;
    int replyDelayMs = 0;
    bool lineCheck = false;
    quint64 ignored = 0;
};

} // namespace vmodule
