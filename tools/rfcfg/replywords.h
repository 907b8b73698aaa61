#pragma once

#include "protocol/replyframe.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Words for the module's replies, from the decoded reply frame.
namespace rfcfg {

// The status byte of a reply that carries one, or -1 for replies without a status.
int replyStatus(const protocol::ReplyFrame &reply);

// "success", or "failure (status 0x02)".
QString statusWords(int status);

struct VersionInfo
{
    QString version;     // main.sub, as "10.02"
    QString releaseDate; // "2014-03-25"
};
VersionInfo versionOf(const protocol::ModuleVersion &version);

// The five entries, "ffff" for an empty one.
QStringList whitelistOf(const protocol::ReplyFrame &reply);

struct RouteInfo
{
    QString target;
    int status = 0;
    QStringList relays; // only those whose bytes the frame holds
};
RouteInfo routeOf(const protocol::ReplyFrame &reply);
QString routeText(const RouteInfo &route);

// Why a reply that decodes still cannot be believed, or empty when nothing is wrong: a version
// whose date bytes are no decimal digit pairs, a route that counts more relays than it carries.
QString replyDefect(const protocol::ReplyFrame &reply);

// Any frame from the module in one line of English, for the monitor and unsolicited frames.
QString describeFrame(QByteArrayView frame);

} // namespace rfcfg
