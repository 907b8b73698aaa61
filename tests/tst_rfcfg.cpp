// The command line, run as a real process against the virtual module on a pseudo-terminal.
#include "commands.h"
#include "network.h"
#include "protocol/configfields.h"
#include "protocol/frame.h"
#include "protocol/linkstats.h"
#include "protocol/replyframe.h"
#include "ptypair.h"
#include "testbytes.h"
#include "virtualmodule.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using vmodule::VirtualModule;

namespace {

// What a fault does to the exchange; applied by the test module as requests arrive.
enum class Fault {
    None,
    DropFirstReply,
    CorruptFirstReply,
    SplitReply,
    NoiseBeforeReply,
    UnsolicitedBeforeReply,
    ChangeRecordAfterWrite,
    PullCable,
};

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

// A module that answers nothing but sends reports for another node without pause, as fast as
// the line takes them.
struct FloodedLine
{
    FloodedLine()
    {
        char name[256] = {};
        openpty(&master, &slave, name, nullptr, nullptr);
        fcntl(master, F_SETFL, O_NONBLOCK);
        QFile::link(QString::fromLocal8Bit(name), path); // unique, as lock files are named after it
        writer = std::thread([this] {
            const QByteArray reports = withChecksum("05 00 81 03 ab 00 02").repeated(512);
            for (pollfd pfd{master, POLLOUT, 0}; !stop;)
                written += ::poll(&pfd, 1, 50) > 0
                               ? ::write(master, reports.constData(), reports.size())
                               : 0;
        });
    }
    ~FloodedLine()
    {
        stop = true;
        writer.join();
        ::close(master);
        ::close(slave);
    }
    int master = -1, slave = -1;
    QTemporaryDir dir;
    const QString path = dir.filePath(QFileInfo(dir.path()).fileName() + ".tty");
    std::atomic<bool> stop = false;
    qint64 written = 0;
    std::thread writer;
};

// What keeps a link test's reports from pairing with their sends.
enum class LinkFault { LateReports, StuckLine, NoReplyInterrupted };

} // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(LinkFault)

class RfcfgTest : public QObject
{
    Q_OBJECT

    Result last;

    // Runs rfcfg to its end while the event loop serves the module.
    void run(const QStringList &args, const std::function<void(QProcess &)> &whileRunning = {})
    {
        keepDescriptorsFromChildren();
        QProcess process;
        process.start(QStringLiteral(RFCFG_BINARY), args);
        QVERIFY(process.waitForStarted());
        if (whileRunning)
            whileRunning(process);
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        last = {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // A failure is reported in one line on standard error, a success on standard output.
    void checkOutcome(int status, const QString &expected)
    {
        QVERIFY2(last.status == status, qPrintable(QString::number(last.status) + last.err));
        if (status == 0) {
            QVERIFY2(last.out.contains(expected), qPrintable(last.out + last.err));
        } else {
            QVERIFY2(last.err.contains(expected), qPrintable(last.err));
            QCOMPARE(last.err.count(QLatin1Char('\n')), 1);
        }
    }

private slots:
    // Percentiles from the fixed buckets stay within 1 %; minimum and maximum are exact.
    void linkStatistics_data()
    {
        QTest::addColumn<QList<double>>("latencies");
        QTest::addColumn<QList<double>>("minMedianP95Max");
        QList<double> hundred;
        for (int i = 1; i <= 100; ++i)
            hundred << i * 0.5;
        QTest::newRow("one") << QList<double>{3.2} << QList<double>{3.2, 3.2, 3.2, 3.2};
        QTest::newRow("hundred") << hundred << QList<double>{0.5, 25, 47.5, 50};
        QTest::newRow("microseconds to seconds")
            << QList<double>{0.02, 0.03, 900, 1500} << QList<double>{0.02, 0.03, 1500, 1500};
    }
    void linkStatistics()
    {
        QFETCH(QList<double>, latencies);
        QFETCH(QList<double>, minMedianP95Max);
        protocol::LinkStats stats;
        for (double ms : latencies)
            stats.addAnswer(0, ms);
        const QList<double> got{stats.minimumMs(), stats.percentileMs(0.5),
                                stats.percentileMs(0.95), stats.maximumMs()};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(qAbs(got[i] - minMedianP95Max[i]) <= 0.01 * minMedianP95Max[i],
                     qPrintable(QString::number(got[i])));
    }

    // Addresses on the command line and in profiles: exactly four hex digits, nothing after.
    void addressTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("four digits") << "00aB" << true;
        QTest::newRow("trailing newline") << "00ab\n" << false;
        QTest::newRow("three digits and a newline") << "0ab\n" << false;
        QTest::newRow("five digits") << "000ab" << false;
        QTest::newRow("other script's digits")
            << QString::fromUtf8("\u0661\u0662\u0663\u0664") << false;
    }
    void addressTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(rfcfg::isHexWord(text), accepted);
        protocol::ModuleConfig config;
        QCOMPARE(protocol::setConfigValue(config, "address", text, false).isEmpty(), accepted);
    }

