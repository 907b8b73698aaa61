#include "serial/session.h"

#include "protocol/frame.h"
#include "serial/discovery.h"

#include <QTimer>

namespace serial {

namespace {

std::optional<LineSettings> serialSettingsOf(const protocol::ConfigRecord &record)
{
    return moduleSerialSettings(protocol::decodeConfigRecord(record.data()));
}

QByteArray readConfigFrame()
{
    return protocol::commandFrame(protocol::group::module, protocol::code::readConfig);
}

} // namespace

// ---- Operation --------------------------------------------------------------------------------

Operation::Operation(Session *session) : QObject(session), session(session)
{
    ModuleLink *link = session->link();
    connect(link, &ModuleLink::answered, this, &Operation::onAnswered);
    connect(link, &ModuleLink::noReply, this, &Operation::onNoReply);
    connect(link, &ModuleLink::lateReply, this, &Operation::onLateReply);
    connect(link, &ModuleLink::lost, this, [this](const QString &reason) {
        result.reason = QStringLiteral("lost the port (%1)").arg(reason);
    });
    connect(link, &ModuleLink::stateChanged, this, [this](ModuleLink::State state) {
        if (state == ModuleLink::State::Open || done)
            return;
        if (result.reason.isEmpty())
            result.reason = QStringLiteral("the port was closed");
        finish(Outcome::Kind::Cancelled);
    });
}

void Operation::cancel(const QString &reason)
{
    if (done)
        return;
    result.reason = reason;
    finish(Outcome::Kind::Cancelled);
}

void Operation::ask(const QByteArray &request, int retries)
{
    frame = request;
    retriesLeft = retries;
    ModuleLink *link = session->link();
    askedAt = link->lineSettings();
    ++result.attempts;
    const auto id = link->sendRequest(frame, session->replyWaitMs(frame));
    if (!id) {
        if (result.reason.isEmpty())
            result.reason = link->state() == ModuleLink::State::Open
                                ? QStringLiteral("the port took not every byte")
                                : QStringLiteral("the port is not open");
        finish(Outcome::Kind::Cancelled);
        return;
    }
    inFlight = lastSent = *id;
    lateFor.reset();
}

void Operation::onAnswered(const ModuleLink::Request &request, const QByteArray &reply,
                           qint64 latencyNs)
{
    if (done || request.id != inFlight)
        return;
    inFlight = 0;
    result.frame = reply;
    result.reply = protocol::decodeReplyFrame(reply);
    result.latencyMs = latencyNs / 1e6;
    result.answeredAt = askedAt;
    if (writeStep != WriteStep::None) {
        onWriteAnswered();
        return;
    }
    if (!result.reply.isReadable()) {
        finish(Outcome::Kind::Failed);
        return;
    }
    result.status = result.reply.status;
    finish(result.status.value_or(0) == 0 ? Outcome::Kind::Answered : Outcome::Kind::Failed);
}

void Operation::onNoReply(const ModuleLink::Request &request)
{
    if (done || request.id != inFlight)
        return;
    inFlight = 0;
    if (retriesLeft > 0) {
        const int left = retriesLeft - 1;
        ask(frame, left);
        return;
    }
    if (writeStep != WriteStep::None) {
        lateFor = request.id;
        onWriteNoReply();
        return;
    }
    finish(Outcome::Kind::NoReply);
}

void Operation::onLateReply(const ModuleLink::Request &request, const QByteArray &reply)
{
    if (done || !lateFor || request.id != *lateFor)
        return;
    // The reply to a request whose wait had passed, while the operation still waited for it
    // before moving on: it answers at the settings it was asked at.
    lateWindow->stop();
    inFlight = request.id;
    onAnswered(request, reply, session->link()->nowNs() - request.sentNs);
}

void Operation::finish(Outcome::Kind kind)
{
    if (done)
        return;
    done = true;
    if (lateWindow)
        lateWindow->stop();
    result.kind = kind;
    inFlight = 0;
    lateFor.reset();
    // From the event loop, never from within the call that started or cancelled it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            emit finished(result);
            deleteLater();
        },
        Qt::QueuedConnection);
}

// A configuration write: the write, then (with verify) the read back, following the module to
// the serial settings the write gave it.
void Operation::onWriteAnswered()
{
    const bool readable = result.reply.isReadable();
    switch (writeStep) {
    case WriteStep::Write:
        result.status = result.reply.status;
        if (!readable || result.status.value_or(0) != 0) {
            finish(Outcome::Kind::Failed);
            return;
        }
        if (!verify) {
            if (newSettings) {
                session->link()->setLineSettings(*newSettings);
                result.followed = true;
                emit session->followedTo(*newSettings);
            }
            finish(Outcome::Kind::Answered);
            return;
        }
        // A module that applies new serial settings at once no longer answers at the old
        // ones; one that applies them later still does. One try at the old settings tells.
        if (newSettings)
            readBack(WriteStep::ReadBackBefore, 0);
        else
            readBack(WriteStep::ReadBackAfter, session->retries());
        return;
    case WriteStep::ReadBackBefore:
    case WriteStep::ReadBackAfter:
    case WriteStep::ReadAfterLostReply:
        if (!readable || !result.reply.record) {
            finish(Outcome::Kind::Failed);
            return;
        }
        result.readBack = *result.reply.record;
        if (writeStep != WriteStep::ReadBackBefore && newSettings) {
            result.followed = true;
            emit session->followedTo(*newSettings);
        }
        finish(Outcome::Kind::Answered);
        return;
    case WriteStep::None:
        break;
    }
}

