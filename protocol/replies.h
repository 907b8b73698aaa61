#pragma once

#include "protocol/configrecord.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace protocol {

// A received chunk as the receive tick understands it: always its hex line, and for a
// recognised reply the text that follows it and the values it writes back into the widgets.
struct Reply
{
    enum class Kind {
        Unrecognised, // bad checksum, unknown group or code, too short or too long
        ConfigWritten,
        ConfigRead,
        Version,
        Reset,
        WhitelistWritten,
        WhitelistRead,
        DataSent,
        RouteFound,
    };
    Kind kind = Kind::Unrecognised;
    QString text;          // shown after the hex line; empty when unrecognised
    ModuleConfig config;   // ConfigRead only
    QStringList whitelist; // WhitelistRead only: five fields, "%02x%02x"
};

// Smallest chunk, checksum included, that holds every byte a reply's branch reads.
int minimumReplyLength(quint8 group, quint8 replyCode, quint8 status);

// Interprets one chunk, taken as one frame from offset 0. Chunks longer than the receive
// buffer, with a bad checksum or shorter than their branch reads are left unrecognised.
Reply decodeReply(QByteArrayView chunk);

// What the receive box gets for one chunk: "Recv->", the hex line, then the reply's text.
QString receiveLogText(QByteArrayView chunk, const Reply &reply);

} // namespace protocol
