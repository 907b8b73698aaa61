#include "protocol/framedecode.h"

#include "protocol/configfields.h"
#include "protocol/payloads.h"

#include <QRegularExpression>

namespace protocol {

namespace {

constexpr int headerSize = 4;

bool isGroup(quint8 b)
{
    return b == group::module || b == group::whitelist || b == group::network;
}

quint8 at(QByteArrayView bytes, qsizetype i)
{
    return quint8(bytes[i]);
}

bool configModeAt(QByteArrayView bytes, qsizetype i)
{
    return bytes.size() - i >= 3 && bytes.sliced(i, 3) == QByteArrayView("---");
}

// A header may start here: a group byte followed by 0x00 (or nothing yet).
bool couldStart(QByteArrayView bytes, qsizetype i)
{
    return configModeAt(bytes, i) ||
           (isGroup(at(bytes, i)) && (i + 1 >= bytes.size() || at(bytes, i + 1) == 0x00));
}

bool goodFrameAt(QByteArrayView bytes, qsizetype i)
{
    if (bytes.size() - i < frameOverhead || !isGroup(at(bytes, i)) || at(bytes, i + 1) != 0)
        return false;
    const qsizetype total = frameOverhead + at(bytes, i + 3);
    return bytes.size() - i >= total && checksumMatches(bytes.sliced(i, total));
}

QString commandName(quint8 group, quint8 code)
{
    struct Name
    {
        quint8 group, code;
        const char *name;
    };
    static const Name names[] = {
        {group::module, code::writeConfig, "write configuration"},
        {group::module, code::readConfig, "read configuration"},
        {group::module, code::readVersion, "read version"},
        {group::module, code::resetModule, "reset module"},
        {group::whitelist, code::writeWhitelist, "write whitelist"},
        {group::whitelist, code::readWhitelist, "read whitelist"},
        {group::network, code::sendData, "send data"},
        {group::network, code::routeSearch, "route search"},
    };
    for (const Name &n : names) {
        if (n.group == group && n.code == (code & ~replyBit))
            return QLatin1String(n.name);
    }
    return {};
}

QString word(QByteArrayView b, qsizetype lowAt)
{
    return formatHexWord(HexWord{at(b, lowAt + 1), at(b, lowAt)});
}

QString hexBytes(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' '));
}

using Values = QList<QPair<QString, QString>>;

QString configWords(const ModuleConfig &config, Values &values)
{
    QStringList pairs;
    for (const auto &[key, value] : configValues(config, true)) {
        values.append({key, value});
        pairs << key + QLatin1Char('=') + value;
    }
    if (const auto rate = loraBitRateText(config.bandwidth, config.spreadFactor))
        values.append({QStringLiteral("lora_bit_rate"), *rate});
    return pairs.join(QLatin1Char(' '));
}

QString whitelistWords(const QList<HexWord> &entries, Values &values)
{
    QStringList words;
    for (const HexWord entry : entries)
        words << formatHexWord(entry);
    values.append({QStringLiteral("whitelist"), words.join(QLatin1Char(' '))});
    return words.join(QLatin1Char(' '));
}

QString statusValue(quint8 status)
{
    return QString::asprintf("0x%02x", status);
}