    void replyPairing_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("answers");
        const QByteArray send = withChecksum("05 00 01 07 34 12 00 07 01 01 aa");
        QTest::newRow("version") << hex("0100060007") << hex("01008607001002002503 14a0") << true;
        QTest::newRow("other code") << hex("0100060007") << withChecksum("01 00 87 01 00") << false;
        QTest::newRow("other group")
            << hex("0400020006") << withChecksum("01 00 82 01 00") << false;
        QTest::newRow("send, same node") << send << withChecksum("05 00 81 03 34 12 00") << true;
        QTest::newRow("send, other node") << send << withChecksum("05 00 81 03 ab 00 00") << false;
    }
    void replyPairing()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, answers);
        QCOMPARE(protocol::answers(request, reply), answers);
    }

    void commands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        auto row = [](const char *name, const char *args, int status, const char *expected) {
            QTest::newRow(name) << QString::fromLatin1(args).split(QLatin1Char(' '),
                                                                   Qt::SkipEmptyParts)
                                << status << QString::fromUtf8(expected);
        };
        row("version", "version", 0, "version 10.02, released 2014-03-25");
        row("version json", "--json version", 0,
            "{\"command\":\"version\",\"release_date\":\"2014-03-25\",\"version\":\"10.02\"}");
        row("config get", "config get", 0, "address          0001\n");
        row("config get json", "config get --lora --json", 0,
            "\"interface_mode\":\"hex-command\",\"lora_bit_rate\":\"\",\"network_id\":\"1234\"");
        row("config set",
            "config set address=0002 power=17dbm --lora bandwidth=9 spreading_factor=7", 0,
            "written: power 20dBm -> 17dBm, address 0001 -> 0002, bandwidth unknown(0) -> "
            "9, spreading_factor unknown(0) -> 7\nverified:");
        // A value no list offers is never written back as read.
        row("config set unknown value", "config set --lora bandwidth=9", 2,
            "holds values outside their lists (spreading_factor)");
        row("config set json", "--json config set whitelist=on", 0,
            "\"changed\":{\"whitelist\":\"on\"}");
        row("config set unverified", "--json config set channel=7 --no-verify", 0,
            "\"verified\":null");
        row("reset", "reset", 0, "reset: success");
        row("reset json", "reset --json", 0, "\"status\":\"success\",\"status_code\":0");
        row("whitelist get", "whitelist get", 0, "1  (empty)\n");
        row("whitelist get json", "whitelist get --json", 0,
            "\"whitelist\":[\"ffff\",\"ffff\",\"ffff\",\"ffff\",\"ffff\"]");
        row("whitelist set", "whitelist set 0002 00AB", 0, "2  00ab\n3  (empty)");
        row("whitelist set json", "--json whitelist set 0002", 0,
            "\"status\":\"success\",\"status_code\":0,\"whitelist\":[\"0002\",\"ffff\"");
        row("route", "route 1234", 0, "route to 1234: 2 relays: 0002 0003");
        row("route json", "route 1234 --json", 0, "\"relays\":[\"0002\",\"0003\"]");
        row("send", "send 1234 0102", 0, "data to 1234: success");
        row("send source json", "--json send 0003 ff --route source --via 0002 --ack", 0,
            "\"status\":\"success\",\"status_code\":0,\"target\":\"0003\"");
        row("ports", "ports", 0, "");
        row("ports json", "ports --json", 0, "{\"command\":\"ports\",\"ports\":[");
        row("help", "--help", 0, "4  no reply");
        row("command help", "send --help", 0, "\"delivery_ratio\"");
        row("command group help", "whitelist --help", 0, "whitelist get [--json]");

        row("route failure", "route 0005 --max-hops 7", 1, "route to 0005: the module reports");
        row("send failure", "send 0005 01", 1, "send to 0005: the module reports failure");
        row("bad list value", "config set power=3dBm", 2,
            "power: '3dBm' is not allowed; use one of 20dBm, 17dBm");
        row("bad address", "config set address=123", 2, "exactly four hex digits");
        row("LoRa key without --lora", "config set bandwidth=8", 2, "add --lora");
        row("bad hex data", "send 1234 0g", 2, "is not hex data");
        row("six whitelist entries", "whitelist set 0001 0002 0003 0004 0005 0006", 2,
            "up to five addresses");
        row("bad whitelist entry", "whitelist set 12 0001", 2, "whitelist entry: '12'");
        row("unknown command", "frobnicate", 2, "unknown command");
        row("option of another command", "version --lora", 2, "--lora does not apply");
        row("bad line setting", "--parity MARK version", 2, "use one of NONE, ODD, EVEN");
    }
    void commands()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        run(QStringList{"-p", module.devicePath(), "--timeout", "5000"} + args);
        checkOutcome(status, expected);
    }

    // A profile read from one module and written to another, with its own address.
    void configFromFile()
    {
        VirtualModule source, target;
        QVERIFY(source.start() && target.start());
        source.behaviour().record[3] = 5; // 9dBm
        run({"-p", source.devicePath(), "config", "get", "--json", "--lora"});
        QCOMPARE(last.status, 0);
        QTemporaryDir dir;
        QFile profile(dir.filePath("profile.json"));
        QVERIFY(profile.open(QIODevice::WriteOnly));
        profile.write(last.out.toUtf8().replace("unknown(0)", "8"));
        profile.close();
        run({"-p", target.devicePath(), "config", "set", "--from", profile.fileName(),
             "address=00a1"});
        checkOutcome(0, "verified:");
        run({"-p", target.devicePath(), "config", "get", "--lora"});
        QVERIFY(last.out.contains("power            9dBm\n"));
        QVERIFY(last.out.contains("address          00a1\n"));
        QVERIFY(last.out.contains("bandwidth        8\n"));
    }

    void missingPort()
    {
        QTemporaryDir dir;
        run({"-p", dir.filePath("no-such-port"), "--json", "version"});
        checkOutcome(3, "cannot open");
        QVERIFY(last.out.contains("\"exit_status\":3"));
    }

    // A path too long for the port's lock file opens as the device it leads to, as in the window.
    void longPortPath_data()
    {
        QTest::addColumn<bool>("leadsToDevice");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("to the device") << true << 0 << "version 10.02";
        QTest::newRow("to nothing") << false << 3 << ": No such file or directory; check the path";
    }
    void longPortPath()
    {
        QFETCH(bool, leadsToDevice);
        QFETCH(int, status);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir dir;
        const QString deep = dir.filePath(QString(120, 'a') + "/" + QString(120, 'b'));
        QVERIFY(QDir().mkpath(deep));
        const QString path = deep + "/port";
        if (leadsToDevice)
            QVERIFY(QFile::link(module.devicePath(), path));
        run({"-p", path, "version"});
        checkOutcome(status, expected);
    }

    void faults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("dropped reply, no retry")
            << Fault::DropFirstReply << QStringList{"--retries", "0", "--timeout", "300", "version"}
            << 4 << "no reply to version within 300 ms (1 attempt)";
        QTest::newRow("dropped reply, retried")
            << Fault::DropFirstReply
            << QStringList{"--retries", "3", "--timeout", "1000", "version"} << 0
            << "version 10.02";
        QTest::newRow("dropped data send is not repeated unasked")
            << Fault::DropFirstReply << QStringList{"--timeout", "300", "send", "1234", "01"} << 4
            << "no reply to send within 300 ms (1 attempt)";
        QTest::newRow("dropped data send, repeated when asked")
            << Fault::DropFirstReply
            << QStringList{"--timeout", "1000", "--retries", "3", "send", "1234", "01"} << 0
            << "data to 1234: success";
        QTest::newRow("bad checksum")
            << Fault::CorruptFirstReply
            << QStringList{"--retries", "0", "--timeout", "300", "whitelist", "get"} << 4
            << "no reply to whitelist get";
        QTest::newRow("split reply")
            << Fault::SplitReply << QStringList{"config", "get"} << 0 << "network_id       1234";
        QTest::newRow("noise before reply")
            << Fault::NoiseBeforeReply << QStringList{"route", "1234"} << 0
            << "route to 1234: 2 relays";
        QTest::newRow("unsolicited before reply")
            << Fault::UnsolicitedBeforeReply << QStringList{"version"} << 0 << "version 10.02";
        QTest::newRow("unsolicited before reply, json")
            << Fault::UnsolicitedBeforeReply << QStringList{"--json", "version"} << 0
            << "\"unsolicited_total\":1,\"version\":\"10.02\"}";
        QTest::newRow("verification difference")
            << Fault::ChangeRecordAfterWrite << QStringList{"config", "set", "channel=3"} << 1
            << "verification failed: channel wrote 3, reads 9";
        QTest::newRow("pulled cable")
            << Fault::PullCable << QStringList{"reset"} << 3 << "lost the port";
    }
    void faults()
    {
        QFETCH(Fault, fault);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        bool first = true;
        connect(&module, &VirtualModule::requestReceived, this, [&](const QByteArray &request) {
            const bool isFirst = std::exchange(first, false);
            switch (fault) {
            case Fault::DropFirstReply:
                if (isFirst)
                    module.dropNextReply();
                break;
            case Fault::CorruptFirstReply:
                if (isFirst)
                    module.corruptNextChecksum();
                break;
            case Fault::SplitReply:
                module.splitNextReply(150); // shorter than a stall
                break;
            case Fault::NoiseBeforeReply: // a stray header promising 0x86 bytes among it
                module.sendUnsolicited(hex("ff 13 05 00 86 2d 01"));
                break;
            case Fault::UnsolicitedBeforeReply:
                module.sendUnsolicited(withChecksum("05 00 81 03 ab 00 00"));
                break;
            case Fault::ChangeRecordAfterWrite:
                if (quint8(request[2]) == 0x01) // the write: the module keeps another channel
                    QTimer::singleShot(0, &module, [&] { module.behaviour().record[2] = 9; });
                break;
            case Fault::PullCable:
                module.dropNextReply();
                QTimer::singleShot(0, &module, [&] { module.hangUp(); });
                break;
            case Fault::None:
                break;
            }
        });
        run(QStringList{"-p", module.devicePath(), "--timeout", "5000"} + args);
        checkOutcome(status, expected);
        if (fault == Fault::UnsolicitedBeforeReply)
            QVERIFY((last.err + last.out).contains("05 00 81 03 ab 00 00"));
    }

    // A few dozen frames, one reply dropped and one send refused by the module.
    void linkTest_data()
    {
        QTest::addColumn<bool>("json");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << false
                              << "sent 30, acknowledged 28, failed 1, no reply 1; delivery 93.3 %\n"
                                 "failed with status 0x01: 1\nlatency ms: min ";
        QTest::newRow("json")
            << true
            << "\"acknowledged\":28,\"command\":\"send\",\"delivery_ratio\":0.9333,"
               "\"ended\":\"count\",\"error\":\"1 of 30 sends failed by status; check the "
               "route and the target node\",\"exit_status\":1,"
               "\"failed\":1,\"failed_by_status\":{\"0x01\":1},\"gaps\":0,"
               "\"interrupted\":false,\"late\":0,"
               "\"latency_ms\":{\"max\":";
    }
    void linkTest()
    {
        QFETCH(bool, json);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        int count = 0;
        connect(&module, &VirtualModule::requestReceived, this, [&] {
            ++count;
            if (count == 10)
                module.dropNextReply();
            // The target drops out of the network for one send.
            module.behaviour().network =
                count == 20 ? vmodule::Network() : vmodule::Network::standard();
        });
        QStringList args{"-p",   module.devicePath(), "--timeout", "1500",       "send", "1234",
                         "0102", "--count",           "30",        "--interval", "0"};
        if (json)
            args << "--json";
        run(args);
        QCOMPARE(last.status, 1);
        QVERIFY2(last.out.contains(expected), qPrintable(last.out));
        QVERIFY(last.err.contains("1 of 30 sends failed by status"));
        QCOMPARE(count, 30);
    }

    void interruptStillPrintsTheSummary()
    {
        VirtualModule module;
        QVERIFY(module.start());
        run({"-p", module.devicePath(), "send", "1234", "01", "--count", "100000", "--interval",
             "5"},
            [&](QProcess &process) {
                QTRY_VERIFY_WITH_TIMEOUT(module.requestsHandled() >= 5, 30000);
                ::kill(pid_t(process.processId()), SIGINT);
            });
        QCOMPARE(last.status, 0);
        QVERIFY2(last.out.contains(QRegularExpression(
                     "interrupted after (\\d+) frames\nsent \\1, acknowledged \\1, failed 0")),
                 qPrintable(last.out));
        QVERIFY(last.out.contains("latency ms: min "));
    }

    // Every wait ends at its deadline, however many frames keep arriving; text notes of
    // unsolicited frames stop where the JSON list stops, and say how many more came.
    void flood_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("version") << "--retries 0 version" << 4
                                 << "no reply to version within 200 ms (1 attempt)";
        QTest::newRow("route") << "route 1234" << 4 << "no reply to route within 200 ms";
        QTest::newRow("link test")
            << "send 1234 01 --count 3 --interval 0" << 4 << "3 of 3 sends got no reply";
        QTest::newRow("monitor") << "monitor --duration 300" << 0 << "data to 00ab: failure";
    }
    void flood()
    {
        QFETCH(QString, args);
        QFETCH(int, status);
        QFETCH(QString, expected);
        FloodedLine line;
        run(QStringList{"-p", line.path, "--timeout", "200"} + args.split(QLatin1Char(' ')));
        QVERIFY2(last.status == status, qPrintable(QString::number(last.status) + last.err));
        QVERIFY((status ? last.err : last.out).contains(expected));
        if (status != 0) {
            QCOMPARE(last.err.count("rfcfg: note: unsolicited"), 100);
            QVERIFY(last.err.contains(
                QRegularExpression("note: \\d+ more unsolicited frames not shown\n")));
        }
    }

    // A report later than its timeout is counted late, not as the next send's answer; a send is
    // skipped while the port still holds the previous frame; an interrupt before any send
    // completed measured nothing.
    void linkTestFaults_data()
    {
        QTest::addColumn<LinkFault>("fault");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("expected"); // on standard output
        QTest::newRow("late reports")
            << LinkFault::LateReports << "--timeout 600 --json" << 4
            << QStringList{"\"acknowledged\":0,", "\"late\":3,", "\"no_reply\":3,"};
        QTest::newRow("line does not drain")
            << LinkFault::StuckLine << "--timeout 200" << 3
            << QStringList{"sent 1, acknowledged 0, failed 0, no reply 1;",
                           "skipped sends: 2 (the port still held the previous frame)\n"};
        QTest::newRow("interrupted before any send completed")
            << LinkFault::NoReplyInterrupted << "--timeout 60000" << 4
            << QStringList{"interrupted after 0 frames\nsent 0,"};
    }
    void linkTestFaults()
    {
        QFETCH(LinkFault, fault);
        QFETCH(QString, args);
        QFETCH(int, status);
        QFETCH(QStringList, expected);
        VirtualModule module;
        PtyPair stuck;
        QVERIFY(module.start() && stuck.isValid());
        QString path = module.devicePath();
        std::function<void(QProcess &)> whileRunning;
        switch (fault) {
        case LinkFault::LateReports:
            module.setReplyDelay(800);
            break;
        case LinkFault::StuckLine:
            QVERIFY(stuck.fillLine() > 0);
            path = stuck.slavePath();
            break;
        case LinkFault::NoReplyInterrupted:
            connect(&module, &VirtualModule::requestReceived, &module,
                    [&] { module.dropNextReply(); });
            whileRunning = [&](QProcess &process) {
                QTRY_VERIFY_WITH_TIMEOUT(module.requestsHandled() >= 1, 30000);
                ::kill(pid_t(process.processId()), SIGINT);
            };
            break;
        }
        run(QStringList{"-p", path, "send", "1234", "01", "--count", "3", "--interval", "0"} +
                args.split(QLatin1Char(' ')),
            whileRunning);
        QVERIFY2(last.status == status, qPrintable(QString::number(last.status) + last.err));
        for (const QString &text : expected)
            QVERIFY2(last.out.contains(text), qPrintable(last.out));
    }

    // Replies that match their request but cannot be believed, or are no answer at all.
    void hostileReplies_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QByteArray>("bogus"); // sent first; the real reply only for a success
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("version date not decimal")
            << "version" << withChecksum("01 00 86 07 00 10 02 00 2a 13 1f") << 1
            << "reply to version is malformed: its release date bytes 2a 13 1f are not decimal";
        QTest::newRow("route counts relays it lacks")
            << "route 1234" << withChecksum("05 00 88 09 34 12 00 00 05 02 00 03 00") << 1
            << "reply to route is malformed: it counts 5 relays but carries 2";
        QTest::newRow("version reply too long")
            << "version"
            << withChecksum(("01 00 86 9b" + QByteArray(" 11").repeated(155)).constData()) << 4
            << "reply to version is too long (160 bytes, at most 152";
        QTest::newRow("route reply without a target")
            << "route 1234" << withChecksum("05 00 88 00") << 0 << "route to 1234: 2 relays";
    }
    void hostileReplies()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, bogus);
        QFETCH(int, status);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        connect(&module, &VirtualModule::requestReceived, &module, [&] {
            module.sendUnsolicited(bogus);
            if (status != 0)
                module.dropNextReply();
        });
        run(QStringList{"-p", module.devicePath(), "--timeout", "5000"} +
            args.split(QLatin1Char(' ')));
        checkOutcome(status, expected);
    }

    void monitor_data()
    {
        QTest::addColumn<bool>("json");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("text")
            << false
            << "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  01 00 86 07 00 10 02 "
               "00 25 03 14 a0  version 10\\.02, released 2014-03-25$";
        QTest::newRow("json") << true
                              << "^{\"decoded\":\"data to 00ab: failure \\(status 0x02\\)\","
                                 "\"hex\":\"05 00 81 03 ab 00 02 2e\",\"time\":\"\\d{4}-.*Z\"}$";
    }
    void monitor()
    {
        QFETCH(bool, json);
        QFETCH(QString, pattern);
        VirtualModule module;
        QVERIFY(module.start());
        // Sent until the monitor has seen two, with noise between, whenever it starts to listen.
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, &module, [&] {
            module.sendUnsolicited(json ? withChecksum("05 00 81 03 ab 00 02")
                                        : withChecksum("01 00 86 07 00 10 02 00 25 03 14"));
            module.sendUnsolicited(hex("ff 00 17"));
        });
        ticker.start(50);
        QStringList args{"-p", module.devicePath(), "monitor", "--count", "2"};
        if (json)
            args << "--json";
        run(args);
        QCOMPARE(last.status, 0);
        const QStringList lines = last.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        for (const QString &line : lines)
            QVERIFY2(QRegularExpression(pattern).match(line).hasMatch(), qPrintable(line));
    }

    // Refused with exit status 2 before anything is sent: profile values that are not exactly
    // what their key takes, files that are no profile, an empty port path.
    void refusedBeforeSending_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("expected");
        const QString set = QStringLiteral("-p PORT config set --from ");
        QTest::newRow("fraction") << set + "PROFILE" << QByteArray(R"({"config":{"channel":7.5}})")
                                  << "channel: 7.5 is not allowed";
        QTest::newRow("negative fraction")
            << set + "PROFILE" << QByteArray(R"({"config":{"channel":-1.5}})")
            << "channel: -1.5 is not allowed";
        QTest::newRow("beyond 32 bits")
            << set + "PROFILE" << QByteArray(R"({"config":{"channel":4294967301}})")
            << "channel: 4294967301 is not allowed";
        QTest::newRow("number as address")
            << set + "PROFILE" << QByteArray(R"({"config":{"address":1234}})")
            << "address: 1234 is not an address; use exactly four hex digits, such as 00a1";
        QTest::newRow("flag as list value")
            << set + "PROFILE" << QByteArray(R"({"config":{"whitelist":true}})")
            << "whitelist: true is not allowed";
        QTest::newRow("lora not a flag")
            << set + "PROFILE" << QByteArray(R"({"lora":"yes","config":{"channel":"3"}})")
            << "lora is not true or false";
        QTest::newRow("device") << set + "/dev/zero" << QByteArray()
                                << "/dev/zero is not a regular file";
        QTest::newRow("pipe without writer")
            << set + "FIFO" << QByteArray() << "is not a regular file";
        QTest::newRow("larger than 1 MiB")
            << set + "LARGE" << QByteArray() << "is larger than 1 MiB";
        QTest::newRow("empty port")
            << QStringLiteral("-p EMPTY version") << QByteArray() << "-p: the port path is empty";
    }
    void refusedBeforeSending()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, profile);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir dir;
        QFile file(dir.filePath("profile.json"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(profile) == profile.size());
        file.close();
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
        // A valid profile, only too large.
        QFile large(dir.filePath("large.json"));
        QVERIFY(large.open(QIODevice::WriteOnly));
        large.write(R"({"config":{"channel":"3"}})" + QByteArray(1024 * 1024, ' '));
        large.close();
        const QMap<QString, QString> placeholders = {{"PORT", module.devicePath()},
                                                     {"PROFILE", file.fileName()},
                                                     {"FIFO", dir.filePath("fifo")},
                                                     {"LARGE", large.fileName()},
                                                     {"EMPTY", QString()}};
        QStringList argv;
        for (const QString &word : args.split(QLatin1Char(' ')))
            argv << placeholders.value(word, word);
        run(argv);
        checkOutcome(2, expected);
        QCOMPARE(module.requestsHandled(), quint64(0));
    }

    // config set changes the named keys' bits and nothing else, and verifies the whole record.
    void configSetKeepsOtherBits_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("lostByte"); // cleared by the module after the write, or -1
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        // Reserved byte 11, bit 3 of the serial byte, whitelist bits, LoRa bytes without --lora.
        const QByteArray record = hex("a5 a5 00 00 00 00 34 12 01 00 03 5a 03 4b 08 09");
        QTest::newRow("channel") << record << "channel=7" << -1
                                 << hex("a5 a5 07 00 00 00 34 12 01 00 03 5a 03 4b 08 09") << 0
                                 << "verified:";
        QTest::newRow("parity within the serial byte")
            << record << "uart_parity=even" << -1
            << hex("a5 a5 00 00 00 00 34 12 01 00 03 5a 03 4d 08 09") << 0 << "verified:";
        QTest::newRow("whitelist off")
            << record << "whitelist=off" << -1
            << hex("a5 a5 00 00 00 00 34 12 01 00 00 5a 03 4b 08 09") << 0 << "verified:";
        QTest::newRow("reserved byte lost")
            << record << "channel=7" << 11 << hex("a5 a5 07 00 00 00 34 12 01 00 03 00 03 4b 08 09")
            << 1 << "verification failed: byte 11 wrote 5a, reads 00";
    }
    void configSetKeepsOtherBits()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, change);
        QFETCH(int, lostByte);
        QFETCH(QByteArray, after);
        QFETCH(int, status);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        protocol::ConfigRecord &record = module.behaviour().record;
        std::copy(before.begin(), before.end(), record.begin());
        connect(&module, &VirtualModule::requestReceived, this, [&](const QByteArray &request) {
            if (lostByte >= 0 && quint8(request[2]) == 0x01) // the write
                QTimer::singleShot(0, &module, [&] { record[size_t(lostByte)] = 0; });
        });
        run({"-p", module.devicePath(), "--timeout", "5000", "config", "set", change});
        checkOutcome(status, expected);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(record.data()), int(record.size())),
                 after);
    }

    // Output nobody can read ends the command with exit status 5 and a line on standard error,
    // also with SIGPIPE ignored as services run.
    void outputFailure_data()
    {
        QTest::addColumn<QString>("script"); // $1 rfcfg, $2 the port
        QTest::addColumn<int>("lines");      // on standard output
        QTest::addColumn<QString>("expected");
        QTest::newRow("config get --json, full disk")
            << R"("$1" -p "$2" config get --json > /dev/full; echo "exit $?" >&2)" << 0
            << "rfcfg: cannot write standard output: No space left on device\nexit 5\n";
        QTest::newRow("help, full disk")
            << R"("$1" --help > /dev/full; echo "exit $?" >&2)" << 0
            << "rfcfg: cannot write standard output: No space left on device\nexit 5\n";
        QTest::newRow("monitor, closed pipe")
            << R"(trap '' PIPE; { "$1" -p "$2" monitor; echo "exit $?" >&2; } | head -1)" << 1
            << "rfcfg: cannot write standard output: Broken pipe\nexit 5\n";
    }
    void outputFailure()
    {
        QFETCH(QString, script);
        QFETCH(int, lines);
        QFETCH(QString, expected);
        VirtualModule module;
        QVERIFY(module.start());
        QTimer ticker; // frames for the monitor, whenever it starts to listen
        connect(&ticker, &QTimer::timeout, &module,
                [&] { module.sendUnsolicited(withChecksum("05 00 81 03 ab 00 02")); });
        ticker.start(50);
        keepDescriptorsFromChildren();
        QProcess shell;
        // Its own process group, so a command that does not end is ended with the shell.
        shell.setChildProcessModifier([] { ::setpgid(0, 0); });
        const auto endGroup = qScopeGuard([&] {
            if (shell.state() != QProcess::NotRunning)
                ::kill(-pid_t(shell.processId()), SIGKILL);
        });
        shell.start(QStringLiteral("/bin/sh"),
                    {"-c", script, "sh", QStringLiteral(RFCFG_BINARY), module.devicePath()});
        QVERIFY(shell.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(shell.state() == QProcess::NotRunning, 60000);
        const QString out = QString::fromUtf8(shell.readAllStandardOutput());
        const QString err = QString::fromUtf8(shell.readAllStandardError());
        QCOMPARE(out.count(QLatin1Char('\n')), lines);
        QVERIFY2(err.endsWith(expected), qPrintable(err));
    }

    // One device under two names, held by another program under either: refused as busy.
    void deviceInUse_data()
    {
        QTest::addColumn<bool>("lockViaLink");
        QTest::newRow("held by its link, opened as the device") << true;
        QTest::newRow("held as the device, opened by its link") << false;
    }
    void deviceInUse()
    {
        QFETCH(bool, lockViaLink);
        VirtualModule module;
        QVERIFY(module.start());
        const QString device = QFileInfo(module.devicePath()).symLinkTarget();
        QVERIFY(!device.isEmpty());
        const int fd = ::open(QFile::encodeName(lockViaLink ? module.devicePath() : device),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        run({"-p", lockViaLink ? device : module.devicePath(), "version"});
        ::close(fd);
        checkOutcome(3, "the port is in use by another program");
        QCOMPARE(module.requestsHandled(), quint64(0));
    }
};

QTEST_GUILESS_MAIN(RfcfgTest)
#include "tst_rfcfg.moc"
