#include "modulebehaviour.h"

#include "protocol/configfields.h"
#include "protocol/frame.h"

#include <algorithm>
#include <utility>

namespace vmodule {

using namespace protocol;

namespace {

QByteArray replyFrame(quint8 group, quint8 code, const QByteArray &payload)
{
    return commandFrame(group, code | replyBit, payload);
}

QByteArray statusPayload(quint8 status)
{
    return QByteArray(1, char(status));
}

quint16 wordAt(const QByteArray &bytes, int offset)
{
    return quint16(quint8(bytes[offset]) | (quint8(bytes[offset + 1]) << 8));
}

void appendWord(QByteArray &bytes, quint16 word)
{
    bytes.append(char(word & 0xff));
    bytes.append(char(word >> 8));
}

const QList<qint32> &uartBaudRates()
{
    return configField(QStringLiteral("uart_baud"))->values;
}

quint8 packedDecimal(int value)
{
    return quint8(((value / 10 % 10) << 4) | (value % 10));
}

} // namespace

ModuleBehaviour::ModuleBehaviour(Network network) : network(std::move(network))
{
    record = encodeConfigRecord(factoryConfig(), false).record;
    whitelist.fill(0);
    for (int n = 0; n < whitelistEntries; ++n)
        whitelist[3 * n] = whitelist[3 * n + 1] = 0xff;
    this->network.addNode(ownAddress());
}

void ModuleBehaviour::setVersion(quint8 main, quint8 sub)
{
    versionMain = main;
    versionSub = sub;
}

bool ModuleBehaviour::setReleaseDate(const QDate &date)
{
    if (!date.isValid() || date.year() < firstReleaseYear || date.year() > lastReleaseYear)
        return false;
    year = packedDecimal(date.year() % 100);
    month = packedDecimal(date.month());
    day = packedDecimal(date.day());
    return true;
}

ModuleBehaviour::SerialSettings ModuleBehaviour::serialSettings() const
{
    const ModuleConfig c = decodeConfigRecord(record.data());
    return {uartBaudRates().value(c.uartBaud), c.uartParity, c.uartStopBits != 0};
}

bool ModuleBehaviour::setSerialSettings(const SerialSettings &settings)
{
    const qsizetype position = uartBaudRates().indexOf(settings.baudRate);
    if (position < 0 || settings.parity < 0 || settings.parity > 2)
        return false;
    record[13] =
        quint8((position + 1) << 4 | settings.parity << 1 | (settings.twoStopBits ? 1 : 0));
    return true;
}

QByteArray ModuleBehaviour::handle(const Request &request)
{
    if (request.kind == Request::Kind::ConfigMode) {
        inConfigMode = true;
        return configModeAnswer();
    }
    const QByteArray &f = request.frame;
    const quint8 groupByte = quint8(f[0]), codeByte = quint8(f[2]);
    const QByteArray payload = f.mid(4, quint8(f[3]));

    if (groupByte == group::module) {
        switch (codeByte) {
        case code::writeConfig: {
            const bool valid = payload.size() == configRecordSize &&
                               quint8(payload[0]) == configMarker &&
                               quint8(payload[1]) == configMarker;
            if (valid) {
                std::copy(payload.begin(), payload.end(), record.begin());
                network.addNode(ownAddress());
            }
            return replyFrame(group::module, code::writeConfig,
                              statusPayload(valid ? status::ok : status::rejected));
        }
        case code::readConfig:
            return replyFrame(
                group::module, code::readConfig,
                QByteArray(reinterpret_cast<const char *>(record.data()), configRecordSize));
        case code::readVersion: {
            const char version[] = {0x00,      char(versionMain), char(versionSub), 0x00,
                                    char(day), char(month),       char(year)};
            return replyFrame(group::module, code::readVersion, QByteArray(version, 7));
        }
        case code::resetModule: // the stored configuration and whitelist survive a reset
            return replyFrame(group::module, code::resetModule, statusPayload(status::ok));
        }
    } else if (groupByte == group::whitelist) {
        switch (codeByte) {
        case code::writeWhitelist: {
            if (payload.size() != whitelistPayloadSize)
                return replyFrame(group::whitelist, code::writeWhitelist,
                                  statusPayload(status::malformed));
            std::copy(payload.begin(), payload.end(), whitelist.begin());
            return replyFrame(group::whitelist, code::writeWhitelist, statusPayload(status::ok));
        }
        case code::readWhitelist:
            return replyFrame(
                group::whitelist, code::readWhitelist,
                QByteArray(reinterpret_cast<const char *>(whitelist.data()), whitelistPayloadSize));
        }
    } else if (groupByte == group::network) {
        switch (codeByte) {
        case code::routeSearch:
            return routeSearch(payload);
        case code::sendData:
            return dataSend(payload);
        }
    }
    return {};
}

quint8 ModuleBehaviour::findRoute(quint16 target, int maxHops, QList<quint16> *path) const
{
    if (!network.hasNode(target))
        return status::unknownNode;
    *path = network.shortestPath(ownAddress(), target);
    if (path->isEmpty())
        return status::unreachable;
    return path->size() - 1 > maxHops ? status::hopLimit : status::ok;
}

QByteArray ModuleBehaviour::routeSearch(const QByteArray &payload) const
{
    if (payload.size() != routeSearchPayloadSize)
        return {};
    const quint16 target = wordAt(payload, 0);
    QList<quint16> path;
    quint8 result = findRoute(target, quint8(payload[2]), &path);
    QByteArray reply;
    appendWord(reply, target);
    const QList<quint16> relays = path.mid(1, path.size() - 2);
    // A real module's reply frame has room for so many relays; a longer path is refused the
    // way a hop limit refuses it, rather than cut.
    if (result == status::ok && relays.size() > maxRelaysInRouteReply)
        result = status::hopLimit;
    reply.append(char(result));
    if (result == status::ok) {
        reply.append('\0');
        reply.append(char(relays.size()));
        for (quint16 relay : relays)
            appendWord(reply, relay);
    }
    return replyFrame(group::network, code::routeSearch, reply);
}

QByteArray ModuleBehaviour::dataSend(const QByteArray &payload)
{
    if (payload.size() < 6)
        return {};
    const quint16 target = wordAt(payload, 0);
    const int maxHops = quint8(payload[3]);
    const int mode = quint8(payload[4]);
    int header = 5;
    QList<quint16> relays;
    if (mode == sourceRoutingMode) {
        const int relayCount = quint8(payload[5]);
        header = 6 + 2 * relayCount;
        for (int k = 0; k < relayCount && 7 + 2 * k < payload.size(); ++k)
            relays << wordAt(payload, 6 + 2 * k);
    }

    quint8 result = status::ok;
    if (mode > sourceRoutingMode || header >= payload.size() ||
        header + 1 + quint8(payload[header]) != payload.size()) {
        result = status::malformed;
    } else if (!network.hasNode(target)) {
        result = status::unknownNode;
    } else if (mode == 0) { // no routing: neighbours only
        result = network.linked(ownAddress(), target) || target == ownAddress()
                     ? status::ok
                     : status::unreachable;
    } else if (mode == sourceRoutingMode) {
        const QList<quint16> path = QList<quint16>{ownAddress()} + relays + QList<quint16>{target};
        for (int i = 0; i + 1 < path.size() && result == status::ok; ++i) {
            if (!network.linked(path[i], path[i + 1]))
                result = status::brokenRelayList;
        }
        if (result == status::ok && path.size() - 1 > maxHops)
            result = status::hopLimit;
    } else {
        QList<quint16> path;
        result = findRoute(target, maxHops, &path);
    }
    if (failNextSend) // a fault switch: this one send fails whatever the network says
        result = *std::exchange(failNextSend, std::nullopt);
    QByteArray reply;
    appendWord(reply, target);
    reply.append(char(result));
    return replyFrame(group::network, code::sendData, reply);
}

} // namespace vmodule
