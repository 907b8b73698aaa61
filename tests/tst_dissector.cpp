// The Wireshark dissector reads a capture of a whole session against the virtual module: every
// command once, configuration-mode bytes, and one reply whose checksum the module corrupts.
#include "protocol/configfields.h"
#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "serial/capture.h"
#include "serial/linesettings.h"
#include "serial/session.h"
#include "virtualmodule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMultiHash>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

using serial::Outcome;

namespace {

const serial::LineSettings plain{9600, QSerialPort::NoParity, QSerialPort::OneStop};
constexpr uint inbound = 1, outbound = 2;
constexpr uint expertError = 0x00800000;

// One packet as tshark's PDML shows it: its protocols and each field's shown value.
struct Packet
{
    QStringList protocols;
    QMultiHash<QString, QString> show; // values in the order added: values() lists them last first
    QHash<QString, QString> showname;

    QString value(const QString &name) const { return show.value(name); }
    uint number(const QString &name) const { return value(name).toUInt(nullptr, 0); }
    QStringList all(const QString &name) const
    {
        QStringList list = show.values(name);
        std::reverse(list.begin(), list.end());
        return list;
    }
};

QList<Packet> readPdml(const QByteArray &pdml)
{
    QList<Packet> packets;
    QXmlStreamReader xml(pdml);
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        const QStringView tag = xml.name();
        const auto a = xml.attributes();
        if (tag == u"packet")
            packets.append(Packet());
        else if (tag == u"proto" && !packets.isEmpty())
            packets.last().protocols << a.value("name").toString();
        else if (tag == u"field" && !packets.isEmpty()) {
            packets.last().show.insert(a.value("name").toString(), a.value("show").toString());
            packets.last().showname.insert(a.value("name").toString(),
                                           a.value("showname").toString());
        }
        if (tag != u"pdml" && tag != u"packet" && tag != u"proto" && tag != u"field")
            xml.skipCurrentElement();
    }
    return packets;
}

// Runs the extcap entry with rfcfg from this build; its standard output.
QString extcap(const QStringList &args, int *status = nullptr)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RFCFG"), QStringLiteral(RFCFG_BINARY));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(RFMODULE_EXTCAP), args);
    if (!process.waitForFinished(60000))
        return {};
    if (status)
        *status = process.exitCode();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The {key=value} pairs of each line whose first word is `kind`.
QList<QHash<QString, QString>> extcapLines(const QString &output, const QString &kind)
{
    static const QRegularExpression pair(QStringLiteral("\\{([a-z]+)=([^}]*)\\}"));
    QList<QHash<QString, QString>> lines;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (!line.startsWith(kind + QLatin1Char(' ')))
            continue;
        QHash<QString, QString> values;
        for (const auto &m : pair.globalMatch(line))
            values.insert(m.captured(1), m.captured(2));
        lines.append(values);
    }
    return lines;
}

} // namespace

class DissectorTest : public QObject
{
    Q_OBJECT

    Outcome finish(serial::Operation *operation)
    {
        QSignalSpy finished(operation, &serial::Operation::finished);
        if (!finished.wait(30000) && finished.isEmpty())
            return {};
        return finished.first().first().value<Outcome>();
    }

private slots:
    void session()
    {
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("session.pcapng"));

        vmodule::VirtualModule module;
        QVERIFY(module.start());
        serial::ModuleLink link;
        serial::Capture capture;
        QVERIFY(capture.open(path));
        capture.attach(&link);
        QVERIFY(!link.open(module.devicePath(), plain));
        serial::Session session(&link);
        session.setRetries(1);

