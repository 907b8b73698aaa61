#include "protocol/replyframe.h"

#include "protocol/payloads.h"

#include <QStringList>

namespace protocol {

namespace {

constexpr int headerSize = 4; // group, reserved, code, length

constexpr quint8 reply(quint8 code)
{
    return code | replyBit;
}

struct Branch
{
    quint8 group;
    quint8 replyCode;
    ReplyKind kind;
    int minimumLength; // checksum included
    int longestLength; // checksum included
};

// Every reply the tool knows, with the smallest frame that holds the bytes its kind carries and
// the longest it can be. A failed route search ends at its status; a successful one carries
// its relay count and relays.
constexpr Branch branches[] = {
    {group::module, reply(code::writeConfig), ReplyKind::ConfigWritten, 6, 6},
    {group::module, reply(code::readConfig), ReplyKind::ConfigRead, 21, 21},
    {group::module, reply(code::readVersion), ReplyKind::Version, 12, 12},
    {group::module, reply(code::resetModule), ReplyKind::Reset, 6, 6},
    {group::whitelist, reply(code::writeWhitelist), ReplyKind::WhitelistWritten, 6, 6},
    {group::whitelist, reply(code::readWhitelist), ReplyKind::WhitelistRead, 20, 20},
    {group::network, reply(code::sendData), ReplyKind::DataSent, 8, 8},
    {group::network, reply(code::routeSearch), ReplyKind::RouteFound, 8, rxBufferCapacity},
};
constexpr int routeSuccessMinimumLength = 10;

const Branch *findBranch(quint8 group, quint8 replyCode)
{
    for (const Branch &branch : branches) {
        if (branch.group == group && branch.replyCode == replyCode)
            return &branch;
    }
    return nullptr;
}

// Byte positions of the values, as the module lays them out.
constexpr int statusAt = 4;        // written, reset
constexpr int targetLowAt = 4;     // network replies: target low, high, status
constexpr int networkStatusAt = 6; //
constexpr int relayCountAt = 8;    // route found: 0x00 at 7, then the count and the relays
constexpr int firstRelayAt = 9;
constexpr int versionMainAt = 5; // version: 0x00, main, sub, 0x00, day, month, year
constexpr int versionSubAt = 6;
constexpr int dayAt = 8;
constexpr int monthAt = 9;
constexpr int yearAt = 10;
constexpr int payloadAt = 4; // configuration record, whitelist entries

} // namespace

bool ReplyFrame::isReadable() const
{
    constexpr ReplyFaults unreadable = ReplyFault::NoHeader | ReplyFault::TooLong |
                                       ReplyFault::BadChecksum | ReplyFault::UnknownReply |
                                       ReplyFault::ShortForKind;
    return kind != ReplyKind::Unrecognised && !(faults & unreadable);
}

bool isBcdByte(quint8 byte)
{
    return (byte >> 4) <= 9 && (byte & 0x0f) <= 9;
}

int minimumReplyLength(quint8 group, quint8 replyCode, quint8 status)
{
    const Branch *branch = findBranch(group, replyCode);
    if (!branch)
        return 0;
    if (branch->kind == ReplyKind::RouteFound && status == 0)
        return routeSuccessMinimumLength;
    return branch->minimumLength;
}

int longestReplyLength(QByteArrayView request)
{
    if (request.size() < headerSize)
        return rxBufferCapacity;
    const Branch *branch = findBranch(quint8(request[0]), reply(quint8(request[2])));
    return branch ? branch->longestLength : rxBufferCapacity;
}

bool answers(QByteArrayView request, QByteArrayView reply)
{
    if (request.size() < frameOverhead || reply.size() < frameOverhead)
        return false;
    if (reply[0] != request[0] || quint8(reply[2]) != (quint8(request[2]) | replyBit))
        return false;
    if (quint8(request[0]) != group::network)
        return true;
    // Route and data replies name their target; a late answer for another node is not ours.
    constexpr int withTarget = targetLowAt + 2 + 1;
    if (request.size() < withTarget || reply.size() < withTarget)
        return false;
    return reply[targetLowAt] == request[targetLowAt] &&
           reply[targetLowAt + 1] == request[targetLowAt + 1];
}

ReplyFrame decodeReplyFrame(QByteArrayView bytes)
{
    ReplyFrame r;
    const int n = int(bytes.size());
    const auto *b = reinterpret_cast<const quint8 *>(bytes.data());
    r.size = n;
    if (n > rxBufferCapacity)
        r.faults |= ReplyFault::TooLong;
    if (!checksumMatches(bytes))
        r.faults |= ReplyFault::BadChecksum;
    if (n > 0)
        r.group = b[0];
    if (n > 2)
        r.code = b[2];
    if (n < headerSize) {
        r.faults |= ReplyFault::NoHeader;
        return r;
    }
    if (b[1] != 0x00)
        r.faults |= ReplyFault::ReservedByteSet;
    if (frameOverhead + b[3] != n)
        r.faults |= ReplyFault::LengthMismatch;
    const Branch *branch = findBranch(r.group, r.code);
    if (!branch) {
        r.faults |= ReplyFault::UnknownReply;
        return r;
    }
    r.kind = branch->kind;

    // The last byte is the checksum: a value counts only when it ends before it.
    const auto holds = [n](int index) { return index < n - 1; };
    const auto wordAt = [b](int lowAt) { return HexWord{b[lowAt + 1], b[lowAt]}; };

    switch (r.kind) {
    case ReplyKind::ConfigWritten:
    case ReplyKind::Reset:
    case ReplyKind::WhitelistWritten:
        if (holds(statusAt))
            r.status = b[statusAt];
        break;
    case ReplyKind::ConfigRead:
        if (holds(payloadAt + configRecordSize - 1)) {
            ConfigRecord record;
            std::copy(b + payloadAt, b + payloadAt + configRecordSize, record.begin());
            r.record = record;
            r.config = decodeConfigRecord(b + payloadAt);
        }
        break;
    case ReplyKind::Version:
        if (holds(yearAt)) {
            r.version =
                ModuleVersion{b[versionMainAt], b[versionSubAt], b[yearAt], b[monthAt], b[dayAt]};
            if (!isBcdByte(b[yearAt]) || !isBcdByte(b[monthAt]) || !isBcdByte(b[dayAt]))
                r.faults |= ReplyFault::DateNotBcd;
        }
        break;
    case ReplyKind::WhitelistRead:
        if (holds(payloadAt + whitelistPayloadSize - 1)) {
            for (int entry = 0; entry < whitelistEntries; ++entry)
                r.whitelist << wordAt(payloadAt + 3 * entry);
        }
        break;
    case ReplyKind::DataSent:
    case ReplyKind::RouteFound:
        if (holds(targetLowAt + 1))
            r.target = wordAt(targetLowAt);
        if (holds(networkStatusAt))
            r.status = b[networkStatusAt];
        if (r.kind == ReplyKind::RouteFound && r.status == 0 && holds(relayCountAt)) {
            r.relayCount = b[relayCountAt];
            for (int i = 0; i < *r.relayCount && holds(firstRelayAt + 2 * i + 1); ++i)
                r.relays << wordAt(firstRelayAt + 2 * i);
            if (r.relays.size() < *r.relayCount)
                r.faults |= ReplyFault::MissingRelays;
        }
        break;
    case ReplyKind::Unrecognised:
        break;
    }
    if (n < minimumReplyLength(r.group, r.code, r.status.value_or(0)))
        r.faults |= ReplyFault::ShortForKind;
    return r;
}

QString replyFaultText(ReplyFaults faults)
{
    static const std::pair<ReplyFault, const char *> words[] = {
        {ReplyFault::NoHeader, "shorter than a frame header"},
        {ReplyFault::TooLong, "longer than the receive buffer"},
        {ReplyFault::BadChecksum, "bad checksum"},
        {ReplyFault::ReservedByteSet, "reserved byte not zero"},
        {ReplyFault::UnknownReply, "no known reply"},
        {ReplyFault::LengthMismatch, "length byte disagrees with the frame"},
        {ReplyFault::ShortForKind, "too short for its kind"},
        {ReplyFault::MissingRelays, "fewer relays than announced"},
        {ReplyFault::DateNotBcd, "release date not in BCD digits"},
    };
    QStringList parts;
    for (const auto &[fault, word] : words) {
        if (faults.testFlag(fault))
            parts << QLatin1String(word);
    }
    return parts.join(QLatin1String(", "));
}

QString versionNumberText(const ModuleVersion &v)
{
    return QString::asprintf("%x.%02x", v.main, v.sub);
}

QString releaseDateText(const ModuleVersion &v)
{
    return QString::asprintf("20%02x-%02x-%02x", v.year, v.month, v.day);
}

} // namespace protocol
