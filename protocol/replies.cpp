#include "protocol/replies.h"

#include <QCoreApplication>

namespace protocol {

namespace {

// The reply texts have a translation context of their own: any front end may show them.
struct ReplyText
{
    Q_DECLARE_TR_FUNCTIONS(ReplyText)
};

QString resultWord(quint8 status)
{
    return status == 0 ? ReplyText::tr("SUCCESS!\n") : ReplyText::tr("FAILUER!\n");
}

QString address(HexWord word)
{
    return QString::asprintf("0x%02x%02x", word.high, word.low);
}

// A failed network request names its status code: the module's reason is all there is to go on.
QString failureWithCode(quint8 status)
{
    return ReplyText::tr("FAILUER! 错误码为：") + QString::asprintf("0x%02x\n", status);
}

QString routeText(const ReplyFrame &r)
{
    QString text = ReplyText::tr("找节点") + address(*r.target) + ReplyText::tr("的路由");
    if (*r.status != 0)
        return text + failureWithCode(*r.status);
    // The count as the module sent it; only the relays that arrived are listed.
    text += ReplyText::tr("SUCCESS! 中继数：") + QString::asprintf("%02x\n", *r.relayCount);
    if (*r.relayCount != 0) {
        text += ReplyText::tr("中继节点：");
        for (const HexWord relay : r.relays)
            text += address(relay) + QLatin1Char(' ');
    }
    return text + QLatin1Char('\n');
}

QString versionText(const ModuleVersion &v)
{
    // Date bytes are shown as hex digits, BCD or not.
    return ReplyText::tr("模块程序版本：") + QLatin1Char('V') + versionNumberText(v) +
           QLatin1Char(' ') + ReplyText::tr("发布日期：") + releaseDateText(v) + QLatin1Char('\n');
}

} // namespace

Reply formatReply(const ReplyFrame &r)
{
    Reply reply;
    if (!r.isReadable())
        return reply;
    using K = Reply::Kind;
    switch (r.kind) {
    case K::ConfigWritten:
    case K::WhitelistWritten:
        reply.text = ReplyText::tr("配置结果：") + resultWord(*r.status);
        break;
    case K::ConfigRead:
        reply.config = *r.config;
        reply.text = ReplyText::tr("读参数成功！\n");
        break;
    case K::Version:
        reply.text = versionText(*r.version);
        break;
    case K::Reset:
        reply.text = ReplyText::tr("模块复位：") + resultWord(*r.status);
        break;
    case K::WhitelistRead:
        for (const HexWord entry : r.whitelist)
            reply.whitelist << formatHexWord(entry);
        reply.text = ReplyText::tr("读白名单表成功！\n");
        break;
    case K::DataSent:
        reply.text = ReplyText::tr("向节点") + address(*r.target) + ReplyText::tr("发送数据") +
                     (*r.status == 0 ? resultWord(0) : failureWithCode(*r.status));
        break;
    case K::RouteFound:
        reply.text = routeText(r);
        break;
    case K::Unrecognised:
        return reply;
    }
    reply.kind = r.kind;
    return reply;
}

Reply decodeReply(QByteArrayView chunk)
{
    return formatReply(decodeReplyFrame(chunk));
}

QString checksumErrorText(QByteArrayView chunk)
{
    const ReplyFrame frame = decodeReplyFrame(chunk);
    const ReplyFaults notWhole = ReplyFault::NoHeader | ReplyFault::TooLong |
                                 ReplyFault::UnknownReply | ReplyFault::LengthMismatch |
                                 ReplyFault::ShortForKind;
    if (!frame.faults.testFlag(ReplyFault::BadChecksum) || (frame.faults & notWhole))
        return {};
    return ReplyText::tr("校验错误\n");
}

QString receiveLogText(QByteArrayView chunk, const Reply &reply)
{
    // Built in one buffer: a streaming module sends half a megabyte per tick.
    QString text;
    text.reserve(6 + chunk.size() * 3 + 1 + reply.text.size());
    text += QLatin1String("Recv->");
    appendHexLine(text, chunk);
    text += reply.text;
    return text;
}

} // namespace protocol
