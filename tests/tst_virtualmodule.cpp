#include "modulebehaviour.h"
#include "network.h"
#include "protocol/frame.h"
#include "protocol/framescanner.h"
#include "protocol/replies.h"
#include "testbytes.h"

#include <QtTest>

using namespace vmodule;

namespace {

QList<QByteArray> frames(const QList<Request> &requests)
{
    QList<QByteArray> list;
    for (const Request &r : requests)
        list << r.frame;
    return list;
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

    void configurationModeIsAcknowledged()
    {
        ModuleBehaviour m;
        QCOMPARE(m.handle({Request::Kind::ConfigMode, "---"}), QByteArray("OK\r\n"));
        QVERIFY(m.inConfigMode);
        QVERIFY(m.handle({Request::Kind::Frame, withChecksum("0100550000")})
                    .isEmpty()); // unknown command
    }
};

QTEST_GUILESS_MAIN(VirtualModuleTest)
#include "tst_virtualmodule.moc"
