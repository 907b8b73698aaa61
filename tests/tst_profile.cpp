// Profiles and provisioning: the profile file read and written exactly, and rfcfg provision run
// as a real process against several virtual modules on pseudo-terminals.
#include "protocol/profile.h"
#include "serial/discovery.h"
#include "testbytes.h"
#include "virtualmodule.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

using vmodule::VirtualModule;

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

// What one module of a batch does wrong.
enum class Trouble { None, NoReplies, PulledCable, UnknownValue, LosesChannel };

QByteArray recordBytes(const protocol::ConfigRecord &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.data()), int(r.size()));
}

// JSON with ' written for ", so that backslashes before quotes stay readable.
QByteArray singleQuoted(const char *json)
{
    return QByteArray(json).replace('\'', '"');
}

} // namespace

Q_DECLARE_METATYPE(Trouble)

class ProfileTest : public QObject
{
    Q_OBJECT

    Result last;
    QTemporaryDir dir;

    void run(const QStringList &args, const std::function<void(QProcess &)> &whileRunning = {})
    {
        // The modules' sides of their lines must not live on in rfcfg, or a pulled cable would
        // not show.
        for (const QString &name :
             QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System)) {
            if (name.toInt() > 2)
                ::fcntl(name.toInt(), F_SETFD, ::fcntl(name.toInt(), F_GETFD) | FD_CLOEXEC);
        }
        last = {}; // a run that never ends leaves no result to check; the process is killed
        QProcess process;
        process.start(QStringLiteral(RFCFG_BINARY), args);
        QVERIFY(process.waitForStarted());
        if (whileRunning)
            whileRunning(process);
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
        last = {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QString write(const QString &name, const QByteArray &contents)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(contents);
        return file.fileName();
    }

    QJsonObject lastJson() { return QJsonDocument::fromJson(last.out.toUtf8()).object(); }

    QString address(VirtualModule &module)
    {
        const protocol::ConfigRecord &r = module.behaviour().record;
        return protocol::formatHexWord({r[9], r[8]});
    }

    QList<QJsonObject> logLines(const QString &path)
    {
        QFile file(path);
        QList<QJsonObject> lines;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                if (!line.isEmpty())
                    lines << QJsonDocument::fromJson(line).object();
            }
        }
        return lines;
    }

