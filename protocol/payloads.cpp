#include "protocol/payloads.h"

namespace protocol {

std::array<quint8, routeSearchPayloadSize> routeSearchPayload(HexWord target, int hopIndex)
{
    return {target.low, target.high, quint8(unsigned(hopIndex) + 1), 0x03};
}

QList<int> invalidWhitelistEntries(const QStringList &fields)
{
    QList<int> positions;
    for (int n = 0; n < whitelistEntries; ++n) {
        const QString text = fields.value(n);
        if (!text.isEmpty() && !hexWordFromText(text))
            positions << n;
    }
    return positions;
}

std::optional<std::array<quint8, whitelistPayloadSize>> whitelistPayload(const QStringList &fields)
{
    if (!invalidWhitelistEntries(fields).isEmpty())
        return std::nullopt;
    std::array<quint8, whitelistPayloadSize> payload{};
    for (int n = 0; n < whitelistEntries; ++n) {
        const QString text = fields.value(n);
        const HexWord address = text.isEmpty() ? HexWord{0xff, 0xff} : *hexWordFromText(text);
        payload[3 * n] = address.low;
        payload[3 * n + 1] = address.high;
        payload[3 * n + 2] = 0x00;
    }
    return payload;
}

static int headerLength(int routeMode, int relayCount)
{
    return routeMode == sourceRoutingMode ? 6 + 2 * relayCount : 5;
}

int dataSendCapacity(int routeMode, int relayCount)
{
    return dataSendArea - 1 - headerLength(routeMode, relayCount);
}

std::optional<QByteArray> dataSendPayload(const DataSendRequest &r)
{
    const bool sourceRouted = r.routeMode == sourceRoutingMode;
    const int relayCount = sourceRouted ? int(r.relays.size()) : 0;
    if (relayCount > maxRelays || r.declaredLength < 0 ||
        r.declaredLength > dataSendCapacity(r.routeMode, relayCount))
        return std::nullopt;

    QByteArray p;
    p.reserve(dataSendArea);
    p.append(char(r.target.low));
    p.append(char(r.target.high));
    p.append(char(r.ackRequested ? 1 : 0));
    p.append(char(quint8(unsigned(r.hopIndex) + 1)));
    p.append(char(quint8(r.routeMode)));
    if (sourceRouted) {
        p.append(char(relayCount));
        for (const HexWord relay : r.relays) {
            p.append(char(relay.low));
            p.append(char(relay.high));
        }
    }
    p.append(char(r.declaredLength));
    p.append(r.data.left(r.declaredLength));
    p.append(r.declaredLength - qMin<int>(r.declaredLength, int(r.data.size())), '\0');
    return p;
}

} // namespace protocol