        QVERIFY(link.writeRaw(protocol::enterConfigModeBytes()));
        QTRY_VERIFY_WITH_TIMEOUT(link.writeQueueEmpty(), 10000);
        const Outcome config = finish(session.readConfig());
        QVERIFY(config.answered());
        QVERIFY(finish(session.writeConfig(*config.reply.record, {})).answered());
        module.corruptNextChecksum();
        const Outcome version = finish(session.version());
        QCOMPARE(version.attempts, 2); // the corrupted reply answers nothing
        QVERIFY(finish(session.reset()).answered());
        const Outcome whitelist = finish(session.readWhitelist());
        QVERIFY(whitelist.answered());
        QVERIFY(finish(session.writeWhitelist(*protocol::whitelistPayload({"abcd"}))).answered());
        const auto routePayload = protocol::routeSearchPayload({0x00, 0x03}, 6);
        const Outcome route =
            finish(session.routeSearch(QByteArrayView(routePayload.data(), routePayload.size())));
        QVERIFY(route.answered());
        protocol::DataSendRequest data{{0x00, 0x02}, true, 6, 3, {{0x00, 0x03}}, 2, "\x01\x02"};
        const Outcome sent = finish(session.sendData(*protocol::dataSendPayload(data)));
        QVERIFY(sent.reply.status); // whether the module could deliver or not
        capture.close();

        QProcess process;
        process.start(tshark, {"-X", "lua_script:" RFMODULE_LUA, "-r", path, "-2", "-T", "pdml"});
        QVERIFY(process.waitForFinished(120000));
        QCOMPARE(process.exitCode(), 0);
        const QList<Packet> packets = readPdml(process.readAllStandardOutput());
        QVERIFY(packets.size() >= 18); // 9 requests, 9 replies at least

        QList<int> errors;
        QHash<QString, const Packet *> replyTo; // command -> its last good reply
        QHash<QString, int> lastRequest;        // command -> its last request's number
        for (int i = 0; i < packets.size(); ++i) {
            const Packet &p = packets[i];
            const QString where = QStringLiteral("packet %1").arg(i + 1);
            QVERIFY2(p.protocols.contains("rfmodule"), qPrintable(where));
            // Requests and configuration-mode bytes go out, replies and stray bytes come in.
            const uint type = p.number("rfmodule.type");
            QCOMPARE(p.number("frame.packet_flags_direction"),
                     type == 0 || type == 2 ? outbound : inbound);
            for (const QString &severity : p.all("_ws.expert.severity")) {
                if (severity.toUInt(nullptr, 0) == expertError)
                    errors << i;
            }
            if (type == 0)
                lastRequest[p.value("rfmodule.command")] = i + 1;
            if (type == 1 && p.value("rfmodule.checksum.status") == "1") {
                // A reply links to the request it answers: one at a time, so the last one sent
                // (a retry, not the request whose wait passed).
                const int request = p.value("rfmodule.request_in").toInt();
                QVERIFY2(request > 0 && request <= i, qPrintable(where));
                QCOMPARE(request, lastRequest.value(p.value("rfmodule.command")));
                QCOMPARE(packets[request - 1].value("rfmodule.command"),
                         p.value("rfmodule.command"));
                QCOMPARE(packets[request - 1].value("rfmodule.response_in").toInt(), i + 1);
                QVERIFY(!p.value("rfmodule.time").isEmpty());
                replyTo[p.value("rfmodule.command")] = &p;
            }
        }
        // Only the corrupted reply is an error, and it is the version reply.
        QCOMPARE(errors.size(), 1);
        const Packet &bad = packets[errors.first()];
        QCOMPARE(bad.value("rfmodule.checksum.status"), QStringLiteral("0"));
        QCOMPARE(bad.value("rfmodule.command"), QStringLiteral("read version"));
        QVERIFY(bad.value("rfmodule.request_in").isEmpty());
        QCOMPARE(replyTo.size(), 8);

