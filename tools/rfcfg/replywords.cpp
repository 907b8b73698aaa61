#include "replywords.h"

#include "configfields.h"
#include "protocol/frame.h"
#include "protocol/replies.h"

namespace rfcfg {

using protocol::Reply;

namespace {

const quint8 *bytesOf(QByteArrayView frame)
{
    return reinterpret_cast<const quint8 *>(frame.data());
}

} // namespace

QString addressText(quint8 high, quint8 low)
{
    return QString::asprintf("%02x%02x", high, low);
}

int replyStatus(QByteArrayView frame)
{
    switch (protocol::decodeReply(frame).kind) {
    case Reply::Kind::ConfigWritten:
    case Reply::Kind::Reset:
    case Reply::Kind::WhitelistWritten:
        return bytesOf(frame)[4];
    case Reply::Kind::DataSent:
    case Reply::Kind::RouteFound:
        return bytesOf(frame)[6];
    default:
        return -1;
    }
}

QString statusWords(int status)
{
    return status == 0 ? QStringLiteral("success")
                       : QString::asprintf("failure (status 0x%02x)", status);
}

VersionInfo versionOf(QByteArrayView reply)
{
    const quint8 *b = bytesOf(reply);
    return {QString::asprintf("%x.%02x", b[5], b[6]),
            QString::asprintf("20%02x-%02x-%02x", b[10], b[9], b[8])};
}

QStringList whitelistOf(QByteArrayView reply)
{
    return protocol::decodeReply(reply).whitelist;
}

RouteInfo routeOf(QByteArrayView reply)
{
    const quint8 *b = bytesOf(reply);
    const int n = int(reply.size());
    RouteInfo route{addressText(b[5], b[4]), b[6], {}};
    if (route.status == 0) {
        for (int i = 0; i < b[8] && 10 + 2 * i <= n - 2; ++i)
            route.relays << addressText(b[10 + 2 * i], b[9 + 2 * i]);
    }
    return route;
}

QString replyDefect(QByteArrayView reply)
{
    const quint8 *b = bytesOf(reply);
    const int n = int(reply.size());
    switch (protocol::decodeReply(reply).kind) {
    case Reply::Kind::Version: {
        // Day, month and year, one decimal digit per half-byte.
        for (int i = 8; i <= 10; ++i) {
            if ((b[i] >> 4) > 9 || (b[i] & 0x0f) > 9)
                return QString::asprintf("its release date bytes %02x %02x %02x are not decimal "
                                         "digits",
                                         b[8], b[9], b[10]);
        }
        return {};
    }
    case Reply::Kind::RouteFound: {
        // The relays start at byte 9, two bytes each, before the checksum.
        const int carried = b[6] == 0 ? (n - 10) / 2 : 0;
        if (b[6] == 0 && b[8] > carried)
            return QStringLiteral("it counts %1 relays but carries %2").arg(b[8]).arg(carried);
        return {};
    }
    default:
        return {};
    }
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
    const Reply reply = protocol::decodeReply(frame);
    const quint8 *b = bytesOf(frame);
    switch (reply.kind) {
    case Reply::Kind::ConfigWritten:
        return QStringLiteral("configuration written: ") + statusWords(b[4]);
    case Reply::Kind::ConfigRead: {
        QStringList pairs;
        for (const auto &[key, value] : configValues(reply.config, false))
            pairs << key + QLatin1Char('=') + value;
        return QStringLiteral("configuration: ") + pairs.join(QLatin1Char(' '));
    }
    case Reply::Kind::Version: {
        const VersionInfo v = versionOf(frame);
        return QStringLiteral("version %1, released %2").arg(v.version, v.releaseDate);
    }
    case Reply::Kind::Reset:
        return QStringLiteral("reset: ") + statusWords(b[4]);
    case Reply::Kind::WhitelistWritten:
        return QStringLiteral("whitelist written: ") + statusWords(b[4]);
    case Reply::Kind::WhitelistRead:
        return QStringLiteral("whitelist: ") + reply.whitelist.join(QLatin1Char(' '));
    case Reply::Kind::DataSent:
        return QStringLiteral("data to %1: ").arg(addressText(b[5], b[4])) + statusWords(b[6]);
    case Reply::Kind::RouteFound:
        return routeText(routeOf(frame));
    case Reply::Kind::Unrecognised:
        break;
    }
    if (frame.size() >= protocol::frameOverhead && protocol::checksumMatches(frame))
        return QString::asprintf("frame of group 0x%02x, code 0x%02x, not a reply rfcfg knows",
                                 b[0], b[2]);
    return QStringLiteral("bytes that are no frame");
}

} // namespace rfcfg
