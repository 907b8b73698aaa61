#include "replywords.h"

#include "protocol/configfields.h"
#include "protocol/frame.h"
#include "protocol/framedecode.h"

namespace rfcfg {

using protocol::ReplyKind;

namespace {

QStringList wordTexts(const QList<protocol::HexWord> &words)
{
    QStringList texts;
    for (const protocol::HexWord word : words)
        texts << protocol::formatHexWord(word);
    return texts;
}

} // namespace

int replyStatus(const protocol::ReplyFrame &reply)
{
    return reply.status ? int(*reply.status) : -1;
}

QString statusWords(int status)
{
    return protocol::statusWords(status);
}

VersionInfo versionOf(const protocol::ModuleVersion &v)
{
    return {protocol::versionNumberText(v), protocol::releaseDateText(v)};
}

QStringList whitelistOf(const protocol::ReplyFrame &reply)
{
    return wordTexts(reply.whitelist);
}

RouteInfo routeOf(const protocol::ReplyFrame &reply)
{
    return {protocol::formatHexWord(reply.target.value_or(protocol::HexWord{})), replyStatus(reply),
            wordTexts(reply.relays)};
}

QString replyDefect(const protocol::ReplyFrame &reply)
{
    if (reply.kind == ReplyKind::Version && reply.version &&
        reply.faults.testFlag(protocol::ReplyFault::DateNotBcd))
        return QString::asprintf("its release date bytes %02x %02x %02x are not decimal digits",
                                 reply.version->day, reply.version->month, reply.version->year);
    if (reply.kind == ReplyKind::RouteFound && reply.relayCount &&
        reply.faults.testFlag(protocol::ReplyFault::MissingRelays))
        return QStringLiteral("it counts %1 relays but carries %2")
            .arg(*reply.relayCount)
            .arg(reply.relays.size());
    return {};
}

QString routeText(const RouteInfo &route)
{
    return protocol::routeWords(route.target, route.status, route.relays);
}

QString describeFrame(QByteArrayView frame)
{
    return protocol::describeFrame(frame);
}

} // namespace rfcfg
