#pragma once

#include "protocol/frame.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace protocol {

constexpr int routeSearchPayloadSize = 4;
constexpr int whitelistEntries = 5;
constexpr int whitelistPayloadSize = 3 * whitelistEntries;
constexpr int maxRelays = 6;
// The module's working area for one data-send payload.
constexpr int dataSendArea = 120;
constexpr int sourceRoutingMode = 3;

// Target low, target high, hop count (list index + 1), 0x03.
std::array<quint8, routeSearchPayloadSize> routeSearchPayload(HexWord target, int hopIndex);

// Positions of the whitelist texts that are neither empty (no entry) nor four hex digits.
QList<int> invalidWhitelistEntries(const QStringList &fields);

// Five entries of address low, address high, 0x00; an empty field stands for FF FF. Nothing
// when a field is neither empty nor four hex digits.
std::optional<std::array<quint8, whitelistPayloadSize>> whitelistPayload(const QStringList &fields);

struct DataSendRequest
{
    HexWord target;
    bool ackRequested = false;
    int hopIndex = 0;       // the hop limit minus one
    int routeMode = 0;      // 0 no routing, 1 automatic, 2 forced, 3 source routing
    QList<HexWord> relays;  // only carried in source routing
    int declaredLength = 0; // the count the data label shows
    QByteArray data;        // the bytes the data text converts to
};

// How many data bytes fit the payload area for a routing mode and relay count.
int dataSendCapacity(int routeMode, int relayCount);

// The data-send payload, or nothing when the declared length does not fit the payload area.
// Declared bytes that the data do not supply go out as 0x00.
std::optional<QByteArray> dataSendPayload(const DataSendRequest &request);

} // namespace protocol
