#include "decode.h"

#include "protocol/framedecode.h"
#include "protocol/pcapng.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

namespace rfcfg {

namespace {

// Where an item came from: a capture's packet, or nothing for pasted hex.
struct Origin
{
    int packet = 0; // from 1
    qint64 timestampUs = 0;
    protocol::pcapng::Direction direction = protocol::pcapng::Direction::Unknown;
    QString comment;
};

QString directionText(protocol::pcapng::Direction d)
{
    switch (d) {
    case protocol::pcapng::Direction::Inbound:
        return QStringLiteral("inbound");
    case protocol::pcapng::Direction::Outbound:
        return QStringLiteral("outbound");
    case protocol::pcapng::Direction::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString timeText(qint64 us)
{
    return QDateTime::fromMSecsSinceEpoch(us / 1000, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.")) +
           QStringLiteral("%1Z").arg(us % 1000000, 6, 10, QLatin1Char('0'));
}

struct Tally
{
    int good = 0;
    int bad = 0;
};

void show(Run &run, QJsonArray &list, Tally &tally, const protocol::DecodedItem &item,
          const Origin *origin)
{
    const QStringList problems = protocol::problemTexts(item);
    (item.isGood() ? tally.good : tally.bad)++;
    if (run.json) {
        QJsonObject o{{"type", protocol::kindText(item.kind)},
                      {"offset", item.offset},
                      {"hex", hexText(item.bytes)},
                      {"description", item.description},
                      {"good", item.isGood()},
                      {"problems", QJsonArray::fromStringList(problems)}};
        if (origin) {
            o.insert(QStringLiteral("packet"), origin->packet);
            o.insert(QStringLiteral("time"), timeText(origin->timestampUs));
            o.insert(QStringLiteral("direction"), directionText(origin->direction));
            if (!origin->comment.isEmpty())
                o.insert(QStringLiteral("comment"), origin->comment);
        }
        if (item.isFrame() && item.bytes.size() >= 4) {
            o.insert(QStringLiteral("group"), quint8(item.bytes[0]));
            o.insert(QStringLiteral("code"), quint8(item.bytes[2]));
            o.insert(QStringLiteral("length"), quint8(item.bytes[3]));
            if (!item.problems.testFlag(protocol::FrameProblem::ShortFrame))
                o.insert(QStringLiteral("checksum"), quint8(item.bytes.back()));
        }
        if (item.problems.testFlag(protocol::FrameProblem::BadChecksum))
            o.insert(QStringLiteral("expected_checksum"), item.expectedChecksum);
        if (!item.command.isEmpty())
            o.insert(QStringLiteral("command"), item.command);
        QJsonObject values;
        for (const auto &[key, value] : item.values)
            values.insert(key, value);
        o.insert(QStringLiteral("values"), values);
        list.append(o);
        return;
    }
    QString text;
    if (origin)
        text = QStringLiteral("#%1 %2 %3\n")
                   .arg(origin->packet)
                   .arg(timeText(origin->timestampUs), directionText(origin->direction));
    text += QStringLiteral("%1  %2\n  %3\n")
                .arg(protocol::kindText(item.kind), hexText(item.bytes), item.description);
    for (const QString &problem : problems)
        text += QStringLiteral("  BAD: ") + problem + QLatin1Char('\n');
    run.text(text);
}

// A capture file rather than hex: a file that exists and does not read as hex.
bool isCaptureFile(const QStringList &words)
{
    return words.size() == 1 && QFileInfo(words[0]).isFile() &&
           !protocol::bytesFromHexText(words[0]);
}

} // namespace

int decode(Run &run, const QStringList &words)
{
    QJsonArray list;
    Tally tally;
    if (isCaptureFile(words)) {
        QString error;
        const auto file = protocol::pcapng::readFile(words[0], &error);
        if (!file)
            return run.fail(badUsage, error + QStringLiteral("; give a pcapng capture or hex"));
        for (int i = 0; i < file->packets.size(); ++i) {
            const protocol::pcapng::Packet &p = file->packets[i];
            const Origin origin{i + 1, p.timestampUs, p.direction, p.comment};
            for (const protocol::DecodedItem &item : protocol::decodeBytes(p.bytes))
                show(run, list, tally, item, &origin);
        }
        if (file->truncated)
            print(stderr, QStringLiteral("rfcfg: note: %1 ends inside a block; the packets "
                                         "before it are shown\n")
                              .arg(words[0]));
    } else {
        QString text = words.join(QLatin1Char(' '));
        if (words.isEmpty()) {
            QFile in;
            if (!in.open(stdin, QIODevice::ReadOnly))
                return run.fail(badUsage, QStringLiteral("cannot read standard input"));
            text = QString::fromUtf8(in.readAll());
        }
        QString error;
        const auto bytes = protocol::bytesFromHexText(text, &error);
        if (!bytes)
            return run.fail(badUsage, error);
        if (bytes->isEmpty())
            return run.fail(badUsage, QStringLiteral("nothing to decode; give hex bytes, such as "
                                                     "rfcfg decode 01 00 06 00 07, or a capture "
                                                     "file"));
        for (const protocol::DecodedItem &item : protocol::decodeBytes(*bytes))
            show(run, list, tally, item, nullptr);
    }
    run.doc.insert(QStringLiteral("items"), list);
    run.doc.insert(QStringLiteral("good"), tally.good);
    run.doc.insert(QStringLiteral("bad"), tally.bad);
    run.text(QStringLiteral("%1 good, %2 bad\n").arg(tally.good).arg(tally.bad));
    return run.finish(tally.bad > 0 ? moduleFailure : success);
}

} // namespace rfcfg