// A request's payload into words and values; false when it is too short for its command.
bool decodeRequest(QByteArrayView f, DecodedItem &item)
{
    const quint8 group = at(f, 0), code = at(f, 2);
    const QByteArrayView p = f.sliced(headerSize, f.size() - frameOverhead);
    Values &values = item.values;
    if (group == group::module && code == code::writeConfig) {
        if (p.size() < configRecordSize)
            return false;
        const ModuleConfig config = decodeConfigRecord(reinterpret_cast<const quint8 *>(p.data()));
        item.description = QStringLiteral("write configuration: ") + configWords(config, values);
        return true;
    }
    if (group == group::whitelist && code == code::writeWhitelist) {
        if (p.size() < whitelistPayloadSize)
            return false;
        QList<HexWord> entries;
        for (int n = 0; n < whitelistEntries; ++n)
            entries << HexWord{at(p, 3 * n + 1), at(p, 3 * n)};
        item.description = QStringLiteral("write whitelist: ") + whitelistWords(entries, values);
        return true;
    }
    if (group == group::network && code == code::routeSearch) {
        if (p.size() < routeSearchPayloadSize)
            return false;
        values = {{"target", word(p, 0)}, {"hop_limit", QString::number(at(p, 2))}};
        item.description =
            QStringLiteral("route search to %1 within %2 hops").arg(word(p, 0)).arg(at(p, 2));
        return true;
    }
    if (group == group::network && code == code::sendData) {
        static const QStringList modes = {"direct", "auto", "forced", "source"};
        if (p.size() < 6)
            return false;
        const int mode = at(p, 4);
        qsizetype q = 5;
        QStringList relays;
        if (mode == sourceRoutingMode) {
            const int count = at(p, q++);
            for (int i = 0; i < count; ++i, q += 2) {
                if (q + 2 > p.size())
                    return false;
                relays << word(p, q);
            }
        }
        if (q >= p.size() || q + 1 + at(p, q) > p.size())
            return false;
        const int length = at(p, q);
        const QByteArrayView data = p.sliced(q + 1, length);
        const QString modeText = modes.value(mode, QStringLiteral("mode %1").arg(mode));
        values = {{"target", word(p, 0)},
                  {"ack", at(p, 2) ? QStringLiteral("yes") : QStringLiteral("no")},
                  {"hop_limit", QString::number(at(p, 3))},
                  {"route_mode", modeText}};
        if (mode == sourceRoutingMode)
            values.append({QStringLiteral("relays"), relays.join(QLatin1Char(' '))});
        values.append({QStringLiteral("data_length"), QString::number(length)});
        values.append({QStringLiteral("data"), hexBytes(data)});
        item.description =
            QStringLiteral("send %1 byte%2 to %3, %4 routing%5, at most %6 hops%7")
                .arg(length)
                .arg(length == 1 ? "" : "s")
                .arg(word(p, 0), modeText,
                     relays.isEmpty() ? QString()
                                      : QStringLiteral(" via ") + relays.join(QLatin1Char(' ')))
                .arg(at(p, 3))
                .arg(at(p, 2) ? QStringLiteral(", ACK requested") : QString());
        if (length > 0)
            item.description += QStringLiteral(": ") + hexBytes(data);
        return true;
    }
    // The commands without a payload.
    item.description = item.command;
    return true;
}

void decodeReplyItem(QByteArrayView f, DecodedItem &item)
{
    const ReplyFrame reply = decodeReplyFrame(f);
    if (reply.faults.testFlag(ReplyFault::ShortForKind))
        item.problems |= FrameProblem::ShortForKind;
    if (reply.faults.testFlag(ReplyFault::MissingRelays))
        item.problems |= FrameProblem::MissingRelays;
    if (reply.faults.testFlag(ReplyFault::DateNotBcd))
        item.problems |= FrameProblem::DateNotBcd;
    Values &values = item.values;
    if (reply.status)
        values.append({QStringLiteral("status"), statusValue(*reply.status)});
    if (reply.target)
        values.prepend({QStringLiteral("target"), formatHexWord(*reply.target)});
    if (reply.config)
        configWords(*reply.config, values);
    if (reply.version)
        values << QPair<QString, QString>{"version", versionNumberText(*reply.version)}
               << QPair<QString, QString>{"release_date", releaseDateText(*reply.version)};
    if (!reply.whitelist.isEmpty())
        whitelistWords(reply.whitelist, values);
    if (reply.relayCount) {
        QStringList relays;
        for (const HexWord relay : reply.relays)
            relays << formatHexWord(relay);
        values.append({QStringLiteral("relay_count"), QString::number(*reply.relayCount)});
        values.append({QStringLiteral("relays"), relays.join(QLatin1Char(' '))});
    }
    item.description =
        reply.isReadable() ? describeFrame(f) : QStringLiteral("reply to ") + item.command;
}

