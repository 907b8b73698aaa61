#pragma once

#include "protocol/configrecord.h"
#include "protocol/replyframe.h"
#include "serial/modulelink.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

namespace serial {

// How one operation ended. Exactly one of these, once.
struct Outcome
{
    enum class Kind {
        Answered,  // a readable reply, status 0 where the reply carries one
        Failed,    // the module's status was not 0, or its reply could not be read
        NoReply,   // no reply by the last attempt's wait
        Cancelled, // cancel(), or the port went away or closed first
    };
    Kind kind = Kind::NoReply;
    QByteArray frame;           // the reply as it came, checksum included
    protocol::ReplyFrame reply; // the same, decoded
    std::optional<int> status;  // Failed: the module's status; nothing for an unreadable reply
    double latencyMs = 0;       // of the answering attempt
    int attempts = 0;           // requests sent, retries included
    LineSettings answeredAt;    // the line settings at which the answered request was sent
    QString reason;             // Cancelled: why
    // A configuration write that was verified: the record read back, and whether the session
    // followed the module to the serial settings the write gave it.
    std::optional<protocol::ConfigRecord> readBack;
    bool followed = false;

    bool answered() const { return kind == Kind::Answered; }
    // The write was verified and reads back every byte as written.
    bool verified(const protocol::ConfigRecord &written) const
    {
        return readBack && *readBack == written;
    }
};

class Session;

// One typed request in flight: retries, the reply wait and what its reply means are the
// session's, the front end only hears how it ended.
class Operation : public QObject
{
    Q_OBJECT

public:
    bool isFinished() const { return done; }
    // The link's id of the request last sent (a late reply names it).
    ModuleLink::RequestId lastRequestId() const { return lastSent; }
    const Outcome &outcome() const { return result; }
    // Ends it as Cancelled at once; a reply that comes later answers nothing.
    void cancel(const QString &reason = QStringLiteral("cancelled"));

signals:
    void finished(const serial::Outcome &outcome);

private:
    friend class Session;
    explicit Operation(Session *session);

    void ask(const QByteArray &frame, int retries);
    void onAnswered(const ModuleLink::Request &request, const QByteArray &frame, qint64 latencyNs);
    void onNoReply(const ModuleLink::Request &request);
    void onLateReply(const ModuleLink::Request &request, const QByteArray &frame);
    void finish(Outcome::Kind kind);
    void lateWindowPassed();

    Session *session;
    QByteArray frame;
    int retriesLeft = 0;
    ModuleLink::RequestId inFlight = 0;
    ModuleLink::RequestId lastSent = 0;
    std::optional<ModuleLink::RequestId> lateFor; // a late reply to it still decides the step
    LineSettings askedAt;
    Outcome result;
    bool done = false;
    // For a configuration write: what comes after the write's reply.
    enum class WriteStep { None, Write, ReadBackBefore, ReadBackAfter, ReadAfterLostReply };
    WriteStep writeStep = WriteStep::None;
    protocol::ConfigRecord written{};
    std::optional<LineSettings> newSettings; // the write changes the module's serial settings
    LineSettings previousSettings;           // the link's when the write began
    bool verify = false;
    class QTimer *lateWindow = nullptr;

    void onWriteAnswered();
    void onWriteNoReply();
    void readBack(WriteStep step, int retries);
};

// The one way every front end talks to a module over a link: typed operations, each ending in
// exactly one outcome; the reply wait, retries and the rules for late and unasked replies are
// written here once. Driven by signals alone: no local event loops.
class Session : public QObject
{
    Q_OBJECT

public:
    explicit Session(ModuleLink *link, QObject *parent = nullptr);

    ModuleLink *link() const { return moduleLink; }

    // How long a request waits for its reply; without one, derived from the line settings and
    // the request's length (a second for the module, plus both frames' time on the line).
    void setReplyWaitMs(std::optional<int> ms) { replyWait = ms; }
    int replyWaitMs(const QByteArray &request) const;
    // Requests repeated after a missing reply (data sends are repeated only when asked).
    void setRetries(int n) { retryCount = n; }
    int retries() const { return retryCount; }

    // Each returns an operation owned by the session (deleted later once finished) whose
    // finished() comes from the event loop, never from within the call.
    Operation *readConfig();
    Operation *version();
    Operation *reset();
    Operation *readWhitelist();
    Operation *writeWhitelist(QByteArrayView payload);
    Operation *routeSearch(QByteArrayView payload);
    Operation *sendData(QByteArrayView payload, std::optional<int> retries = 0);
    // Any request frame that expects a reply (its group and code decide what answers it).
    Operation *request(const QByteArray &frame, std::optional<int> retries = std::nullopt);

    struct WriteOptions
    {
        bool verify = true;
        // The record the module held before the write: only a write that changes the serial
        // settings it holds is followed. Without it, the link's settings stand for it.
        std::optional<protocol::ConfigRecord> heldBefore;
    };
    // Writes the record; with verify, reads it back. When the write gives the module other
    // serial settings it is followed there: after the write's reply, and also when that reply
    // was lost. A reply is credited to the settings its request was sent at, so a slow module
    // is never taken for one that moved.
    Operation *writeConfig(const protocol::ConfigRecord &record, const WriteOptions &options);

signals:
    // A reply that came after its request's wait had passed, for the request it answers.
    void lateReply(const serial::ModuleLink::Request &request, const QByteArray &frame,
                   double latencyMs);
    // A frame that answers no request.
    void unsolicited(const QByteArray &frame);
    // The session moved the link to the settings a configuration write gave the module.
    void followedTo(const serial::LineSettings &settings);

private:
    friend class Operation;
    Operation *start(const QByteArray &frame, int retries);

    ModuleLink *moduleLink;
    std::optional<int> replyWait;
    int retryCount = 2;
};

} // namespace serial

Q_DECLARE_METATYPE(serial::Outcome)
