#include "serial/linktest.h"

#include <climits>

namespace serial {

namespace {

// How long a tick lets the port pass on earlier bytes before it skips its send, and how often
// it looks meanwhile.
constexpr int flushChanceMs = 50;
constexpr int flushPollMs = 5;

} // namespace

LinkTest::LinkTest(ModuleLink *link, QObject *parent)
    : QObject(parent), link(link), interval(new QTimer(this))
{
    qRegisterMetaType<serial::LinkTest::End>();
    qRegisterMetaType<serial::LinkTest::Gap>();
    interval->setObjectName(QStringLiteral("sendTimer"));
    connect(interval, &QTimer::timeout, this, &LinkTest::tick);
    wait.setSingleShot(true);
    wait.setTimerType(Qt::PreciseTimer);
    connect(&wait, &QTimer::timeout, this, [this] {
        if (phase == Phase::Flushing)
            checkFlush();
        else if (phase == Phase::LateWindow)
            ready();
    });
    connect(link, &ModuleLink::answered, this, &LinkTest::onAnswered);
    connect(link, &ModuleLink::noReply, this, &LinkTest::onNoReply);
    connect(link, &ModuleLink::lateReply, this, &LinkTest::onLateReply);
    // A lost device (lost comes before the state change) may come back; a port closed on
    // purpose does not.
    connect(link, &ModuleLink::lost, this, [this] {
        if (isRunning() && phase != Phase::Paused && plan.reconnectWaitMs > 0)
            pause();
    });
    connect(link, &ModuleLink::stateChanged, this, [this](ModuleLink::State state) {
        if (phase == Phase::Paused) {
            if (state == ModuleLink::State::Open)
                resume();
            return;
        }
        if (state != ModuleLink::State::Open && isRunning())
            finish(End::Lost);
    });
    durationTimer.setSingleShot(true);
    durationTimer.setTimerType(Qt::PreciseTimer); // never before its time
    connect(&durationTimer, &QTimer::timeout, this, [this] {
        if (!isRunning())
            return;
        stopEnd = End::DurationReached;
        stop();
    });
    reconnectTimer.setSingleShot(true);
    connect(&reconnectTimer, &QTimer::timeout, this, [this] {
        if (phase == Phase::Paused)
            finish(End::Lost);
    });
}

LinkTest::~LinkTest()
{
    if (isRunning() && link)
        link->setTracksLateReplies(tracked);
}

void LinkTest::start(const Plan &newPlan, FrameSource frameSource)
{
    if (isRunning())
        abort();
    plan = newPlan;
    source = std::move(frameSource);
    linkStats = {};
    stopAsked = tickDue = lateOwed = false;
    stopEnd = End::Stopped;
    ticks = 0;
    sequence = -1;
    inFlight = 0;
    sequences.clear();
    tracked = link->isTrackingLateReplies();
    link->setTracksLateReplies(true);
    phase = Phase::Ready;
    interval->start(plan.intervalMs);
    if (plan.durationMs > 0)
        durationTimer.start(int(std::min<qint64>(plan.durationMs, INT_MAX)));
    if (plan.firstAtOnce)
        tick();
}

void LinkTest::stop()
{
    if (!isRunning())
        return;
    stopAsked = true;
    interval->stop();
    if (phase == Phase::Ready || phase == Phase::Flushing || phase == Phase::Paused)
        finish(stopEnd);
}

void LinkTest::abort()
{
    if (isRunning())
        finish(End::Stopped);
}

void LinkTest::pause()
{
    // The link dropped its requests: the send in flight will hear nothing more.
    if (phase == Phase::Awaiting) {
        linkStats.addNoReply();
        emit noReply(sequence);
    }
    interval->stop();
    wait.stop();
    inFlight = 0;
    tickDue = lateOwed = false;
    sequences.clear();
    phase = Phase::Paused;
    gapStart = QDateTime::currentDateTime();
    gapClock.start();
    reconnectTimer.start(int(std::min<qint64>(plan.reconnectWaitMs, INT_MAX)));
    emit paused();
}

void LinkTest::closeGap(bool resumed)
{
    reconnectTimer.stop();
    Gap gap;
    gap.start = gapStart;
    gap.lengthMs = gapClock.elapsed();
    gap.missed = plan.intervalMs > 0 ? gap.lengthMs / plan.intervalMs : 0;
    gap.resumed = resumed;
    linkStats.addGap(gap.missed);
    emit gapClosed(gap);
}

void LinkTest::resume()
{
    closeGap(true);
    phase = Phase::Ready;
    // The next send one interval on: a device that just came back gets a moment.
    interval->start(plan.intervalMs);
}

void LinkTest::setIntervalMs(int ms)
{
    plan.intervalMs = ms;
    if (interval->isActive())
        interval->start(ms);
}

void LinkTest::tick()
{
    if (phase != Phase::Ready) {
        // A send still waits for its report or its late report: this tick's send follows it.
        tickDue = isRunning() && phase != Phase::Paused;
        return;
    }
    if (plan.count > 0 && ticks >= plan.count) {
        finish(End::CountReached);
        return;
    }
    ++ticks;
    tickDue = false;
    phase = Phase::Flushing;
    flushClock.start();
    checkFlush();
}

void LinkTest::checkFlush()
{
    if (link->state() != ModuleLink::State::Open) {
        finish(End::Lost);
        return;
    }
    if (link->canSendNow()) {
        attempts = 0;
        sendAttempt();
        return;
    }
    if (flushClock.elapsed() >= std::min(plan.replyWaitMs, flushChanceMs)) {
        linkStats.addSkipped();
        emit skipped();
        settled();
        return;
    }
    wait.start(flushPollMs);
}

void LinkTest::sendAttempt()
{
    if (attempts == 0) {
        const std::optional<QByteArray> next = source ? source() : std::nullopt;
        // The source may have ended the run itself (a box, a switch turned off).
        if (phase != Phase::Flushing)
            return;
        if (!next) {
            finish(End::Refused);
            return;
        }
        frame = *next;
    }
    ++attempts;
    const auto id = link->sendRequest(frame, plan.replyWaitMs);
    if (!id) {
        if (link->state() != ModuleLink::State::Open) {
            finish(End::Lost);
            return;
        }
        // The port took not every byte: no send was made, so none is recorded.
        linkStats.addSkipped();
        emit skipped();
        settled();
        return;
    }
    if (attempts == 1)
        ++sequence;
    inFlight = *id;
    lateOwed = false;
    sequences.clear();
    sequences.insert(*id, sequence);
    phase = Phase::Awaiting;
    emit sent(sequence, *id, frame);
}

void LinkTest::onAnswered(const ModuleLink::Request &request, const QByteArray &reply,
                          qint64 latencyNs)
{
    if (phase != Phase::Awaiting || request.id != inFlight)
        return;
    inFlight = 0;
    const double latencyMs = latencyNs / 1e6;
    const std::optional<int> status = linkStats.addReply(reply, latencyMs);
    emit answered(sequence, status, latencyMs);
    settled();
}

void LinkTest::onNoReply(const ModuleLink::Request &request)
{
    if (phase != Phase::Awaiting || request.id != inFlight)
        return;
    inFlight = 0;
    if (attempts <= plan.retries && !stopAsked) {
        sendAttempt();
        return;
    }
    lateOwed = true;
    linkStats.addNoReply();
    emit noReply(sequence);
    settled();
}

void LinkTest::onLateReply(const ModuleLink::Request &request)
{
    const auto found = sequences.constFind(request.id);
    if (found == sequences.cend() || !lateOwed)
        return;
    const qsizetype answering = *found;
    sequences.erase(found);
    lateOwed = false;
    linkStats.addLate();
    emit late(answering, (link->nowNs() - request.sentNs) / 1e6);
    if (phase == Phase::LateWindow)
        ready();
}

void LinkTest::settled()
{
    // The late report is waited for while it is still the link's overdue one: a request sent
    // meanwhile (another command of the window) takes its place.
    if (lateOwed && link->lateReplyOwed()) {
        phase = Phase::LateWindow;
        wait.start(plan.replyWaitMs);
        return;
    }
    ready();
}

void LinkTest::ready()
{
    wait.stop();
    phase = Phase::Ready;
    if (stopAsked)
        finish(stopEnd);
    else if (plan.count > 0 && ticks >= plan.count)
        finish(End::CountReached);
    else if (tickDue)
        tick();
}

void LinkTest::finish(End end)
{
    if (phase == Phase::Paused)
        closeGap(false);
    durationTimer.stop();
    reconnectTimer.stop();
    interval->stop();
    wait.stop();
    phase = Phase::Idle;
    inFlight = 0;
    tickDue = lateOwed = false;
    sequences.clear();
    if (link)
        link->setTracksLateReplies(tracked);
    emit finished(end);
}

} // namespace serial
