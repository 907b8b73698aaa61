#include "serial/mapfeeder.h"

#include "protocol/frame.h"
#include "protocol/replyframe.h"

#include <QDateTime>

namespace serial {

namespace {

quint16 addressOf(protocol::HexWord word)
{
    return quint16(word.high << 8 | word.low);
}

bool isRequest(const QByteArray &frame, quint8 code)
{
    return frame.size() > 2 && quint8(frame[0]) == protocol::group::network &&
           quint8(frame[2]) == code;
}

// The target of a network request: payload bytes 0 (low) and 1 (high).
std::optional<quint16> requestTarget(const QByteArray &frame)
{
    if (frame.size() < 6)
        return std::nullopt;
    return quint16(quint8(frame[4]) | quint8(frame[5]) << 8);
}

} // namespace

MapFeeder::MapFeeder(ModuleLink *link, network::NetworkMap *map, QObject *parent)
    : QObject(parent), networkMap(map), now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    connect(link, &ModuleLink::answered, this,
            [this](const ModuleLink::Request &, const QByteArray &reply, qint64 ns) {
                learn(reply, ns / 1e6);
            });
    connect(link, &ModuleLink::lateReply, this,
            [this, link](const ModuleLink::Request &request, const QByteArray &reply) {
                learn(reply, (link->nowNs() - request.sentNs) / 1e6);
            });
    connect(link, &ModuleLink::unsolicited, this,
            [this](const QByteArray &reply) { learn(reply, -1); });
    connect(link, &ModuleLink::noReply, this, [this](const ModuleLink::Request &request) {
        const auto target = requestTarget(request.frame);
        if (!target)
            return;
        if (isRequest(request.frame, protocol::code::routeSearch))
            networkMap->addRouteNoReply(*target, now());
        else if (isRequest(request.frame, protocol::code::sendData))
            networkMap->addDataResult(*target, network::Result::noReply, -1, now());
        else
            return;
        emit changed(*target);
    });
}

void MapFeeder::learn(const QByteArray &frame, double latencyMs)
{
    const protocol::ReplyFrame reply = protocol::decodeReplyFrame(frame);
    if (!reply.isReadable())
        return;
    switch (reply.kind) {
    case protocol::ReplyKind::RouteFound: {
        const quint16 target = addressOf(*reply.target);
        // A route whose frame holds fewer relays than it counts is no route to draw.
        if (*reply.status == 0 && reply.relayCount.value_or(-1) != reply.relays.size())
            return;
        QList<quint16> relays;
        for (const protocol::HexWord &r : reply.relays)
            relays << addressOf(r);
        networkMap->addRouteResult(target, *reply.status, relays, latencyMs, now());
        emit changed(target);
        return;
    }
    case protocol::ReplyKind::DataSent: {
        const quint16 target = addressOf(*reply.target);
        networkMap->addDataResult(target, *reply.status, latencyMs, now());
        emit changed(target);
        return;
    }
    case protocol::ReplyKind::ConfigRead: {
        const quint16 own = addressOf(reply.config->moduleAddress);
        if (!networkMap->ownAddress() || *networkMap->ownAddress() == own) {
            networkMap->setOwnAddress(own, now());
            emit changed(network::ownNode);
        }
        emit ownAddressRead(own);
        return;
    }
    default:
        return;
    }
}

} // namespace serial
