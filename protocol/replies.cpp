#include "protocol/replies.h"

#include <QCoreApplication>

namespace protocol {

namespace {

// Reply texts are shown in the window's log, so they share the window's translation context.
struct ReplyText
{
    Q_DECLARE_TR_FUNCTIONS(Dialog)
};

QString resultWord(quint8 status)
{
    return status == 0 ? ReplyText::tr("SUCCESS!\n") : ReplyText::tr("FAILUER!\n");
}

QString address(quint8 high, quint8 low)
{
    return QString::asprintf("0x%02x%02x", high, low);
}

QString routeText(const quint8 *b, int n)
{
    QString text = ReplyText::tr("找节点") + address(b[5], b[4]) + ReplyText::tr("的路由");
    if (b[6] != 0)
        return text + ReplyText::tr("FAILUER! 错误码为：") + QString::asprintf("0x%02x\n", b[6]);
    const int relayCount = b[8];
    text += ReplyText::tr("SUCCESS! 中继数：") + QString::asprintf("%02x\n", relayCount);
    if (relayCount != 0) {
        text += ReplyText::tr("中继节点：");
        // Only relays whose two bytes arrived before the checksum byte are shown.
        for (int i = 0; i < relayCount && 10 + 2 * i <= n - 2; ++i)
            text += QString::asprintf("0x%02x%02x ", b[10 + 2 * i], b[9 + 2 * i]);
    }
    return text + QLatin1Char('\n');
}

QString versionText(const quint8 *b)
{
    return ReplyText::tr("模块程序版本：") + QString::asprintf("V%x.%02x ", b[5], b[6]) +
           ReplyText::tr("发布日期：") + QString::asprintf("20%02x-%02x-%02x\n", b[10], b[9], b[8]);
}

QStringList whitelistFields(const quint8 *b)
{
    QStringList fields;
    for (int n = 0; n < 5; ++n)
        fields << formatHexWord(HexWord{b[5 + 3 * n], b[4 + 3 * n]});
    return fields;
}

} // namespace

namespace {

struct Branch
{
    quint8 group;
    quint8 replyCode;
    Reply::Kind kind;
    int minimumLength; // checksum included
};

constexpr quint8 reply(quint8 code)
{
    return code | replyBit;
}

// Every reply the tool interprets, with the smallest chunk that holds the bytes it reads.
constexpr Branch branches[] = {
    {group::module, reply(code::writeConfig), Reply::Kind::ConfigWritten, 6},
    {group::module, reply(code::readConfig), Reply::Kind::ConfigRead, 21},
    {group::module, reply(code::readVersion), Reply::Kind::Version, 12},
    {group::module, reply(code::resetModule), Reply::Kind::Reset, 6},
    {group::whitelist, reply(code::writeWhitelist), Reply::Kind::WhitelistWritten, 6},
    {group::whitelist, reply(code::readWhitelist), Reply::Kind::WhitelistRead, 20},
    {group::network, reply(code::sendData), Reply::Kind::DataSent, 8},
    // A failed route search ends at its status; a successful one carries the relay count.
    {group::network, reply(code::routeSearch), Reply::Kind::RouteFound, 8},
};

const Branch *findBranch(quint8 group, quint8 replyCode)
{
    for (const Branch &branch : branches) {
        if (branch.group == group && branch.replyCode == replyCode)
            return &branch;
    }
    return nullptr;
}

} // namespace

int minimumReplyLength(quint8 group, quint8 replyCode, quint8 status)
{
    const Branch *branch = findBranch(group, replyCode);
    if (!branch)
        return 0;
    if (branch->kind == Reply::Kind::RouteFound && status == 0)
        return 10;
    return branch->minimumLength;
}

Reply decodeReply(QByteArrayView chunk)
{
    Reply reply;
    const int n = int(chunk.size());
    // Dispatch reads bytes 0 and 2, so anything shorter is never a reply.
    if (n < 4 || n > rxBufferCapacity || !checksumMatches(chunk))
        return reply;
    const auto *b = reinterpret_cast<const quint8 *>(chunk.data());
    const Branch *branch = findBranch(b[0], b[2]);
    if (!branch || n < minimumReplyLength(b[0], b[2], n > 6 ? b[6] : 0))
        return reply;

    using K = Reply::Kind;
    switch (branch->kind) {
    case K::ConfigWritten:
    case K::WhitelistWritten:
        reply.text = ReplyText::tr("配置结果：") + resultWord(b[4]);
        break;
    case K::ConfigRead:
        reply.config = decodeConfigRecord(b + 4);
        reply.text = ReplyText::tr("读参数成功！\n");
        break;
    case K::Version:
        reply.text = versionText(b);
        break;
    case K::Reset:
        reply.text = ReplyText::tr("模块复位：") + resultWord(b[4]);
        break;
    case K::WhitelistRead:
        reply.whitelist = whitelistFields(b);
        reply.text = ReplyText::tr("读白名单表成功！\n");
        break;
    case K::DataSent:
        reply.text = ReplyText::tr("向节点") + address(b[5], b[4]) + ReplyText::tr("发送数据") +
                     resultWord(b[6]);
        break;
    case K::RouteFound:
        reply.text = routeText(b, n);
        break;
    case K::Unrecognised:
        return reply;
    }
    reply.kind = branch->kind;
    return reply;
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
