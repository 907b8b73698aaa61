#pragma once

#include "network.h"
#include "protocol/configrecord.h"
#include "protocol/framescanner.h"
#include "protocol/payloads.h"

#include <QByteArray>
#include <QDate>

#include <array>
#include <optional>

namespace vmodule {

// What the module reads from the tool is a request.
using Request = protocol::StreamItem;
using protocol::FrameScanner;

// Status codes the simulated module reports; 0 is success everywhere.
namespace status {
constexpr quint8 ok = 0x00;
constexpr quint8 rejected = 0x01;        // configuration without its two markers
constexpr quint8 unknownNode = 0x01;     // target not in the network
constexpr quint8 unreachable = 0x02;     // no path (or not a neighbour without routing)
constexpr quint8 hopLimit = 0x03;        // the path needs more hops than allowed, or more
                                         // relays than a route reply frame holds
constexpr quint8 brokenRelayList = 0x04; // a source route that does not follow the links
constexpr quint8 malformed = 0x05;       // payload lengths that do not add up, unknown mode
} // namespace status

// A route reply carries target (2), status, a reserved byte, the relay count and two bytes per
// relay in one frame's payload.
constexpr int maxRelaysInRouteReply = (protocol::maxPayloadLength - 5) / 2;

// The module's side of every exchange, as plain bytes in and bytes out.
class ModuleBehaviour
{
public:
    explicit ModuleBehaviour(Network network = Network::standard());

    // The reply to one request; empty when the module does not answer it.
    QByteArray handle(const Request &request);

    quint16 ownAddress() const { return quint16(record[8] | (record[9] << 8)); }
    // The serial settings stored in the record (byte 13): rate, parity position (0 none, 1 odd,
    // 2 even) and two stop bits.
    struct SerialSettings
    {
        qint32 baudRate = 9600;
        int parity = 0;
        bool twoStopBits = false;
    };
    SerialSettings serialSettings() const;
    // False, and the record kept, for a rate outside the module's list or a parity beyond 2.
    bool setSerialSettings(const SerialSettings &settings);
    void setVersion(quint8 main, quint8 sub);
    // Sent as packed decimal, one digit per half-byte, and the year as its last two digits:
    // the tool reads them after "20".
    static constexpr int firstReleaseYear = 2000;
    static constexpr int lastReleaseYear = 2099;
    // False, and the date kept, for an invalid date or a year the reply cannot carry.
    bool setReleaseDate(const QDate &date);

    protocol::ConfigRecord record;
    std::array<quint8, protocol::whitelistPayloadSize> whitelist;
    Network network;
    bool inConfigMode = false;
    // A fault switch: the next data send reports this status instead of its own.
    std::optional<quint8> failNextSend;

    // What the module answers to the configuration-mode bytes: a plain-text acknowledgement.
    static QByteArray configModeAnswer() { return QByteArrayLiteral("OK\r\n"); }

private:
    QByteArray routeSearch(const QByteArray &payload) const;
    QByteArray dataSend(const QByteArray &payload);
    // Status of a path to `target` within `maxHops`, and the path when there is one.
    quint8 findRoute(quint16 target, int maxHops, QList<quint16> *path) const;

    quint8 versionMain = 0x10, versionSub = 0x02;
    quint8 year = 0x14, month = 0x03, day = 0x25;
};

} // namespace vmodule