DecodedItem frameItem(QByteArrayView bytes, qsizetype offset, qsizetype size)
{
    DecodedItem item;
    item.offset = int(offset);
    item.bytes = bytes.sliced(offset, size).toByteArray();
    const quint8 group = at(item.bytes, 0), code = at(item.bytes, 2);
    item.kind = (code & replyBit) ? DecodedItem::Kind::Reply : DecodedItem::Kind::Request;
    item.command = commandName(group, code);
    // A frame whose checksum is wrong is read as if it were right, to show what it says.
    QByteArray f = item.bytes;
    const quint8 expected =
        xorOf(reinterpret_cast<const quint8 *>(f.constData()), int(f.size() - 1));
    if (quint8(f.back()) != expected) {
        item.problems |= FrameProblem::BadChecksum;
        item.expectedChecksum = expected;
        f.back() = char(expected);
    }
    if (item.command.isEmpty()) {
        item.problems |= FrameProblem::UnknownCommand;
        item.description = QString::asprintf("frame of group 0x%02x, code 0x%02x", group, code);
        return item;
    }
    if (item.kind == DecodedItem::Kind::Reply) {
        decodeReplyItem(f, item);
    } else if (!decodeRequest(f, item)) {
        item.problems |= FrameProblem::ShortForKind;
        item.description = item.command;
    }
    return item;
}

} // namespace

QList<DecodedItem> decodeBytes(QByteArrayView bytes)
{
    QList<DecodedItem> items;
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        if (configModeAt(bytes, i)) {
            DecodedItem item;
            item.kind = DecodedItem::Kind::ConfigMode;
            item.offset = int(i);
            item.bytes = enterConfigModeBytes();
            item.description = QStringLiteral("enter configuration mode");
            items.append(item);
            i += 3;
            continue;
        }
        if (!couldStart(bytes, i)) {
            const qsizetype from = i++;
            while (i < n && !couldStart(bytes, i))
                ++i;
            DecodedItem item;
            item.offset = int(from);
            item.bytes = bytes.sliced(from, i - from).toByteArray();
            item.problems = FrameProblem::NotAFrame;
            item.description = QStringLiteral("bytes that are no frame");
            items.append(item);
            continue;
        }
        const qsizetype total = n - i >= headerSize ? frameOverhead + at(bytes, i + 3) : 0;
        qsizetype size = total > 0 && n - i >= total ? total : n - i;
        bool whole = total > 0 && size == total;
        if (!whole || !checksumMatches(bytes.sliced(i, size))) {
            // A good frame inside ends this one: a header that lost its tail.
            for (qsizetype j = i + 1; j < i + size; ++j) {
                if (goodFrameAt(bytes, j)) {
                    size = j - i;
                    whole = false;
                    break;
                }
            }
        }
        if (whole) {
            items.append(frameItem(bytes, i, size));
        } else {
            DecodedItem item;
            item.offset = int(i);
            item.bytes = bytes.sliced(i, size).toByteArray();
            item.problems = FrameProblem::ShortFrame;
            item.announcedSize = int(total);
            if (size > 2) {
                item.kind = (at(bytes, i + 2) & replyBit) ? DecodedItem::Kind::Reply
                                                          : DecodedItem::Kind::Request;
                item.command = commandName(at(bytes, i), at(bytes, i + 2));
            }
            item.description =
                item.command.isEmpty()
                    ? QStringLiteral("the start of a frame")
                    : QStringLiteral("the start of a %1 %2").arg(item.command, kindText(item.kind));
            items.append(item);
        }
        i += size;
    }
    return items;
}

QString kindText(DecodedItem::Kind kind)
{
    switch (kind) {
    case DecodedItem::Kind::Request:
        return QStringLiteral("request");
    case DecodedItem::Kind::Reply:
        return QStringLiteral("reply");
    case DecodedItem::Kind::ConfigMode:
        return QStringLiteral("configuration-mode bytes");
    case DecodedItem::Kind::NotAFrame:
        break;
    }
    return QStringLiteral("not a frame");
}

QStringList problemTexts(const DecodedItem &item)
{
    QStringList texts;
    const FrameProblems p = item.problems;
    if (p.testFlag(FrameProblem::BadChecksum))
        texts << QString::asprintf("bad checksum: expected %02x, found %02x", item.expectedChecksum,
                                   quint8(item.bytes.back()));
    if (p.testFlag(FrameProblem::ShortFrame))
        texts << (item.announcedSize > 0
                      ? QStringLiteral("short frame: %1 of %2 bytes")
                            .arg(item.bytes.size())
                            .arg(item.announcedSize)
                      : QStringLiteral("short frame: %1 bytes, fewer than a header")
                            .arg(item.bytes.size()));
    if (p.testFlag(FrameProblem::NotAFrame))
        texts << QStringLiteral("%1 byte%2 that start no frame")
                     .arg(item.bytes.size())
                     .arg(item.bytes.size() == 1 ? "" : "s");
    if (p.testFlag(FrameProblem::UnknownCommand))
        texts << QStringLiteral("no command the tool knows");
    if (p.testFlag(FrameProblem::ShortForKind))
        texts << QStringLiteral("too short for its command");
    if (p.testFlag(FrameProblem::MissingRelays))
        texts << QStringLiteral("counts more relays than it carries");
    if (p.testFlag(FrameProblem::DateNotBcd))
        texts << QStringLiteral("release date not in decimal digits");
    return texts;
}

