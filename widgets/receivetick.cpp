#include "widgets/receivetick.h"

#include "serial/session.h"
#include "widgets/logview.h"

#include <algorithm>

using namespace protocol;

ReceiveTick::ReceiveTick(serial::Session *session, LogView *log, ShowReply showReply,
                         QObject *parent)
    : QObject(parent), link(session->link()), log(log), showReply(std::move(showReply))
{
    connect(link, &serial::ModuleLink::bytesArrived, this,
            [this](const QByteArray &bytes) { arrivedSinceTick += bytes; });
    // Every frame is shown as it came; what it answers is the session's to say.
    connect(link, &serial::ModuleLink::answered, this,
            [this](const serial::ModuleLink::Request &request, const QByteArray &frame) {
                framesSinceTick.append({frame, {}, hidden && hidden(request.id, frame)});
            });
    connect(link, &serial::ModuleLink::unsolicited, this, [this](const QByteArray &frame) {
        framesSinceTick.append({frame, {}});
    });
    connect(session, &serial::Session::lateReply, this,
            [this](const serial::ModuleLink::Request &request, const QByteArray &frame,
                   double latencyMs) {
                const QString sender =
                    overdueSender.first == request.id ? overdueSender.second : QString();
                framesSinceTick.append({frame, tr("迟到的应答：%1（%2 ms）\n")
                                                   .arg(sender)
                                                   .arg(QString::number(latencyMs, 'f', 1))});
            });
}

void ReceiveTick::noteUnanswered(serial::ModuleLink::RequestId id, const QString &sender)
{
    unansweredSinceTick << sender;
    overdueSender = {id, sender}; // its reply may still come, late
}

void ReceiveTick::clear()
{
    arrivedSinceTick.clear();
    framesSinceTick.clear();
    unansweredSinceTick.clear();
    overdueSender = {};
    shownAhead.clear();
}

void ReceiveTick::tick()
{
    if (arrivedSinceTick.isEmpty() && framesSinceTick.isEmpty() && unansweredSinceTick.isEmpty())
        return;
    QByteArray chunk = std::exchange(arrivedSinceTick, {});
    QList<ArrivedFrame> frames = std::exchange(framesSinceTick, {});
    const QStringList unanswered = std::exchange(unansweredSinceTick, {});
    if (hidden) {
        frames.removeIf([&](const ArrivedFrame &arrived) {
            if (!arrived.hide)
                return false;
            const qsizetype at = chunk.indexOf(arrived.frame);
            if (at >= 0)
                chunk.remove(at, arrived.frame.size());
            return true;
        });
        if (chunk.isEmpty() && frames.isEmpty() && unanswered.isEmpty())
            return;
    }

    QString text = chunk.isEmpty() ? QString() : receiveLogText(chunk, Reply{});
    for (const ArrivedFrame &arrived : frames) {
        if (shownAhead.removeOne(arrived.frame))
            continue;
        text += arrived.lateNote + showReply(decodeReply(arrived.frame));
    }
    if (!link->holdsUnfinishedFrame())
        shownAhead.clear(); // no frame the link finds later can hold those bytes

    // A chunk that reads as one reply is shown as one, even where the link found no frame in
    // it (its length byte disagrees, or the link still waits on bytes before it).
    const auto foundIn = [&chunk](const ArrivedFrame &arrived) {
        return chunk.contains(arrived.frame);
    };
    if (!chunk.isEmpty() && std::none_of(frames.cbegin(), frames.cend(), foundIn)) {
        const Reply reply = decodeReply(chunk);
        text += checksumErrorText(chunk);
        if (reply.kind != Reply::Kind::Unrecognised) {
            text += showReply(reply);
            if (link->holdsUnfinishedFrame())
                shownAhead << chunk;
        }
    }

    for (const QString &sender : unanswered)
        text += tr("无应答：") + sender + QLatin1Char('\n');
    if (!text.isEmpty())
        log->appendText(text);
}