void Operation::onWriteNoReply()
{
    // Before anything moves to other settings, a late reply to the request just given up may
    // still come at the settings it was sent at: it is waited for once.
    if (!lateWindow) {
        lateWindow = new QTimer(this);
        lateWindow->setSingleShot(true);
        connect(lateWindow, &QTimer::timeout, this, &Operation::lateWindowPassed);
    }
    if (newSettings && (writeStep == WriteStep::Write || writeStep == WriteStep::ReadBackBefore)) {
        lateWindow->start(session->replyWaitMs(frame));
        return;
    }
    lateWindowPassed();
}

void Operation::lateWindowPassed()
{
    lateFor.reset();
    ModuleLink *link = session->link();
    switch (writeStep) {
    case WriteStep::Write:
    case WriteStep::ReadBackBefore:
        if (newSettings) {
            // The write's reply, or the read's at the old settings, did not come: try the
            // settings the record gives the module.
            link->setLineSettings(*newSettings);
            readBack(writeStep == WriteStep::Write ? WriteStep::ReadAfterLostReply
                                                   : WriteStep::ReadBackAfter,
                     session->retries());
            return;
        }
        break;
    case WriteStep::ReadAfterLostReply:
    case WriteStep::ReadBackAfter:
        if (newSettings) {
            // Neither settings answer: the link goes back to those the operation began at.
            link->setLineSettings(previousSettings);
        }
        break;
    case WriteStep::None:
        break;
    }
    finish(Outcome::Kind::NoReply);
}

void Operation::readBack(WriteStep step, int retries)
{
    writeStep = step;
    ask(readConfigFrame(), retries);
}

// ---- Session ----------------------------------------------------------------------------------

Session::Session(ModuleLink *link, QObject *parent) : QObject(parent), moduleLink(link)
{
    qRegisterMetaType<serial::Outcome>();
    link->setTracksLateReplies(true);
    connect(link, &ModuleLink::lateReply, this,
            [this](const ModuleLink::Request &request, const QByteArray &frame) {
                emit lateReply(request, frame, (moduleLink->nowNs() - request.sentNs) / 1e6);
            });
    connect(link, &ModuleLink::unsolicited, this, &Session::unsolicited);
}

int Session::replyWaitMs(const QByteArray &request) const
{
    return replyWait.value_or(replyDeadlineMs(request, moduleLink->lineSettings()));
}

Operation *Session::start(const QByteArray &frame, int retries)
{
    auto *operation = new Operation(this);
    operation->ask(frame, retries);
    return operation;
}

Operation *Session::request(const QByteArray &frame, std::optional<int> retries)
{
    return start(frame, retries.value_or(retryCount));
}

Operation *Session::readConfig()
{
    return request(readConfigFrame());
}

Operation *Session::version()
{
    return request(protocol::commandFrame(protocol::group::module, protocol::code::readVersion));
}

Operation *Session::reset()
{
    return request(protocol::commandFrame(protocol::group::module, protocol::code::resetModule));
}

Operation *Session::readWhitelist()
{
    return request(
        protocol::commandFrame(protocol::group::whitelist, protocol::code::readWhitelist));
}

Operation *Session::writeWhitelist(QByteArrayView payload)
{
    return request(protocol::commandFrame(protocol::group::whitelist,
                                          protocol::code::writeWhitelist, payload));
}

Operation *Session::routeSearch(QByteArrayView payload)
{
    return request(
        protocol::commandFrame(protocol::group::network, protocol::code::routeSearch, payload));
}

Operation *Session::sendData(QByteArrayView payload, std::optional<int> retries)
{
    return request(
        protocol::commandFrame(protocol::group::network, protocol::code::sendData, payload),
        retries);
}

Operation *Session::writeConfig(const protocol::ConfigRecord &record, const WriteOptions &options)
{
    auto *operation = new Operation(this);
    operation->written = record;
    operation->verify = options.verify;
    operation->previousSettings = moduleLink->lineSettings();
    // Only a write that changes the serial settings the module holds moves it.
    const auto after = serialSettingsOf(record);
    const std::optional<LineSettings> held =
        options.heldBefore ? serialSettingsOf(*options.heldBefore) : moduleLink->lineSettings();
    if (after && (!held || !sameSettings(*after, *held)) &&
        !sameSettings(*after, moduleLink->lineSettings()))
        operation->newSettings = after;
    operation->writeStep = Operation::WriteStep::Write;
    operation->ask(protocol::commandFrame(protocol::group::module, protocol::code::writeConfig,
                                          QByteArrayView(record.data(), record.size())),
                   retryCount);
    return operation;
}

} // namespace serial
