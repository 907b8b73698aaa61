#pragma once

#include "protocol/linkstats.h"
#include "serial/modulelink.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

namespace serial {

// Repeated data sends over a link, with one set of rules for the window's panel and for
// rfcfg send --count, driven by timers and the link's signals alone:
// - a send waits for its report (or its reply wait) before the next one goes: reports carry
//   no sequence number, so a second identical request in flight would take the first one's;
// - after a send without a report, the next one waits one more reply wait for the late report,
//   which is counted late for the send it answers, never taken for the next send's;
// - a tick is skipped, and counted, only when the port still holds the previous frame;
// - ticks come at the interval; one that comes while a send still waits is kept, and its send
//   goes out as soon as that one is settled;
// - a lost device pauses the run (with a reconnect wait): the send in flight counts as no reply,
//   the ticks that fall in the gap are counted missed, and the run goes on once the same link is
//   open again, or ends as Lost when the wait passes first.
class LinkTest : public QObject
{
    Q_OBJECT

public:
    enum class End {
        CountReached,    // the plan's count of ticks is done
        Stopped,         // stop() or abort()
        Lost,            // the port closed, or went away and did not come back in time
        Refused,         // the frame source had no frame to send
        DurationReached, // the plan's duration has passed
    };
    Q_ENUM(End)

    struct Plan
    {
        int intervalMs = 500;
        int replyWaitMs = 1000; // for each request, and again for a late report
        int count = 0;          // ticks (sends and skips); 0: until stopped
        qint64 durationMs = 0;  // from the start, gaps included; 0: until stopped
        // How long a run waits for its lost device to come back (someone has to reopen the
        // link); 0: a lost device ends the run.
        qint64 reconnectWaitMs = 0;
        int retries = 0;         // a send without a report is repeated this often at once
        bool firstAtOnce = true; // otherwise the first send waits one interval
    };
    // The frame of the next send, built when it goes out (the window reads its widgets then);
    // nothing ends the run as Refused.
    using FrameSource = std::function<std::optional<QByteArray>()>;

    // A time the run spent without its port.
    struct Gap
    {
        QDateTime start;
        qint64 lengthMs = 0;
        qint64 missed = 0;   // ticks of the interval that fell in it
        bool resumed = true; // false: the run ended in it
    };

    explicit LinkTest(ModuleLink *link, QObject *parent = nullptr);
    ~LinkTest() override;

    // Starts a new run at once, dropping any run still going (its sends are not reported).
    void start(const Plan &plan, FrameSource source);
    // No new send; the run ends once the send in flight is settled, and after one without a
    // report, once its late report came or its wait passed.
    void stop();
    // Ends the run now; a send in flight is left unreported.
    void abort();
    // The interval, at once.
    void setIntervalMs(int ms);
    // A tick now, as the interval timer gives them (a replay, a test).
    void tick();

    bool isRunning() const { return phase != Phase::Idle; }
    bool isPaused() const { return phase == Phase::Paused; }
    const Plan &currentPlan() const { return plan; }
    const protocol::LinkStats &stats() const { return linkStats; }

signals:
    // Sequence numbers count the run's sends from 0; a retry keeps its send's number.
    void sent(qsizetype sequence, serial::ModuleLink::RequestId id, const QByteArray &frame);
    // The send's report: its status, or nothing for a frame that is no readable report.
    void answered(qsizetype sequence, std::optional<int> status, double latencyMs);
    void noReply(qsizetype sequence);
    // A report that came after its send's reply wait; the send stays counted as no reply.
    void late(qsizetype sequence, double latencyMs);
    void skipped();
    // The device went away; the run waits for the link to open again.
    void paused();
    // The gap is over: the run goes on (resumed), or ends right after.
    void gapClosed(const serial::LinkTest::Gap &gap);
    void finished(serial::LinkTest::End end);

private:
    enum class Phase { Idle, Ready, Flushing, Awaiting, LateWindow, Paused };

    void checkFlush();
    void sendAttempt();
    void settled();
    void ready();
    void finish(End end);
    void pause();
    void resume();
    void closeGap(bool resumed);
    void onAnswered(const ModuleLink::Request &request, const QByteArray &frame, qint64 latencyNs);
    void onNoReply(const ModuleLink::Request &request);
    void onLateReply(const ModuleLink::Request &request);

    QPointer<ModuleLink> link;
    Plan plan;
    FrameSource source;
    protocol::LinkStats linkStats;
    Phase phase = Phase::Idle;
    bool stopAsked = false;
    End stopEnd = End::Stopped; // how a run asked to stop ends
    bool tracked = false;       // the link's late-reply tracking before the run
    bool tickDue = false;       // a tick came while a send was still waiting
    bool lateOwed = false;      // the last send had no report by its reply wait
    QTimer *interval = nullptr; // object name "sendTimer"
    QTimer wait;                // the flush chance's polls and the late window
    QElapsedTimer flushClock;
    QTimer durationTimer;
    QTimer reconnectTimer;
    QDateTime gapStart;
    QElapsedTimer gapClock;
    int ticks = 0;
    qsizetype sequence = -1;
    QByteArray frame;
    ModuleLink::RequestId inFlight = 0;
    int attempts = 0;
    // The run's requests that may still get a late report: the last one, by id.
    QHash<ModuleLink::RequestId, qsizetype> sequences;
};

} // namespace serial

Q_DECLARE_METATYPE(serial::LinkTest::End)
Q_DECLARE_METATYPE(serial::LinkTest::Gap)
