#include "replywords.h"

#include "protocol/configfields.h"
#include "protocol/frame.h"

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
    return status == 0 ? QStringLiteral("success")
                       : QString::asprintf("failure (status 0x%02x)", status);
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
    if (route.status != 0)
        return QString::asprintf("no route to %s: the module reports status 0x%02x",
                                 qPrintable(route.target), route.status);
    if (route.relays.isEmpty())
        return QStringLiteral("route to %1: direct, no relay").arg(route.target);
    return QStringLiteral("route to %1: %2 relay%3: %4")
        .arg(route.target)
        .arg(route.relays.size())
        .arg(route.relays.size() == 1 ? "" : "s")
        .arg(route.relays.join(QLatin1Char(' ')));
}

QString describeFrame(QByteArrayView frame)
{
    const protocol::ReplyFrame reply = protocol::decodeReplyFrame(frame);
    // A reply that cannot be read is described as a frame only.
    const ReplyKind kind = reply.isReadable() ? reply.kind : ReplyKind::Unrecognised;
    switch (kind) {
    case ReplyKind::ConfigWritten:
        return QStringLiteral("configuration written: ") + statusWords(replyStatus(reply));
    case ReplyKind::ConfigRead: {
        QStringList pairs;
        for (const auto &[key, value] : protocol::configValues(*reply.config, false))
            pairs << key + QLatin1Char('=') + value;
        return QStringLiteral("configuration: ") + pairs.join(QLatin1Char(' '));
    }
    case ReplyKind::Version: {
        const VersionInfo v = versionOf(*reply.version);
        return QStringLiteral("version %1, released %2").arg(v.version, v.releaseDate);
    }
    case ReplyKind::Reset:
        return QStringLiteral("reset: ") + statusWords(replyStatus(reply));
    case ReplyKind::WhitelistWritten:
        return QStringLiteral("whitelist written: ") + statusWords(replyStatus(reply));
    case ReplyKind::WhitelistRead:
        return QStringLiteral("whitelist: ") + whitelistOf(reply).join(QLatin1Char(' '));
    case ReplyKind::DataSent:
        return QStringLiteral("data to %1: ").arg(protocol::formatHexWord(*reply.target)) +
               statusWords(replyStatus(reply));
    case ReplyKind::RouteFound:
        return routeText(routeOf(reply));
    case ReplyKind::Unrecognised:
        break;
    }
    if (reply.size >= protocol::frameOverhead &&
        !reply.faults.testFlag(protocol::ReplyFault::BadChecksum))
        return QString::asprintf("frame of group 0x%02x, code 0x%02x, not a reply rfcfg knows",
                                 reply.group, reply.code);
    return QStringLiteral("bytes that are no frame");
}

} // namespace rfcfg
