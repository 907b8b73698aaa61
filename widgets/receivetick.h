#pragma once

#include "protocol/replies.h"
#include "serial/modulelink.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

class LogView;
namespace serial {
class Session;
}

// What the receive box shows at each tick of the window's read timer: the bytes since the last
// one, then the frames that became complete meanwhile (in stream order, a late reply with whose
// it is), then a line for each request left unanswered.
class ReceiveTick : public QObject
{
    Q_OBJECT

public:
    // Fills the widgets a reply carries; its text.
    using ShowReply = std::function<QString(const protocol::Reply &)>;
    ReceiveTick(serial::Session *session, LogView *log, ShowReply showReply, QObject *parent);

    // A request without a reply by its wait: its line on the next tick, and its name for a late
    // reply.
    void noteUnanswered(serial::ModuleLink::RequestId id, const QString &sender);
    // Replies for which it holds are left out of the box, their bytes with them (a link test's
    // healthy reports, when only failures are logged).
    using Hidden = std::function<bool(serial::ModuleLink::RequestId, const QByteArray &frame)>;
    void setHidden(Hidden hide) { hidden = std::move(hide); }
    // Writes what the tick shows.
    void tick();
    // What a closed port had not shown yet goes with it, as its unread bytes always did.
    void clear();

private:
    serial::ModuleLink *link;
    LogView *log;
    ShowReply showReply;
    Hidden hidden;

    QByteArray arrivedSinceTick;
    struct ArrivedFrame
    {
        QByteArray frame;
        QString lateNote; // for a late reply: whose it is and how late
        bool hide = false;
    };
    QList<ArrivedFrame> framesSinceTick;
    QStringList unansweredSinceTick;
    // The sender's text of the last request left unanswered (its late reply may still come).
    std::pair<serial::ModuleLink::RequestId, QString> overdueSender;
    // Chunks shown as a reply before the link found their frame (it was still busy with bytes
    // before them): when it finds one of them, it is not shown again.
    QList<QByteArray> shownAhead;
};