private slots:
    // config get --json, imported and exported again, gives the same file twice; applied to
    // another module it reads back as the first module's configuration, model keys included.
    void roundTrip_data()
    {
        QTest::addColumn<bool>("lora");
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("plain model")
            << false << hex("a5 a5 07 05 01 01 cd ab 22 00 01 00 04 c3 00 00");
        QTest::newRow("LoRa model")
            << true << hex("a5 a5 1f 07 00 01 0b a0 a1 00 00 00 02 44 09 0c");
        QTest::newRow("LoRa model, unset LoRa fields")
            << true << hex("a5 a5 03 00 00 00 34 12 01 00 00 00 01 44 00 00");
    }
    void roundTrip()
    {
        QFETCH(bool, lora);
        QFETCH(QByteArray, record);
        VirtualModule source, target;
        QVERIFY(source.start() && target.start());
        std::copy(record.begin(), record.end(), source.behaviour().record.begin());
        QStringList get{"config", "get", "--json"};
        if (lora)
            get << "--lora";
        run(QStringList{"-p", source.devicePath()} + get);
        QCOMPARE(last.status, 0);
        const QJsonObject read = lastJson().value("config").toObject();

        protocol::Profile imported;
        QCOMPARE(protocol::parseProfile(last.out.toUtf8(), &imported), QString());
        const QByteArray exported = protocol::profileJson(imported.values, imported.lora);
        protocol::Profile again;
        QCOMPARE(protocol::parseProfile(exported, &again), QString());
        QCOMPARE(protocol::profileJson(again.values, again.lora), exported);

        run({"-p", target.devicePath(), "config", "set", "--from",
             write("exported.json", exported)});
        QVERIFY2(last.status == 0, qPrintable(last.err));
        QCOMPARE(recordBytes(target.behaviour().record), record);
        run(QStringList{"-p", target.devicePath()} + get);
        QCOMPARE(lastJson().value("config").toObject(), read);
    }

    // Refused whole, with the key named; nothing is sent.
    void badProfiles_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unknown key")
            << QByteArray(R"({"format":1,"config":{"chanel":"3"}})") << "unknown key 'chanel'";
        QTest::newRow("value not allowed")
            << QByteArray(R"({"format":1,"config":{"channel":"3","power":"3dBm"}})")
            << "power: '3dBm' is not allowed";
        QTest::newRow("wrong type")
            << QByteArray(R"({"config":{"address":[1]}})") << "address: an array is not an address";
        QTest::newRow("not JSON") << QByteArray("channel=3\n") << "not JSON";
        QTest::newRow("newer format")
            << QByteArray(R"({"format":2,"config":{"channel":"3"}})") << "format: not 1";
        QTest::newRow("unknown key beside config")
            << QByteArray(R"({"config":{"channel":"3"},"colour":"red"})") << "unknown key 'colour'";
        QTest::newRow("LoRa key in a plain profile")
            << QByteArray(R"({"lora":false,"config":{"bandwidth":"8"}})") << "add --lora";
        QTest::newRow("unknown value too large for its bits")
            << QByteArray(R"j({"config":{"uart_parity":"unknown(4)"}})j")
            << "uart_parity: 'unknown(4)' is not allowed";
        QTest::newRow("config given twice")
            << QByteArray(R"({"config":{"channel":"3"},"config":{"power":"11dBm"}})")
            << "key 'config' is given twice";
        QTest::newRow("a key given twice, the last one good")
            << QByteArray(R"({"config":{"channel":"bogus","channel":"7"}})")
            << "key 'config.channel' is given twice";
        QTest::newRow("format given twice")
            << QByteArray(R"({"format":2,"format":1,"config":{"channel":"3"}})")
            << "key 'format' is given twice";
        QTest::newRow("a key given twice, once escaped")
            << QByteArray(R"({"config":{"channel":"3","\u0063hannel":"7"}})")
            << "key 'config.channel' is given twice";
    }
    void badProfiles()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QString, expected);
        protocol::Profile parsed;
        const QString error = protocol::parseProfile(profile, &parsed);
        QVERIFY2(error.contains(expected), qPrintable(error));
        QVERIFY(parsed.values.isEmpty());
        VirtualModule module;
        QVERIFY(module.start());
        run({"provision", "--from", write("bad.json", profile), "-p", module.devicePath()});
        QCOMPARE(last.status, 2);
        QVERIFY2(last.err.contains(expected), qPrintable(last.err));
        QCOMPARE(module.requestsHandled(), quint64(0));
    }

    // Keys are the same when JSON reads them the same, and only within one object.
    void duplicateKeys_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("path");
        QTest::newRow("config get --json, frames listed")
            << QByteArray(
                   R"({"command":"config get","config":{"channel":"3"},)"
                   R"("unsolicited":[{"hex":"01","decoded":"a"},{"hex":"02","decoded":"b"}]})")
            << "";
        QTest::newRow("the same key a level down") << QByteArray(R"({"a":{"a":{"a":1}}})") << "";
        QTest::newRow("quotes, brackets and commas in strings")
            << singleQuoted(R"({'a':'\',{\'a\':[','b\\':'}','b\\\'':1})") << "";
        QTest::newRow("twice after an escaped quote") << singleQuoted(R"({'a':'\'','a':1})") << "a";
        QTest::newRow("twice in the second item of a list")
            << QByteArray(R"({"u":[{"h":1},{"h":1,"d":{},"h":2}]})") << "u[1].h";
        QTest::newRow("twice after a nested object closed")
            << QByteArray(R"({"c":{"x":{"y":1},"y":2,"x":3}})") << "c.x";
        QTest::newRow("escaped and plain")
            << QByteArray(R"({"\u0061\/\ud83d\ude00":1,"a/😀":2})") << "a/😀";
    }
    void duplicateKeys()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, path);
        QVERIFY(!QJsonDocument::fromJson(json).isNull());
        QCOMPARE(protocol::duplicateJsonKey(json), path);
    }

    // Three modules at once; the middle one may be in trouble, the others are provisioned.
    void provision_data()
    {
        QTest::addColumn<QString>("addressing");
        QTest::addColumn<Trouble>("trouble");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<int>("status");
        const QStringList allOk{"ok", "ok", "ok"};
        QTest::newRow("--address") << "--address 0x0101" << Trouble::None << allOk
                                   << QStringList{"0101", "0102", "0103"} << 0;
        QTest::newRow("--map") << "--map MAP" << Trouble::None << allOk
                               << QStringList{"00a3", "00a1", "00a2"} << 0;
        QTest::newRow("no address given")
            << "" << Trouble::None << allOk << QStringList{"0001", "0001", "0001"} << 0;
        QTest::newRow("a module that never answers")
            << "--address 0101" << Trouble::NoReplies << QStringList{"ok", "no_reply", "ok"}
            << QStringList{"0101", "0102", "0103"} << 4;
        QTest::newRow("a pulled cable")
            << "--address 0101" << Trouble::PulledCable << QStringList{"ok", "port_error", "ok"}
            << QStringList{"0101", "0102", "0103"} << 3;
        QTest::newRow("a value no list offers")
            << "--address 0101" << Trouble::UnknownValue << QStringList{"ok", "failed", "ok"}
            << QStringList{"0101", "0102", "0103"} << 2;
        QTest::newRow("a channel lost after the write")
            << "--address 0101" << Trouble::LosesChannel << QStringList{"ok", "failed", "ok"}
            << QStringList{"0101", "0102", "0103"} << 1;
    }
    void provision()
    {
        QFETCH(QString, addressing);
        QFETCH(Trouble, trouble);
        QFETCH(QStringList, results);
        QFETCH(QStringList, addresses);
        QFETCH(int, status);
        std::vector<std::unique_ptr<VirtualModule>> modules;
        QStringList ports;
        for (int i = 0; i < 3; ++i) {
            modules.push_back(std::make_unique<VirtualModule>());
            QVERIFY(modules.back()->start());
            ports << modules.back()->devicePath();
        }
        VirtualModule &troubled = *modules[1];
        connect(&troubled, &VirtualModule::requestReceived, this, [&](const QByteArray &request) {
            if (trouble == Trouble::NoReplies)
                troubled.dropNextReply();
            if (trouble == Trouble::PulledCable) {
                troubled.dropNextReply();
                QTimer::singleShot(0, &troubled, [&] { troubled.hangUp(); });
            }
            if (trouble == Trouble::LosesChannel && quint8(request[2]) == 0x01)
                QTimer::singleShot(0, &troubled, [&] { troubled.behaviour().record[2] = 9; });
        });
        if (trouble == Trouble::UnknownValue)
            troubled.behaviour().record[12] = 9; // rf_data_rate unknown(9)
        const QString profile =
            write("line-a.json", R"({"format":1,"config":{"channel":"7","power":"11dBm"}})");
        const QString map =
            write("map.csv", QStringLiteral("port,address\n%1,00a1\n# spare\n%2,00a2\n%3,00a3\n")
                                 .arg(ports[1], ports[2], ports[0])
                                 .toUtf8());
        const QString log = dir.filePath("batch.log");
        QFile::remove(log);
        QStringList args{"provision", "--from",    profile, "--json",    "--log",
                         log,         "--timeout", "500",   "--retries", "1"};
        for (const QString &port : ports)
            args << "-p" << port;
        for (const QString &word : addressing.split(' ', Qt::SkipEmptyParts))
            args << (word == "MAP" ? map : word);
        run(args);
        QVERIFY2(last.status == status, qPrintable(QString::number(last.status) + last.err));

        const QJsonArray reported = lastJson().value("modules").toArray();
        QCOMPARE(reported.size(), 3);
        QCOMPARE(lastJson().value("ok").toInt(), int(results.count("ok")));
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = logFile.readAll().split('\n');
        QCOMPARE(lines.size(), 4); // one per module and the last line break
        for (int i = 0; i < 3; ++i) {
            const QJsonObject m = reported[i].toObject();
            QCOMPARE(m.value("port").toString(), ports[i]);
            QCOMPARE(m.value("result").toString(), results[i]);
            QCOMPARE(m.value("address").toString(), addresses[i]);
            if (results[i] == "ok") {
                const protocol::ConfigRecord &r = modules[size_t(i)]->behaviour().record;
                QCOMPARE(int(r[2]), 7);
                QCOMPARE(int(r[3]), 4);
                QCOMPARE(protocol::formatHexWord({r[9], r[8]}), addresses[i]);
                QCOMPARE(m.value("firmware").toString(), "10.02");
            }
            if (trouble == Trouble::LosesChannel && i == 1)
                QCOMPARE(m.value("differences").toArray().first().toObject(),
                         QJsonObject({{"key", "channel"}, {"written", "7"}, {"read_back", "9"}}));
            // The log: every module once, with the profile's name and checksum.
            bool logged = false;
            for (const QByteArray &line : lines) {
                const QJsonObject entry = QJsonDocument::fromJson(line).object();
                if (entry.value("port") != ports[i])
                    continue;
                logged = true;
                QCOMPARE(entry.value("result"), m.value("result"));
                QCOMPARE(entry.value("profile").toString(), "line-a");
                QCOMPARE(entry.value("profile_sha256").toString().size(), 64);
                QVERIFY(entry.contains("usb_serial_number") && entry.contains("time"));
            }
            QVERIFY(logged);
        }
        if (trouble == Trouble::UnknownValue)
            QCOMPARE(int(troubled.behaviour().record[2]), 0); // nothing written
    }

    // A map is taken whole or refused with the line at fault; only the words port,address make
    // a line column names.
    void addressMaps_data()
    {
        QTest::addColumn<QByteArray>("map");
        QTest::addColumn<QString>("error");
        QTest::newRow("column names in any case, after a comment")
            << QByteArray("# line A\n Port , ADDRESS \r\n%1,00a1\r\n%2,00a2\r\n") << "";
        QTest::newRow("column names after a byte order mark")
            << QByteArray("\xef\xbb\xbfport,address\n%1,00a1\n%2,00a2\n") << "";
        QTest::newRow("a typo in the first address")
            << QByteArray("%1,01O1\n%2,00a2\n") << "line 1: '01O1' is not an address";
        QTest::newRow("other column names")
            << QByteArray("device,addr\n%1,00a1\n%2,00a2\n") << "line 1: 'addr' is not an address";
        QTest::newRow("column names not first") << QByteArray("%1,00a1\nport,address\n%2,00a2\n")
                                                << "line 2: 'address' is not an address";
    }
    void addressMaps()
    {
        QFETCH(QByteArray, map);
        QFETCH(QString, error);
        VirtualModule first, second;
        QVERIFY(first.start() && second.start());
        map = QString::fromUtf8(map).arg(first.devicePath(), second.devicePath()).toUtf8();
        run({"provision", "--from", write("p.json", R"({"config":{"channel":"3"}})"), "--map",
             write("map.csv", map)});
        if (error.isEmpty()) {
            QVERIFY2(last.status == 0, qPrintable(last.err));
            QCOMPARE(address(first), "00a1");
            QCOMPARE(address(second), "00a2");
        } else {
            QCOMPARE(last.status, 2);
            QVERIFY2(last.err.contains(error), qPrintable(last.err));
            QCOMPARE(first.requestsHandled() + second.requestsHandled(), quint64(0));
        }
    }

    // A log that cannot be written fails the batch but not its modules; what could block or is
    // no file is refused before anything is sent.
    void logTargets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("summary");
        QTest::newRow("a full disk")
            << "/dev/full" << 5
            << "--log: cannot write /dev/full: " + QString::fromLocal8Bit(std::strerror(ENOSPC))
            << "2 ok, 0 failed; 2 records not stored in /dev/full\n";
        QTest::newRow("a pipe nobody reads")
            << "FIFO" << 2 << "is neither a regular file nor a character device"
            << "";
        QTest::newRow("a directory")
            << "DIR" << 2 << "is neither a regular file nor a character device"
            << "";
    }
    void logTargets()
    {
        QFETCH(QString, target);
        QFETCH(int, status);
        QFETCH(QString, error);
        QFETCH(QString, summary);
        const QString fifo = dir.filePath("reader-less");
        QFile::remove(fifo);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        if (target == "FIFO")
            target = fifo;
        if (target == "DIR")
            target = dir.path();
        VirtualModule quick, slow;
        QVERIFY(quick.start() && slow.start());
        slow.setReplyDelay(300); // still at work when the first record fails
        run({"provision", "--from", write("p.json", R"({"config":{"channel":"3"}})"), "-p",
             quick.devicePath(), "-p", slow.devicePath(), "--address", "0101", "--log", target});
        QVERIFY2(last.status == status, qPrintable(QString::number(last.status) + last.err));
        QCOMPARE(last.err.count(error), 1);
        if (status == 2) {
            QCOMPARE(quick.requestsHandled() + slow.requestsHandled(), quint64(0));
            return;
        }
        QVERIFY2(last.out.endsWith(summary), qPrintable(last.out));
        QCOMPARE(address(quick), "0101");
        QCOMPARE(address(slow), "0102");
    }

    // The options and addresses are those of the window and of each other command; what the
    // line held before the port was opened is no reply.
    void oneLanguage_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("expected");
        QTest::newRow("route, 0x address") << "route 0x1234 --max-hops 3"
                                           << "route to 1234: 2 relays";
        QTest::newRow("send, --max-hops") << "send 0X1234 01 --max-hops 3"
                                          << "data to 1234: success";
        QTest::newRow("send, --hops") << "send 1234 01 --hops 3"
                                      << "data to 1234: success";
        QTest::newRow("send, hop limit too low") << "send 1234 01 --max-hops 2"
                                                 << "status 0x03";
        QTest::newRow("config set, 0x address") << "config set address=0x00A1"
                                                << "address 0001 -> 00a1";
        QTest::newRow("whitelist, 0x address") << "whitelist set 0x00ab"
                                               << "1  00ab\n";
        QTest::newRow("bytes from before the open") << "--json version"
                                                    << "\"version\":\"10.02\"}";
        // One wording for an address that is none, wherever it is given.
        const QString notAnAddress = "'12' is not an address; use exactly four hex digits, such "
                                     "as 00a1";
        QTest::newRow("config set, bad address") << "config set address=12"
                                                 << "address: " + notAnAddress;
        QTest::newRow("send, bad target") << "send 12 01"
                                          << "TARGET: " + notAnAddress;
        QTest::newRow("provision, bad first address")
            << "provision --from " + write("one.json", R"({"config":{"channel":"3"}})") +
                   " --address 12"
            << "--address: " + notAnAddress;
    }
    void oneLanguage()
    {
        QFETCH(QString, args);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        module.sendUnsolicited(withChecksum("05 00 81 03 ab 00 00"));
        run(QStringList{"-p", module.devicePath()} + args.split(' '));
        QVERIFY2((last.out + last.err).contains(expected), qPrintable(last.out + last.err));
        QVERIFY2(!(last.out + last.err).contains("unsolicited"), qPrintable(last.out + last.err));
    }

    // A profile that gives the module other serial settings: the batch follows it there to
    // verify, also when the write's reply is lost, and records where it answers now. The module
    // answers only at its record's rate and stop bits (a pseudo-terminal keeps no parity).
    void newSerialSettings_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<bool>("writeReplyLost");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("another rate")
            << QByteArray(R"("uart_baud":"115200")") << false << 115200 << 1;
        QTest::newRow("another rate, the write's reply lost")
            << QByteArray(R"("uart_baud":"115200")") << true << 115200 << 1;
        QTest::newRow("two stop bits, the write's reply lost")
            << QByteArray(R"("uart_stop_bits":"2")") << true << 9600 << 2;
    }
    void newSerialSettings()
    {
        QFETCH(QByteArray, config);
        QFETCH(bool, writeReplyLost);
        QFETCH(int, baud);
        QFETCH(int, stopBits);
        VirtualModule module;
        QVERIFY(module.start());
        module.setLineCheck(true);
        connect(&module, &VirtualModule::requestReceived, &module, [&](const QByteArray &request) {
            if (writeReplyLost && quint8(request[2]) == protocol::code::writeConfig)
                module.dropNextReply();
        });
        const QString log = dir.filePath("serial.log");
        QFile::remove(log);
        run({"provision", "--from",
             write("serial.json", R"({"format":1,"config":{"channel":"7",)" + config + "}}"), "-p",
             module.devicePath(), "--baud", "9600", "--address", "0101", "--timeout", "1000",
             "--retries", "1", "--log", log});
        QVERIFY2(last.status == 0, qPrintable(last.out + last.err));
        // The table row says where the module answers now.
        QVERIFY2(last.out.contains(QRegularExpression(
                     QStringLiteral("ok +now at %1 [A-Z]+ %2\n").arg(baud).arg(stopBits))),
                 qPrintable(last.out));
        const auto held = serial::moduleSerialSettings(
            protocol::decodeConfigRecord(module.behaviour().record.data()));
        QVERIFY(held);
        QCOMPARE(held->baudRate, baud);
        QCOMPARE(held->stopBits == QSerialPort::TwoStop ? 2 : 1, stopBits);
        QCOMPARE(address(module), "0101");
        const QList<QJsonObject> lines = logLines(log);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].value("result").toString(), "ok");
        const QJsonObject after = lines[0].value("serial_after").toObject();
        QCOMPARE(after.value("baud").toInt(), baud);
        QCOMPARE(after.value("stop_bits").toInt(), stopBits);
    }

    // Ctrl+C while one module waits for a reply: the other is reported and logged, and so is
    // the waiting one, with the step it stopped at, since it may already hold what was written.
    void interrupted_data()
    {
        QTest::addColumn<QString>("dropped"); // the silent module's replies not sent
        QTest::addColumn<int>("heard");       // requests the silent module took when it is stopped
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("held"); // the silent module's address when it is stopped
        QTest::newRow("no reply from the start") << "all" << 1 << "reading the version"
                                                 << "0001";
        QTest::newRow("the write went out, no reply yet") << "the write" << 3 << "writing"
                                                          << "0102";
        QTest::newRow("the write was answered, no reply to the read back")
            << "after the write" << 4 << "reading back"
            << "0102";
    }
    void interrupted()
    {
        QFETCH(QString, dropped);
        QFETCH(int, heard);
        QFETCH(QString, step);
        QFETCH(QString, held);
        VirtualModule good, silent;
        QVERIFY(good.start() && silent.start());
        bool wrote = false;
        connect(&silent, &VirtualModule::requestReceived, &silent, [&](const QByteArray &request) {
            const bool write = quint8(request[2]) == protocol::code::writeConfig;
            if (dropped == "all" || (dropped == "the write" && write) ||
                (dropped == "after the write" && wrote))
                silent.dropNextReply();
            wrote = wrote || write;
        });
        const QString log = dir.filePath("interrupted.log");
        QFile::remove(log);
        run({"provision", "--from", write("p.json", R"({"config":{"channel":"3"}})"), "-p",
             good.devicePath(), "-p", silent.devicePath(), "--address", "0101", "--timeout",
             "60000", "--log", log},
            [&](QProcess &process) {
                QTRY_VERIFY_WITH_TIMEOUT(good.requestsHandled() >= 4 &&
                                             silent.requestsHandled() >= quint64(heard),
                                         30000);
                QTRY_VERIFY_WITH_TIMEOUT(address(silent) == held, 30000);
                QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > 0, 10000);
                ::kill(pid_t(process.processId()), SIGINT);
            });
        QCOMPARE(last.status, 4);
        QVERIFY2(last.out.contains("1 ok, 1 failed (interrupted)"), qPrintable(last.out));
        QVERIFY(last.out.contains(QRegularExpression("interrupted +interrupted while " + step)));
        const QList<QJsonObject> lines = logLines(log);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].value("port").toString(), good.devicePath());
        QCOMPARE(lines[0].value("result").toString(), "ok");
        QCOMPARE(lines[1].value("port").toString(), silent.devicePath());
        QCOMPARE(lines[1].value("result").toString(), "interrupted");
        QCOMPARE(lines[1].value("step").toString(), step);
        QCOMPARE(lines[1].value("address").toString(), "0102");
    }
};

QTEST_GUILESS_MAIN(ProfileTest)
#include "tst_profile.moc"