        // The values are those rfcfg and the window show.
        const Packet &cfg = *replyTo.value("read configuration");
        protocol::ModuleConfig shown;
        for (const protocol::ConfigFieldSpec &field : protocol::configFields()) {
            const QString name = QStringLiteral("rfmodule.cfg.") + field.key;
            QVERIFY2(cfg.show.contains(name), qPrintable(name));
            const int raw = int(cfg.number(name));
            if (field.word)
                shown.*field.word = {quint8(raw >> 8), quint8(raw & 0xff)};
            else if (field.flag)
                shown.*field.flag = raw != 0;
            else
                shown.*field.position = raw - field.offset;
        }
        QCOMPARE(protocol::configValues(shown, true),
                 protocol::configValues(*config.reply.config, true));
        QVERIFY(cfg.showname.value("rfmodule.cfg.power")
                    .contains(protocol::configValue(*config.reply.config, "power")));
        const Packet &v = *replyTo.value("read version");
        QCOMPARE(v.value("rfmodule.version"), protocol::versionNumberText(*version.reply.version));
        QCOMPARE(v.value("rfmodule.date"), protocol::releaseDateText(*version.reply.version));
        QStringList entries;
        for (const protocol::HexWord entry : whitelist.reply.whitelist)
            entries << "0x" + protocol::formatHexWord(entry);
        QCOMPARE(replyTo.value("read whitelist")->all("rfmodule.whitelist.entry"), entries);
        QStringList relays;
        for (const protocol::HexWord relay : route.reply.relays)
            relays << "0x" + protocol::formatHexWord(relay);
        QCOMPARE(replyTo.value("route search")->all("rfmodule.route.relay"), relays);
        QCOMPARE(replyTo.value("send data")->number("rfmodule.status"), uint(*sent.reply.status));
    }

    // Wireshark's interface list gets one interface per port rfcfg lists, with frames of link
    // type 147.
    void extcapInterfaces()
    {
        const QString output = extcap({"--extcap-interfaces", "--extcap-version=4.0"});
        QCOMPARE(extcapLines(output, "extcap").size(), 1);
        QProcess ports;
        ports.start(QStringLiteral(RFCFG_BINARY), {"ports", "--json"});
        QVERIFY(ports.waitForFinished(60000));
        QStringList expected, listed;
        const QJsonArray list =
            QJsonDocument::fromJson(ports.readAllStandardOutput())["ports"].toArray();
        for (const QJsonValue &port : list)
            expected << "rfmodule-" + port["name"].toString() + " on " + port["path"].toString();
        for (const auto &line : extcapLines(output, "interface"))
            listed << line["value"] + " on " + line["display"].section(" on ", 1);
        QCOMPARE(listed, expected);
        const auto dlts = extcapLines(extcap({"--extcap-dlts", "--extcap-interface", "x"}), "dlt");
        QCOMPARE(dlts.size(), 1);
        QCOMPARE(dlts[0]["number"], QStringLiteral("147"));
    }

    // The line settings offered are those rfcfg takes, the module's factory settings chosen.
    void extcapConfig_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("baud") << "--baud" << serial::baudRateItems() << "9600";
        QTest::newRow("parity") << "--parity" << serial::parityItems() << "EVEN";
        QTest::newRow("stop bits") << "--stop-bits" << serial::stopBitsItems() << "1";
    }
    void extcapConfig()
    {
        QFETCH(QString, call);
        QFETCH(QStringList, values);
        QFETCH(QString, chosen);
        const QString output =
            extcap({"--extcap-config", "--extcap-interface", "rfmodule-ttyUSB0"});
        QString number;
        for (const auto &arg : extcapLines(output, "arg")) {
            if (arg["call"] == call)
                number = arg["number"];
        }
        QVERIFY2(!number.isEmpty(), qPrintable(output));
        QStringList offered, defaults;
        for (const auto &value : extcapLines(output, "value")) {
            if (value["arg"] != number)
                continue;
            offered << value["value"];
            if (value["default"] == "true")
                defaults << value["value"];
        }
        QCOMPARE(offered, values);
        QCOMPARE(defaults, QStringList{chosen});
    }

    // A capture needs a FIFO and a port that exists.
    void extcapCaptureRefusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no fifo") << QStringList{"--capture", "--extcap-interface", "rfmodule-x"};
        QTest::newRow("no such port") << QStringList{"--capture", "--fifo", "/nonexistent/fifo",
                                                     "--extcap-interface", "rfmodule-none0"};
        QTest::newRow("unknown option") << QStringList{"--extcap-interfaces", "--bogus"};
    }
    void extcapCaptureRefusals()
    {
        QFETCH(QStringList, args);
        int status = -1;
        extcap(args, &status);
        QCOMPARE(status, 2);
    }
};

QTEST_GUILESS_MAIN(DissectorTest)
#include "tst_dissector.moc"