std::optional<QByteArray> bytesFromHexText(const QString &text, QString *error)
{
    static const QRegularExpression logPrefix(QStringLiteral("(send|recv)->"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression separators(QStringLiteral("[\\s,:;]+"));
    QString cleaned = text;
    cleaned.replace(logPrefix, QStringLiteral(" "));
    QByteArray bytes;
    for (QString run : cleaned.split(separators, Qt::SkipEmptyParts)) {
        const QString shown = run;
        if (run.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            run = run.mid(2);
        const bool hex = !run.isEmpty() && run.size() % 2 == 0 &&
                         std::all_of(run.cbegin(), run.cend(), isHexDigit);
        if (!hex) {
            if (error)
                *error = QStringLiteral("'%1' is not hex; write bytes as pairs of hex digits, "
                                        "such as 01 00 06 00 07")
                             .arg(shown);
            return std::nullopt;
        }
        bytes.append(QByteArray::fromHex(run.toLatin1()));
    }
    return bytes;
}

QString statusWords(int status)
{
    return status == 0 ? QStringLiteral("success")
                       : QString::asprintf("failure (status 0x%02x)", status);
}

QString routeWords(const QString &target, int status, const QStringList &relays)
{
    if (status != 0)
        return QString::asprintf("no route to %s: the module reports status 0x%02x",
                                 qPrintable(target), status);
    if (relays.isEmpty())
        return QStringLiteral("route to %1: direct, no relay").arg(target);
    return QStringLiteral("route to %1: %2 relay%3: %4")
        .arg(target)
        .arg(relays.size())
        .arg(relays.size() == 1 ? "" : "s")
        .arg(relays.join(QLatin1Char(' ')));
}

QString describeFrame(QByteArrayView frame)
{
    const ReplyFrame reply = decodeReplyFrame(frame);
    // A reply that cannot be read is described as a frame only.
    const ReplyKind kind = reply.isReadable() ? reply.kind : ReplyKind::Unrecognised;
    const auto status = [&reply] { return statusWords(reply.status ? int(*reply.status) : -1); };
    switch (kind) {
    case ReplyKind::ConfigWritten:
        return QStringLiteral("configuration written: ") + status();
    case ReplyKind::ConfigRead: {
        QStringList pairs;
        for (const auto &[key, value] : configValues(*reply.config, false))
            pairs << key + QLatin1Char('=') + value;
        return QStringLiteral("configuration: ") + pairs.join(QLatin1Char(' '));
    }
    case ReplyKind::Version:
        return QStringLiteral("version %1, released %2")
            .arg(versionNumberText(*reply.version), releaseDateText(*reply.version));
    case ReplyKind::Reset:
        return QStringLiteral("reset: ") + status();
    case ReplyKind::WhitelistWritten:
        return QStringLiteral("whitelist written: ") + status();
    case ReplyKind::WhitelistRead: {
        QStringList entries;
        for (const HexWord entry : reply.whitelist)
            entries << formatHexWord(entry);
        return QStringLiteral("whitelist: ") + entries.join(QLatin1Char(' '));
    }
    case ReplyKind::DataSent:
        return QStringLiteral("data to %1: ").arg(formatHexWord(*reply.target)) + status();
    case ReplyKind::RouteFound: {
        QStringList relays;
        for (const HexWord relay : reply.relays)
            relays << formatHexWord(relay);
        return routeWords(formatHexWord(*reply.target), int(*reply.status), relays);
    }
    case ReplyKind::Unrecognised:
        break;
    }
    if (reply.size >= frameOverhead && !reply.faults.testFlag(ReplyFault::BadChecksum))
        return QString::asprintf("frame of group 0x%02x, code 0x%02x, not a reply rfcfg knows",
                                 reply.group, reply.code);
    return QStringLiteral("bytes that are no frame");
}

} // namespace protocol
