#include "modulebehaviour.h"
#include "network.h"
#include "protocol/frame.h"
#include "protocol/framescanner.h"
#include "protocol/replies.h"
#include "testbytes.h"
#include "virtualmodule.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace vmodule;

namespace {

QList<QByteArray> frames(const QList<Request> &requests)
{
    QList<QByteArray> list;
    for (const Request &r : requests)
        list << r.frame;
    return list;
}

// The client's end of the module's device, as a serial program opens it, without waiting.
int openClientEnd(const VirtualModule &module)
{
    return ::open(QFile::encodeName(module.devicePath()).constData(),
                  O_RDWR | O_NOCTTY | O_NONBLOCK);
}

} // namespace

class VirtualModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void scannerFindsFramesInAStream()
    {
        FrameScanner scanner;
        const QByteArray version = hex("0100060007"), reset = hex("0100070006");
        QCOMPARE(frames(scanner.feed(version + reset)), QList<QByteArray>({version, reset}));
        // Split anywhere.
        QCOMPARE(frames(scanner.feed(version.left(2))), QList<QByteArray>());
        QCOMPARE(frames(scanner.feed(version.mid(2))), QList<QByteArray>({version}));
        // Noise in front, and a corrupted frame, are skipped; the next real frame is found.
        QCOMPARE(frames(scanner.feed(hex("ff13") + hex("0100060008") + reset)),
                 QList<QByteArray>({reset}));
        QVERIFY(!scanner.hasPendingBytes());
        QVERIFY(scanner.skippedBytes() >= 7);
    }

    void scannerSeesConfigurationMode()
    {
        FrameScanner scanner;
        QList<Request> found = scanner.feed("-");
        QVERIFY(found.isEmpty());
        found = scanner.feed(QByteArray("--") + hex("0100020003"));
        QCOMPARE(found.size(), 2);
        QCOMPARE(int(found[0].kind), int(Request::Kind::ConfigMode));
        QCOMPARE(found[1].frame, hex("0100020003"));
    }

    void stalledHeaderIsGivenUp()
    {
        FrameScanner scanner;
        // A header that promises 155 bytes, then a real frame: nothing until the stall is seen.
        QVERIFY(scanner.feed(hex("05009b9b") + hex("0100060007")).isEmpty());
        QList<Request> found;
        while (scanner.hasPendingBytes() && found.isEmpty())
            found = scanner.dropStalledByte();
        QCOMPARE(frames(found), QList<QByteArray>({hex("0100060007")}));
    }

    // A header that promises 155 bytes, then a byte every 50 ms for a second: the header is
    // given up 200 ms after it came, so a request that follows is answered during the trickle.
    void stalledHeaderIsGivenUpWhileBytesTrickleIn_data()
    {
        QTest::addColumn<int>("requestAfter"); // trickled bytes before the request
        QTest::newRow("request right behind the header") << 0;
        QTest::newRow("request amid the trickle") << 8;
    }
    void stalledHeaderIsGivenUpWhileBytesTrickleIn()
    {
        QFETCH(int, requestAfter);
        VirtualModule module;
        QVERIFY(module.start());
        QSignalSpy sent(&module, &VirtualModule::replySent);
        const int fd = openClientEnd(module);
        QVERIFY(fd >= 0);
        const auto send = [fd](const QByteArray &bytes) {
            return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
        };
        const QByteArray request = hex("0100060007");
        QVERIFY(send(hex("05009b9b")));
        constexpr int trickledBytes = 20;
        for (int i = 0; i < trickledBytes; ++i) {
            if (i == requestAfter)
                QVERIFY(send(request));
            QTest::qWait(50);
            QVERIFY(send(hex("ff")));
        }
        const int repliesDuringTrickle = int(sent.count());
        ::close(fd);
        QCOMPARE(repliesDuringTrickle, 1);
        QCOMPARE(sent.first().first().toByteArray(),
                 ModuleBehaviour().handle({Request::Kind::Frame, request}));
    }

    void networkPaths()
    {
        const Network n = Network::standard();
        QCOMPARE(n.shortestPath(0x0001, 0x1234), QList<quint16>({0x0001, 0x0002, 0x0003, 0x1234}));
        QCOMPARE(n.shortestPath(0x0001, 0x0004), QList<quint16>({0x0001, 0x0004}));
        QVERIFY(n.shortestPath(0x0001, 0x0005).isEmpty());
        QVERIFY(n.shortestPath(0x0001, 0x7777).isEmpty());

        QString error;
        const auto parsed = Network::parse("# ring\nlink 0001 0002\nlink 0002 00AA # end\n"
                                           "link 00aa 0001\nnode beef\n",
                                           &error);
        QVERIFY2(parsed, qPrintable(error));
        QCOMPARE(parsed->shortestPath(0x0001, 0x00aa), QList<quint16>({0x0001, 0x00aa}));
        QVERIFY(parsed->hasNode(0xbeef));
        QVERIFY(!Network::parse("link 0001\n", &error));
        QVERIFY(error.contains("line 1"));
        QVERIFY(!Network::parse("node 10000\n"));
    }

    void configurationPersistsAcrossReset()
    {
        ModuleBehaviour m;
        const QByteArray record = hex("A5A51F07010134120500010004C3090C");
        const QByteArray write = protocol::commandFrame(0x01, 0x01, record);
        QCOMPARE(m.handle({Request::Kind::Frame, write}), hex("010081010081"));
        QCOMPARE(m.ownAddress(), quint16(0x0005));
        QCOMPARE(m.handle({Request::Kind::Frame, withChecksum("0100070006")}),
                 withChecksum("0100870100"));
        QCOMPARE(m.handle({Request::Kind::Frame, hex("0100020003")}),
                 protocol::commandFrame(0x01, 0x82, record));
        // Without its markers the record is refused and the stored one kept.
        QByteArray bad = record;
        bad[0] = 0;
        QCOMPARE(m.handle({Request::Kind::Frame, protocol::commandFrame(0x01, 0x01, bad)}),
                 withChecksum("0100810101"));
        QCOMPARE(m.handle({Request::Kind::Frame, hex("0100020003")}),
                 protocol::commandFrame(0x01, 0x82, record));
    }

    void versionAndDateAsSet()
    {
        ModuleBehaviour m;
        m.setVersion(0x2, 0x15);
        m.setReleaseDate(QDate(2026, 12, 8));
        const protocol::Reply r =
            protocol::decodeReply(m.handle({Request::Kind::Frame, hex("0100060007")}));
        QCOMPARE(r.text, QStringLiteral("模块程序版本：V2.15 发布日期：2026-12-08\n"));
    }

    // The reply holds the year as two packed decimal digits after 20: the simulator's option
    // and the behaviour's setter take only the years that fit.
    void releaseDateWithinTheReplysCentury_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("error"); // empty: taken
        const QString century = QStringLiteral("carries years 2000 to 2099 only");
        const QString format = QStringLiteral("expects YYYY-MM-DD");
        QTest::newRow("last year of the century before") << "1999-12-31" << century;
        QTest::newRow("first year") << "2000-01-01"
                                    << "";
        QTest::newRow("last year") << "2099-12-31"
                                   << "";
        QTest::newRow("next century") << "2100-01-01" << century;
        QTest::newRow("no such day") << "2014-02-30" << format;
        QTest::newRow("not a date") << "soon" << format;
    }
    void releaseDateWithinTheReplysCentury()
    {
        QFETCH(QString, date);
        QFETCH(QString, error);
        const QByteArray versionRequest = hex("0100060007");
        // A refused date leaves the default.
        const QString shownDate = error.isEmpty() ? date : QStringLiteral("2014-03-25");
        const QString shown = QStringLiteral("发布日期：%1\n").arg(shownDate);

        ModuleBehaviour m;
        QCOMPARE(m.setReleaseDate(QDate::fromString(date, Qt::ISODate)), error.isEmpty());
        QVERIFY(protocol::decodeReply(m.handle({Request::Kind::Frame, versionRequest}))
                    .text.endsWith(shown));

        QProcess sim;
        sim.start(QStringLiteral(SIMULATOR), {"--date", date});
        if (!error.isEmpty()) {
            QVERIFY(sim.waitForFinished(10000));
            QCOMPARE(sim.exitCode(), 1);
            QVERIFY(sim.readAllStandardOutput().isEmpty()); // no device was announced
            const QString stderrText = QString::fromLocal8Bit(sim.readAllStandardError());
            QVERIFY2(stderrText.contains(error), qPrintable(stderrText));
            return;
        }
        QVERIFY(sim.waitForReadyRead(10000)); // the device is announced
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
    }

    void whitelistRoundTrip()
    {
        ModuleBehaviour m;
        const QByteArray entries = hex("CDAB00FFFF00341200010000FFFF00");
        QCOMPARE(m.handle({Request::Kind::Frame, protocol::commandFrame(0x04, 0x01, entries)}),
                 withChecksum("0400810100"));
        QCOMPARE(m.handle({Request::Kind::Frame, hex("0400020006")}),
                 protocol::commandFrame(0x04, 0x82, entries));
    }

    void routeSearchReplies_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("text");
        QTest::newRow("three hops")
            << withChecksum("050008043412070 3")
            << "找节点0x1234的路由SUCCESS! 中继数：02\n中继节点：0x0002 0x0003 \n";
        QTest::newRow("neighbour")
            << withChecksum("0500080404000103") << "找节点0x0004的路由SUCCESS! 中继数：00\n\n";
        QTest::newRow("hop limit too low")
            << withChecksum("0500080434120203") << "找节点0x1234的路由FAILUER! 错误码为：0x03\n";
        QTest::newRow("unreachable")
            << withChecksum("0500080405000703") << "找节点0x0005的路由FAILUER! 错误码为：0x02\n";
        QTest::newRow("unknown") << withChecksum("0500080477770703")
                                 << "找节点0x7777的路由FAILUER! 错误码为：0x01\n";
    }
    void routeSearchReplies()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, text);
        ModuleBehaviour m;
        QCOMPARE(protocol::decodeReply(m.handle({Request::Kind::Frame, request})).text, text);
    }

    void dataSendRouting_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("status");
        // target, ack, hops, mode, [relays], length, data
        QTest::newRow("auto, reachable") << hex("3412000701 0101") << 0;
        QTest::newRow("auto, hop limit") << hex("3412000201 00") << int(status::hopLimit);
        QTest::newRow("forced, reachable") << hex("3412010702 00") << 0;
        QTest::newRow("no routing, neighbour") << hex("0400000100 00") << 0;
        QTest::newRow("no routing, far node") << hex("3412000700 00") << int(status::unreachable);
        QTest::newRow("source route that follows the links")
            << hex("34120007030202000300 02aabb") << 0;
        QTest::newRow("source route that does not")
            << hex("34120007030104 00 00") << int(status::brokenRelayList);
        QTest::newRow("source route beyond the hop limit")
            << hex("34120002030202000300 00") << int(status::hopLimit);
        QTest::newRow("unknown node") << hex("7777000701 00") << int(status::unknownNode);
        QTest::newRow("unreachable node") << hex("0500000701 00") << int(status::unreachable);
        QTest::newRow("length byte off") << hex("3412000701 05aa") << int(status::malformed);
        QTest::newRow("unknown mode") << hex("3412000709 00") << int(status::malformed);
    }
    void dataSendRouting()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, status);
        ModuleBehaviour m;
        const QByteArray reply =
            m.handle({Request::Kind::Frame, protocol::commandFrame(0x05, 0x01, payload)});
        QCOMPARE(reply.size(), 8);
        QCOMPARE(reply.mid(4, 2), payload.left(2));
        QCOMPARE(int(quint8(reply[6])), status);
        QVERIFY(protocol::checksumMatches(reply));
    }

    void routeLongerThanAReplyFrameIsRefused()
    {
        Network chain; // 0001 - 0002 - ... - 0101
        for (quint16 node = 1; node <= 100; ++node)
            chain.addLink(node, node + 1);
        ModuleBehaviour m(chain);
        // Node 0x4d (77) lies behind 75 relays, which one reply frame holds; 78 needs 76.
        const QByteArray fits = m.handle({Request::Kind::Frame, withChecksum("050008044d00ff03")});
        QCOMPARE(fits.size(), 160);
        QCOMPARE(int(quint8(fits[6])), 0);
        QCOMPARE(int(quint8(fits[8])), maxRelaysInRouteReply);
        const QByteArray refused =
            m.handle({Request::Kind::Frame, withChecksum("050008044e00ff03")});
        QCOMPARE(refused, withChecksum("050088034e0003"));
    }

    void repliesTheClientDoesNotReadAreBounded()
    {
        VirtualModule module;
        QVERIFY(module.start());
        QSignalSpy sent(&module, &VirtualModule::replySent);
        const int fd = openClientEnd(module);
        QVERIFY(fd >= 0);
        constexpr int requests = 20000; // 240 KB of replies, far more than the line holds
        const QByteArray stream = hex("0100060007").repeated(requests);
        qsizetype done = 0;
        QElapsedTimer clock;
        clock.start();
        while (done < stream.size() && clock.elapsed() < 20000) {
            const ssize_t n = ::write(fd, stream.constData() + done, size_t(stream.size() - done));
            if (n > 0)
                done += n;
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE_WITH_TIMEOUT(module.requestsHandled(), quint64(requests), 20000);
        QVERIFY(module.queuedReplies() <= VirtualModule::maxQueuedReplies);
        QVERIFY(module.repliesDropped() > 0);
        // Every reply went out, waits, or was dropped and counted.
        QCOMPARE(quint64(sent.count()) + quint64(module.queuedReplies()) + module.repliesDropped(),
                 quint64(requests));
        ::close(fd);
    }

    // What is at the link path before the simulator starts, and how the simulator ends.
    void simulatorLinkTakesNothingOver_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("starts");
        QTest::addColumn<int>("endSignal");
        QTest::addColumn<bool>("takenOverMeanwhile");
        QTest::newRow("nothing; SIGTERM") << "nothing" << true << int(SIGTERM) << false;
        QTest::newRow("nothing; SIGHUP") << "nothing" << true << int(SIGHUP) << false;
        QTest::newRow("dangling link is replaced") << "dangling" << true << int(SIGINT) << false;
        QTest::newRow("link taken over meanwhile is left")
            << "nothing" << true << int(SIGTERM) << true;
        QTest::newRow("regular file is refused") << "file" << false << 0 << false;
        QTest::newRow("live link is refused") << "live" << false << 0 << false;
    }
    void simulatorLinkTakesNothingOver()
    {
        QFETCH(QString, before);
        QFETCH(bool, starts);
        QFETCH(int, endSignal);
        QFETCH(bool, takenOverMeanwhile);
        QTemporaryDir dir;
        const QString path = dir.filePath("module"), other = dir.filePath("other");
        QFile(other).open(QIODevice::WriteOnly);
        if (before == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep");
        } else if (before == "live") {
            QVERIFY(QFile::link(other, path));
        } else if (before == "dangling") {
            QVERIFY(QFile::link(dir.filePath("gone"), path));
        }

        QProcess sim;
        sim.start(QStringLiteral(SIMULATOR), {"--link", path});
        if (!starts) {
            QVERIFY(sim.waitForFinished(10000));
            QCOMPARE(sim.exitCode(), 1);
            QVERIFY(sim.readAllStandardError().contains("not replaced"));
            if (before == "file")
                QCOMPARE(QFileInfo(path).size(), 4);
            else
                QCOMPARE(QFileInfo(path).symLinkTarget(), other);
            return;
        }
        QVERIFY(sim.waitForReadyRead(10000));
        const QString device = QString::fromLocal8Bit(sim.readLine().trimmed());
        QCOMPARE(QFileInfo(path).symLinkTarget(), device);
        if (takenOverMeanwhile) {
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::link(other, path));
        }
        ::kill(pid_t(sim.processId()), endSignal);
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        if (takenOverMeanwhile)
            QCOMPARE(QFileInfo(path).symLinkTarget(), other);
        else
            QVERIFY(!QFileInfo(path).isSymLink() && !QFileInfo::exists(path));
    }

    void simulatorNetworkFileIsARegularFileOfBoundedSize_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("error");
        QTest::newRow("endless device") << "/dev/zero"
                                        << "not a regular file";
        QTest::newRow("directory") << "DIR"
                                   << "not a regular file";
        QTest::newRow("too large") << "BIG"
                                   << "larger than 1048576 bytes";
        QTest::newRow("missing") << "DIR/none"
                                 << "no such file";
    }
    void simulatorNetworkFileIsARegularFileOfBoundedSize()
    {
        QFETCH(QString, file);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QFile big(dir.filePath("big"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(2 * 1024 * 1024));
        big.close();
        file.replace("DIR", dir.path()).replace("BIG", big.fileName());
        QProcess sim;
        sim.start(QStringLiteral(SIMULATOR), {"--network", file});
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(sim.readAllStandardError()).contains(error));
    }

    void configurationModeIsAcknowledged()
    {
        ModuleBehaviour m;
        QCOMPARE(m.handle({Request::Kind::ConfigMode, "---"}), QByteArray("OK\r\n"));
        QVERIFY(m.inConfigMode);
        QVERIFY(m.handle({Request::Kind::Frame, withChecksum("0100550000")})
                    .isEmpty()); // unknown command
    }
    // Each fault switch and the stored serial settings, from the simulator's command line: what
    // a client sees within a quarter second of its requests and in all.
    void simulatorSwitches_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("sends");
        QTest::addColumn<QString>("early"); // hex received within 250 ms, a pattern
        QTest::addColumn<QString>("all");   // hex received in all, a pattern
        const QByteArray version = hex("0100060007"), read = hex("0100020003");
        ModuleBehaviour m;
        const QString reply =
            QString::fromLatin1(m.handle({Request::Kind::Frame, version}).toHex());
        QByteArray corrupt = m.handle({Request::Kind::Frame, version});
        corrupt.back() = char(corrupt.back() ^ 0xff);
        QTest::newRow("delay") << QStringList{"--delay", "500"} << version << 1 << "^$"
                               << "^" + reply + "$";
        QTest::newRow("drop every 2nd") << QStringList{"--drop-every", "2"} << version << 2 << ".*"
                                        << "^" + reply + "$";
        QTest::newRow("corrupt every reply")
            << QStringList{"--corrupt-every", "1"} << version << 1 << ".*"
            << "^" + QString::fromLatin1(corrupt.toHex()) + "$";
        QTest::newRow("split every reply") << QStringList{"--split-every", "1"} << version << 1
                                           << "^" + reply.left(reply.size() / 4 * 2) + "$"
                                           << "^" + reply + "$";
        QTest::newRow("noise before every reply")
            << QStringList{"--noise-every", "1"} << version << 1 << ".*"
            << "^[0-9a-f]{16}" + reply + "$";
        QTest::newRow("unsolicited")
            << QStringList{"--unsolicited-every", "100"} << QByteArray() << 0 << ".*"
            << "^(" + reply + "){2,}$";
        QTest::newRow("serial settings in the record")
            << QStringList{"--serial", "57600,odd,2"} << read << 1 << ".*"
            << "^01008210a5a5.{22}93"; // byte 13: (8 + 1) << 4 | odd << 1 | two stop bits
        QTest::newRow("hang up") << QStringList{"--hang-up-after", "0"} << QByteArray() << 0 << ".*"
                                 << "^$";
    }

    void simulatorSwitches()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, request);
        QFETCH(int, sends);
        QFETCH(QString, early);
        QFETCH(QString, all);
        QProcess sim;
        sim.start(QStringLiteral(SIMULATOR), args);
        QVERIFY(sim.waitForReadyRead(10000));
        const QByteArray device = sim.readLine().trimmed();
        const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (args.constFirst() == QLatin1String("--hang-up-after")) {
            QVERIFY(sim.waitForFinished(10000));
            QCOMPARE(sim.exitCode(), 0);
            QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(device)) || fd < 0 ||
                    ::write(fd, "x", 1) < 0);
            if (fd >= 0)
                ::close(fd);
            return;
        }
        QVERIFY(fd >= 0);
        QByteArray received;
        const auto collect = [&](int ms) {
            QElapsedTimer t;
            t.start();
            char buffer[256];
            while (t.elapsed() < ms) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0)
                    received.append(buffer, n);
                else
                    QTest::qWait(10);
            }
        };
        for (int i = 0; i < sends; ++i) {
            QCOMPARE(::write(fd, request.constData(), size_t(request.size())), request.size());
            collect(i + 1 < sends ? 300 : 250);
        }
        if (sends < 2)
            QVERIFY2(
                QRegularExpression(early).match(QString::fromLatin1(received.toHex())).hasMatch(),
                received.toHex().constData());
        collect(1200);
        ::close(fd);
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QVERIFY2(QRegularExpression(all).match(QString::fromLatin1(received.toHex())).hasMatch(),
                 received.toHex().constData());
    }
};

QTEST_GUILESS_MAIN(VirtualModuleTest)
#include "tst_virtualmodule.moc"
