// The Wireshark dissector reads a capture of a whole session against the virtual module: every
// command once, configuration-mode bytes, and one reply whose checksum the module corrupts.
#include "capturesession.h"
#include "protocol/configfields.h"
#include "protocol/frame.h"
#include "protocol/framedecode.h"
#include "protocol/payloads.h"
#include "protocol/pcapng.h"
#include "serial/capture.h"
#include "serial/linesettings.h"
#include "testbytes.h"
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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

    CapturedSession captured;
    QString tshark;

    // The capture read by tshark through the dissector, as PDML.
    QList<Packet> dissect(const QString &path)
    {
        QProcess process;
        process.start(tshark, {"-X", "lua_script:" RFMODULE_LUA, "-r", path, "-2", "-T", "pdml"});
        if (!process.waitForFinished(120000) || process.exitCode() != 0)
            return {};
        return readPdml(process.readAllStandardOutput());
    }

    // What rfcfg printed for a command.
    QString outputOf(const QStringList &command) const
    {
        return captured.outputs.value(int(captured.commands.indexOf(command)));
    }

private slots:
    void initTestCase() { tshark = QStandardPaths::findExecutable(QStringLiteral("tshark")); }

    void session_data()
    {
        QTest::addColumn<bool>("moduleSide"); // requests came in there
        QTest::newRow("rfcfg's side") << false;
        QTest::newRow("the module's side") << true;
    }
    void session()
    {
        QFETCH(bool, moduleSide);
        if (tshark.isEmpty())
            QSKIP("tshark is not installed");
        static QTemporaryDir dir;
        if (captured.commands.isEmpty()) {
            QString error;
            QVERIFY2(captureEveryCommand(RFCFG_BINARY, dir.path(), &captured, &error),
                     qPrintable(error));
        }
        const QList<Packet> packets =
            dissect(moduleSide ? captured.moduleSide : captured.programSide);
        QVERIFY(packets.size() >= 2 * captured.commands.size());

        QList<int> errors;
        QHash<QString, const Packet *> replyTo; // command -> its first good reply
        QHash<QString, int> lastRequest;        // command -> its last request's number
        for (int i = 0; i < packets.size(); ++i) {
            const Packet &p = packets[i];
            const QString where = QStringLiteral("packet %1").arg(i + 1);
            QVERIFY2(p.protocols.contains("rfmodule"), qPrintable(where));
            // Told apart by their bytes: requests go out of rfcfg and into the module.
            const uint type = p.number("rfmodule.type");
            const bool request = type == 0 || type == 2;
            QCOMPARE(p.number("frame.packet_flags_direction"),
                     request != moduleSide ? outbound : inbound);
            for (const QString &severity : p.all("_ws.expert.severity")) {
                if (severity.toUInt(nullptr, 0) == expertError)
                    errors << i;
            }
            const QString command = p.value("rfmodule.command");
            if (type == 0)
                lastRequest[command] = i + 1;
            if (type == 1 && p.value("rfmodule.checksum.status") == "1") {
                // A reply links to the request it answers: one at a time, so the last one sent
                // (a retry, not the request whose wait passed).
                const int asked = p.value("rfmodule.request_in").toInt();
                QVERIFY2(asked > 0 && asked <= i, qPrintable(where));
                QCOMPARE(asked, lastRequest.value(command));
                QCOMPARE(packets[asked - 1].value("rfmodule.response_in").toInt(), i + 1);
                QVERIFY(!p.value("rfmodule.time").isEmpty());
                if (!replyTo.contains(command))
                    replyTo[command] = &p;
            }
        }
        // Only the corrupted reply is an error, and it is the version reply.
        QCOMPARE(captured.corruptedCommand, QStringLiteral("version"));
        QCOMPARE(errors.size(), 1);
        const Packet &bad = packets[errors.first()];
        QCOMPARE(bad.value("rfmodule.checksum.status"), QStringLiteral("0"));
        QCOMPARE(bad.value("rfmodule.command"), QStringLiteral("read version"));
        QVERIFY(bad.value("rfmodule.request_in").isEmpty());
        QCOMPARE(replyTo.size(), 8);

        // The values are those rfcfg printed: the configuration key by key, as config get does.
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
        QString lines;
        for (const auto &[key, value] : protocol::configValues(shown, false))
            lines += QStringLiteral("%1 %2\n").arg(key, -16).arg(value);
        QCOMPARE(lines, outputOf({"config", "get"}));
        QVERIFY(cfg.showname.value("rfmodule.cfg.power")
                    .contains(protocol::configValue(shown, "power")));

        const Packet &v = *replyTo.value("read version");
        QVERIFY(outputOf({"version"})
                    .startsWith(QStringLiteral("version %1, released %2\n")
                                    .arg(v.value("rfmodule.version"), v.value("rfmodule.date"))));
        QStringList entries;
        const QStringList words = replyTo.value("read whitelist")->all("rfmodule.whitelist.entry");
        for (int n = 0; n < words.size(); ++n) {
            const QString word = words[n].mid(2);
            entries << QStringLiteral("%1  %2").arg(n + 1).arg(
                word == "ffff" ? QStringLiteral("(empty)") : word);
        }
        QCOMPARE(entries.join('\n') + '\n', outputOf({"whitelist", "get"}));
        const Packet &route = *replyTo.value("route search");
        QStringList relays;
        for (const QString &relay : route.all("rfmodule.route.relay"))
            relays << relay.mid(2);
        QCOMPARE(protocol::routeWords(route.value("rfmodule.route.target").mid(2),
                                      int(route.number("rfmodule.status")), relays) +
                     '\n',
                 outputOf({"route", "1234"}));
        const Packet &sent = *replyTo.value("send data");
        QVERIFY(
            outputOf({"send", "1234", "0102"})
                .startsWith(QStringLiteral("data to %1: %2")
                                .arg(sent.value("rfmodule.data.target").mid(2),
                                     protocol::statusWords(int(sent.number("rfmodule.status"))))));
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

    // A live capture: rfcfg's monitor writes what the module sends into Wireshark's FIFO, and
    // sends nothing.
    void extcapCapture()
    {
        vmodule::VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("RFCFG"), QStringLiteral(RFCFG_BINARY));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(RFMODULE_EXTCAP),
                      {"--capture", "--extcap-interface", "rfmodule-pty", "--fifo", fifo, "--port",
                       module.devicePath(), "--baud", "9600", "--parity", "NONE", "--stop-bits",
                       "1"});
        const QByteArray report = withChecksum("05 00 81 03 34 12 00");
        QByteArray data;
        const auto captured = [&] {
            char buffer[4096];
            for (qsizetype n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                data.append(buffer, n);
            // Sent until the monitor has the port open and passes it on.
            module.sendUnsolicited(report);
            const auto file = protocol::pcapng::read(data);
            return file && !file->packets.isEmpty() && file->packets.first().bytes == report;
        };
        QTRY_VERIFY_WITH_TIMEOUT(captured(), 30000);
        const auto file = protocol::pcapng::read(data);
        QCOMPARE(file->interfaces.first().linkType, protocol::pcapng::linkTypeUser0);
        QCOMPARE(file->packets.first().direction, protocol::pcapng::Direction::Inbound);
        process.terminate(); // as Wireshark stops a capture
        QVERIFY(process.waitForFinished(30000));
        ::close(fd);
        QCOMPARE(module.requestsHandled(), quint64(0));
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
