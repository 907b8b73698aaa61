#pragma once

#include "protocol/configrecord.h"
#include "protocol/frame.h"

#include <QByteArrayView>
#include <QFlags>
#include <QList>
#include <QString>

#include <optional>

namespace protocol {

// The replies the tool knows, by group and code.
enum class ReplyKind {
    Unrecognised, // no reply the tool knows (or too few bytes to tell)
    ConfigWritten,
    ConfigRead,
    Version,
    Reset,
    WhitelistWritten,
    WhitelistRead,
    DataSent,
    RouteFound,
};

// Why a reply frame is not well-formed; a frame may have several faults at once.
enum class ReplyFault : quint16 {
    NoHeader = 0x0001,        // fewer than the four header bytes
    TooLong = 0x0002,         // more than the receive buffer holds
    BadChecksum = 0x0004,     // the last byte is not the XOR of the others
    ReservedByteSet = 0x0008, // byte 1 is not 0x00
    UnknownReply = 0x0010,    // group and code are no reply the tool knows
    LengthMismatch = 0x0020,  // the length byte disagrees with the frame's size
    ShortForKind = 0x0040,    // ends before the bytes its kind carries
    MissingRelays = 0x0080,   // announces more relays than it carries
    DateNotBcd = 0x0100,      // a release-date byte is not two BCD digits
};
Q_DECLARE_FLAGS(ReplyFaults, ReplyFault)
Q_DECLARE_OPERATORS_FOR_FLAGS(ReplyFaults)

// The module's firmware version and release date as the version reply carries them: each byte
// is shown as two hex digits (the version's main number as hex without padding).
struct ModuleVersion
{
    quint8 main = 0;
    quint8 sub = 0;
    quint8 year = 0;  // BCD, years after 2000
    quint8 month = 0; // BCD
    quint8 day = 0;   // BCD
};

// One reply frame decoded once: every value the frame carries, and what is wrong with it.
// A value is present only when its bytes arrived before the checksum byte, so a short or
// otherwise malformed frame still yields what it holds.
struct ReplyFrame
{
    ReplyKind kind = ReplyKind::Unrecognised; // from group and code, even when malformed
    quint8 group = 0;                         // byte 0, when present
    quint8 code = 0;                          // byte 2, when present
    int size = 0;                             // bytes, checksum included
    ReplyFaults faults;

    // The result byte: ConfigWritten, Reset and WhitelistWritten (byte 4), DataSent and
    // RouteFound (byte 6). 0 is success.
    std::optional<quint8> status;
    // DataSent and RouteFound: the node the reply is about.
    std::optional<HexWord> target;
    std::optional<ModuleVersion> version; // Version
    std::optional<ConfigRecord> record;   // ConfigRead: the raw record
    std::optional<ModuleConfig> config;   // ConfigRead: the record decoded
    QList<HexWord> whitelist;             // WhitelistRead: the five entries (FF FF: empty)
    // RouteFound with status 0: the announced relay count and the relays the frame carries.
    std::optional<int> relayCount;
    QList<HexWord> relays;

    bool isWellFormed() const { return !faults; }
    // A known reply, checksum right, within the receive buffer, holding every value its kind
    // carries; a length or reserved byte, missing relays or a date that is not BCD may remain.
    bool isReadable() const;
};

// Takes `bytes` as one frame from offset 0 (its last byte as the checksum).
ReplyFrame decodeReplyFrame(QByteArrayView bytes);

// The faults in English words, joined by ", " ("" for none).
QString replyFaultText(ReplyFaults faults);

// The version as every front end shows it, "10.02": the main number in hex without padding,
// the sub number as two hex digits.
QString versionNumberText(const ModuleVersion &version);
// The release date, "2014-03-25": each byte as two hex digits, BCD or not.
QString releaseDateText(const ModuleVersion &version);

// True when each of the byte's two hex digits is a decimal digit.
bool isBcdByte(quint8 byte);

// Smallest frame, checksum included, that holds every byte a reply of this group and code
// carries (a route reply: with status 0 it also carries its relay count); 0 for no known reply.
int minimumReplyLength(quint8 group, quint8 replyCode, quint8 status);

// The longest reply a request can get, checksum included: the fixed length of its reply, or the
// receive buffer for a route search (its relay list is as long as the module makes it) and for
// requests that have no known reply.
int longestReplyLength(QByteArrayView request);

// A reply answers a request when it carries the request's group and the request's code with
// bit 7 set, and, for the network group, the same target address: a network frame too short to
// carry its target answers nothing.
bool answers(QByteArrayView request, QByteArrayView reply);

} // namespace protocol
