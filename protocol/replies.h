#pragma once

#include "protocol/configrecord.h"
#include "protocol/replyframe.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace protocol {

// A received chunk as the receive tick understands it: always its hex line, and for a
// recognised reply the text that follows it and the values it writes back into the widgets.
struct Reply
{
    using Kind = ReplyKind;
    // Unrecognised also for a known reply with a bad checksum, too short or too long.
    Kind kind = Kind::Unrecognised;
    QString text;          // shown after the hex line; empty when unrecognised
    ModuleConfig config;   // ConfigRead only
    QStringList whitelist; // WhitelistRead only: five fields, "%02x%02x"
};

// The window's reading of a decoded frame: an unreadable one is left unrecognised, the other
// faults (length byte, reserved byte, missing relays, a date that is not BCD) still show.
Reply formatReply(const ReplyFrame &frame);

// Interprets one chunk, taken as one frame from offset 0.
Reply decodeReply(QByteArrayView chunk);
// "校验错误" for a chunk that is a whole known reply but for its checksum (the link drops such a
// frame, so its request ends without a reply); empty otherwise.
QString checksumErrorText(QByteArrayView chunk);

// What the receive box gets for one chunk: "Recv->", the hex line, then the reply's text.
QString receiveLogText(QByteArrayView chunk, const Reply &reply);

} // namespace protocol
