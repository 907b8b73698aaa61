// The network map: the model from scripted replies, its files, the feed from a real link, and
// rfcfg scan against the virtual module on a pseudo-terminal.
#include "network.h"
#include "network/networkmap.h"
#include "protocol/payloads.h"
#include "serial/linktest.h"
#include "serial/mapfeeder.h"
#include "serial/session.h"
#include "virtualmodule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using network::NetworkMap;
using vmodule::VirtualModule;

namespace {

constexpr qint64 minute = 60 * 1000;
const serial::LineSettings plain{9600, QSerialPort::NoParity, QSerialPort::OneStop};

quint16 hex(const QString &word)
{
    return quint16(word.toUInt(nullptr, 16));
}

// Feeds the map one line at a time; the clock starts at 1e12 ms and moves with "wait M":
//   own ADDR | route TARGET ok RELAY... | route TARGET fail CODE | route TARGET silent |
//   data TARGET CODE | wait MINUTES
qint64 play(NetworkMap &map, const QString &script)
{
    qint64 now = 1'000'000'000'000;
    for (const QString &line : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList w = line.simplified().split(QLatin1Char(' '));
        now += 1000;
        if (w[0] == QLatin1String("own")) {
            map.setOwnAddress(hex(w[1]), now);
        } else if (w[0] == QLatin1String("wait")) {
            now += w[1].toInt() * minute;
        } else if (w[0] == QLatin1String("data")) {
            map.addDataResult(hex(w[1]), w[2].toInt(nullptr, 16), 12.5, now);
        } else if (w[2] == QLatin1String("ok")) {
            QList<quint16> relays;
            for (const QString &r : w.mid(3))
                relays << hex(r);
            map.addRouteResult(hex(w[1]), 0, relays, 3.0, now);
        } else if (w[2] == QLatin1String("fail")) {
            map.addRouteResult(hex(w[1]), w[3].toInt(nullptr, 16), {}, 3.0, now);
        } else {
            map.addRouteNoReply(hex(w[1]), now);
        }
    }
    return now;
}

// Every link as "a>b state" (a the end nearer the own module), sorted.
QString linksText(const NetworkMap &map, qint64 now)
{
    QStringList words;
    for (const network::Link &l : map.links()) {
        const auto state = map.linkState(l, now);
        words << network::nodeName(l.a) + QLatin1Char('>') + network::nodeName(l.b) +
                     (state == network::LinkState::Fresh          ? QString()
                      : state == network::LinkState::Contradicted ? QStringLiteral(" contradicted")
                                                                  : QStringLiteral(" aged"));
    }
    words.sort();
    return words.join(QLatin1String(", "));
}

QString hopsText(const NetworkMap &map)
{
    QStringList words;
    const auto hops = map.hopCounts();
    for (auto it = hops.begin(); it != hops.end(); ++it) {
        if (it.key() != network::ownNode)
            words << network::nodeName(it.key()) + QLatin1Char(':') + QString::number(*it);
    }
    words.sort();
    return words.join(QLatin1Char(' '));
}

// A target's history as "route:0 route:02 route:- data:04".
QString historyText(const NetworkMap &map, quint16 target)
{
    QStringList words;
    for (const network::Result &r : map.targets().value(target).history)
        words << (r.kind == network::Result::Kind::Route ? QStringLiteral("route:")
                                                         : QStringLiteral("data:")) +
                     (r.status == network::Result::noReply ? QStringLiteral("-")
                                                           : QString::asprintf("%02x", r.status));
    return words.join(QLatin1Char(' '));
}

} // namespace

class NetworkMapTest : public QObject
{
    Q_OBJECT

    struct Run
    {
        int status = -1;
        QString out, err;
    };
    Run last;

    void rfcfg(const QStringList &args, const std::function<void(QProcess &)> &whileRunning = {})
    {
        QProcess process;
        process.start(QStringLiteral(RFCFG_BINARY), args);
        QVERIFY(process.waitForStarted());
        if (whileRunning)
            whileRunning(process);
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 120000);
        last = {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private slots:
    // What the module's replies teach, in the order they came.
    void model_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("links");
        QTest::addColumn<QString>("hops");
        QTest::addColumn<QString>("history1234");
        QTest::newRow("hops in route order") << "route 1234 ok 0002 0003"
                                             << "0002>0003, 0003>1234, own>0002"
                                             << "0002:1 0003:2 1234:3"
                                             << "route:00";
        QTest::newRow("direct neighbour") << "route 1234 ok"
                                          << "own>1234"
                                          << "1234:1"
                                          << "route:00";
        QTest::newRow("links shared by two routes merged")
            << "route 1234 ok 0002 0003; route 0004 ok 0002"
            << "0002>0003, 0002>0004, 0003>1234, own>0002"
            << "0002:1 0003:2 0004:2 1234:3"
            << "route:00";
        QTest::newRow("fewest hops win") << "route 1234 ok 0002 0003 0004; route 0004 ok 0005"
                                         << "0002>0003, 0003>0004, 0004>1234, 0005>0004, "
                                            "own>0002, own>0005"
                                         << "0002:1 0003:2 0004:2 0005:1 1234:4"
                                         << "route:00";
        QTest::newRow("another way contradicts the old hops")
            << "route 1234 ok 0002 0003; route 1234 ok 0004"
            << "0002>0003 contradicted, 0003>1234 contradicted, 0004>1234, own>0002 "
               "contradicted, own>0004"
            << "0004:1 1234:2"
            << "route:00 route:00";
        QTest::newRow("a later route confirms a contradicted link again")
            << "route 1234 ok 0002 0003; route 1234 ok 0004; route 0003 ok 0002"
            << "0002>0003, 0003>1234 contradicted, 0004>1234, own>0002, own>0004"
            << "0002:1 0003:2 0004:1 1234:2"
            << "route:00 route:00";
        QTest::newRow("the same route again keeps every link")
            << "route 1234 ok 0002; wait 20; route 1234 ok 0002"
            << "0002>1234, own>0002"
            << "0002:1 1234:2"
            << "route:00 route:00";
        QTest::newRow("unconfirmed for too long: aged") << "route 1234 ok 0002; wait 31"
                                                        << "0002>1234 aged, own>0002 aged"
                                                        << "0002:1 1234:2"
                                                        << "route:00";
        QTest::newRow("aged until confirmed") << "route 1234 ok 0002; wait 31; route 0002 ok"
                                              << "0002>1234 aged, own>0002"
                                              << "0002:1 1234:2"
                                              << "route:00";
        QTest::newRow("failures kept with their codes")
            << "route 1234 ok 0002; route 1234 fail 02; route 1234 silent; data 1234 04; "
               "data 1234 00"
            << "0002>1234 contradicted, own>0002"
            << "0002:1 1234:2"
            << "route:00 route:02 route:- data:04 data:00";
        QTest::newRow("a target never found has no links") << "route 1234 fail 03"
                                                           << ""
                                                           << ""
                                                           << "route:03";
        QTest::newRow("the own address as a relay or target is the own module")
            << "own 0001; route 0001 ok; route 1234 ok 0001 0002"
            << "0002>1234, own>0002"
            << "0002:1 1234:2"
            << "route:00";
    }
    void model()
    {
        QFETCH(QString, script);
        QFETCH(QString, links);
        QFETCH(QString, hops);
        QFETCH(QString, history1234);
        NetworkMap map;
        const qint64 now = play(map, script);
        QCOMPARE(linksText(map, now), links);
        QCOMPARE(hopsText(map), hops);
        QCOMPARE(historyText(map, 0x1234), history1234);
    }

    // A day of link tests stays small: the history keeps the newest, the totals count all.
    void historyIsBounded()
    {
        NetworkMap map;
        for (int i = 0; i < 1000; ++i)
            map.addDataResult(0x1234, i % 10 == 0 ? 2 : 0, 1.0, 1000 + i);
        const network::Target t = map.targets().value(0x1234);
        QCOMPARE(t.history.size(), NetworkMap::defaultHistoryLimit);
        QCOMPARE(t.history.last().timeMs, 1999);
        QCOMPARE(t.sendsDelivered, 900);
        QCOMPARE(t.sendsFailed, 100);
    }

    // Saved and read back, a map is the same map.
    void jsonRoundTrip()
    {
        NetworkMap map;
        const qint64 now = play(map, "own 00aa; route 1234 ok 0002 0003; route 1234 ok 0004; "
                                     "route 0005 fail 02; route 0006 silent; data 1234 00; wait "
                                     "40; route 0007 ok 0004");
        NetworkMap back;
        QString error;
        QVERIFY2(back.fromJson(map.toJson(), &error), qPrintable(error));
        QCOMPARE(back.toJson(), map.toJson());
        QCOMPARE(linksText(back, now), linksText(map, now));
        QCOMPARE(hopsText(back), hopsText(map));
        QCOMPARE(historyText(back, 0x1234), historyText(map, 0x1234));
        QCOMPARE(back.ownAddress(), std::optional<quint16>(0x00aa));
    }

    // A file that is no map of this program's is refused with the reason, the map kept.
    void badFilesRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");
        const QByteArray head = R"({"format":"rfcfgtool-network-map","version":1,)";
        QTest::newRow("not JSON") << QByteArray("{nodes") << "not JSON";
        QTest::newRow("another format") << QByteArray(R"({"version":1})") << "not a network map";
        QTest::newRow("a newer version")
            << QByteArray(R"({"format":"rfcfgtool-network-map","version":2})") << "version 2";
        QTest::newRow("bad own address") << head + R"("own":"12"})"
                                         << "\"own\"";
        QTest::newRow("link to an unknown node")
            << head + R"("nodes":[{"address":"own"}],"links":[{"from":"own","to":"0002"}]})"
            << "link 0: an end is not among the nodes";
        QTest::newRow("bad time") << head +
                                         R"("nodes":[{"address":"0002","first_seen":"yesterday"}]})"
                                  << "node 0";
        QTest::newRow("result of unknown kind")
            << head + R"("targets":[{"target":"1234","history":[{"kind":"ping"}]}]})"
            << "unknown kind 'ping'";
    }
    void badFilesRefused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        NetworkMap map;
        play(map, "route 1234 ok 0002");
        const QByteArray before = map.toJson();
        QString error;
        QVERIFY(!map.fromJson(json, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(map.toJson(), before);
    }

    // Graphviz reads the map, every node and link in it.
    void dotAcceptedByGraphviz()
    {
        const QString dot = QStandardPaths::findExecutable(QStringLiteral("dot"));
        if (dot.isEmpty())
            QSKIP("graphviz is not installed (scripts/test installs it)");
        NetworkMap map;
        const qint64 now = play(map, "own 0001; route 1234 ok 0002 0003; route 1234 ok 0004; "
                                     "route 0005 fail 02; wait 40; route 0006 ok 0004");
        QProcess process;
        process.start(dot, {QStringLiteral("-Tcanon")});
        process.write(map.toDot(now));
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        const QString canon = QString::fromUtf8(process.readAllStandardOutput());
        QCOMPARE(canon.count(QStringLiteral(" -- ")), 6);
        QVERIFY(canon.contains(QStringLiteral("(own)")));
        // Three contradicted links, and 0002, 0003 and 0005, which no current route reaches.
        QCOMPARE(canon.count(QStringLiteral("style=dashed")), 3 + 3);
        QCOMPARE(canon.count(QStringLiteral("style=dotted")), 1); // 0004-1234, aged
    }

    // Targets as rfcfg scan and the window's field take them.
    void targetLists_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("addresses"); // or "error: WORDS"
        QTest::addColumn<bool>("whitelist");
        QTest::newRow("addresses and a range") << "0x0010 0003-0005, 0004 ABCD"
                                               << "0010 0003 0004 0005 abcd" << false;
        QTest::newRow("a file") << "@FILE 0001"
                                << "0002 0020 0021 0001" << false;
        QTest::newRow("whitelist") << "whitelist 0002"
                                   << "0002" << true;
        QTest::newRow("backward range") << "0005-0001"
                                        << "error: not a range" << false;
        QTest::newRow("three digits") << "123"
                                      << "error: '123' is not an address" << false;
        QTest::newRow("missing file") << "@/nonexistent/x"
                                      << "error: not a readable file" << false;
        QTest::newRow("a file naming a file") << "@NESTED"
                                              << "error: line 2: '@x'" << false;
    }
    void targetLists()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("targets"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# near ones\n0002\n\n0020-0021  # the far pair\n");
        file.close();
        QFile nested(dir.filePath("nested"));
        QVERIFY(nested.open(QIODevice::WriteOnly));
        nested.write("0002\n@x\n");
        nested.close();
        QFETCH(QString, text);
        QFETCH(QString, addresses);
        QFETCH(bool, whitelist);
        text.replace("@FILE", "@" + file.fileName()).replace("@NESTED", "@" + nested.fileName());
        QString error;
        const auto list = network::parseTargetText(text, &error);
        const QString expected = addresses;
        if (expected.startsWith("error: ")) {
            QVERIFY(!list);
            QVERIFY2(error.contains(expected.mid(7)), qPrintable(error));
            return;
        }
        QVERIFY2(list, qPrintable(error));
        QStringList words;
        for (quint16 a : list->addresses)
            words << network::nodeName(a);
        QCOMPARE(words.join(' '), expected);
        QCOMPARE(list->whitelist, whitelist);
    }

    // Whoever asks over a link (a session's operations, a link test), the map learns from the
    // replies.
    void fedByEverySender()
    {
        VirtualModule module;
        QVERIFY(module.start());
        serial::ModuleLink link;
        QVERIFY(!link.open(module.devicePath(), plain));
        serial::Session session(&link);
        NetworkMap map;
        serial::MapFeeder feeder(&link, &map);
        QSignalSpy changed(&feeder, &serial::MapFeeder::changed);
        const auto finish = [](serial::Operation *operation) {
            QSignalSpy finished(operation, &serial::Operation::finished);
            QVERIFY(finished.wait(30000));
        };
        finish(session.readConfig());
        const auto route = [](quint16 t) {
            const auto p = protocol::routeSearchPayload({quint8(t >> 8), quint8(t)}, 6);
            return QByteArrayView(p.data(), p.size()).toByteArray();
        };
        finish(session.routeSearch(route(0x1234)));
        finish(session.routeSearch(route(0x0005)));
        protocol::DataSendRequest send;
        send.target = {0x00, 0xab};
        send.routeMode = 1;
        send.hopIndex = 6;
        const QByteArray frame = protocol::commandFrame(
            protocol::group::network, protocol::code::sendData, *protocol::dataSendPayload(send));
        serial::LinkTest test(&link);
        QSignalSpy ended(&test, &serial::LinkTest::finished);
        test.start({10, 3000, 3, 0, true}, [&] { return std::optional<QByteArray>(frame); });
        QVERIFY(ended.wait(30000));

        QCOMPARE(map.ownAddress(), std::optional<quint16>(0x0001));
        QCOMPARE(hopsText(map), QStringLiteral("0002:1 0003:2 1234:3"));
        QCOMPARE(historyText(map, 0x1234), QStringLiteral("route:00"));
        QCOMPARE(historyText(map, 0x0005), QStringLiteral("route:02"));
        QCOMPARE(historyText(map, 0x00ab), QStringLiteral("data:00 data:00 data:00"));
        QVERIFY(map.targets().value(0x00ab).history.first().latencyMs >= 0);
        QCOMPARE(changed.size(), 1 + 2 + 3);
    }

    // A random mesh is connected, the same for the same seed (in the simulator's output too),
    // and spreads its hop counts past the hop limit.
    void randomNetwork_data()
    {
        QTest::addColumn<int>("nodes");
        QTest::addColumn<int>("seed");
        QTest::addColumn<int>("fewestFarHops"); // the farthest node is at least so far
        QTest::newRow("demo's 20") << 20 << 7 << 3;
        QTest::newRow("100") << 100 << 1 << 8;
        QTest::newRow("500") << 500 << 3 << 8;
    }
    void randomNetwork()
    {
        QFETCH(int, nodes);
        QFETCH(int, seed);
        QFETCH(int, fewestFarHops);
        const vmodule::Network mesh = vmodule::Network::random(nodes, quint32(seed));
        QCOMPARE(mesh.nodes().size(), nodes);
        int farthest = 0;
        for (quint16 node : mesh.nodes()) {
            const QList<quint16> path = mesh.shortestPath(0x0001, node);
            QVERIFY2(!path.isEmpty(), qPrintable(network::nodeName(node)));
            farthest = std::max(farthest, int(path.size()) - 1);
        }
        QVERIFY2(farthest >= fewestFarHops, qPrintable(QString::number(farthest)));
        QCOMPARE(vmodule::Network::random(nodes, quint32(seed)).toText(), mesh.toText());
        QVERIFY(vmodule::Network::random(nodes, quint32(seed) + 1).toText() != mesh.toText());
        QProcess sim;
        sim.start(QStringLiteral(SIMULATOR), {"--random-network", QString::number(nodes), "--seed",
                                              QString::number(seed), "--print-network"});
        QVERIFY(sim.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(sim.readAllStandardOutput()), mesh.toText());
    }

    // rfcfg scan against a module whose network file the test knows: every target within the
    // hop limit comes with a shortest route along the file's links, the others with the
    // module's status.
    void scanFollowsTheNetwork_data()
    {
        QTest::addColumn<int>("maxHops");
        QTest::newRow("7 hops") << 7;
        QTest::newRow("3 hops") << 3;
        QTest::newRow("1 hop") << 1;
    }
    void scanFollowsTheNetwork()
    {
        QFETCH(int, maxHops);
        // A ring with spokes and a tail, an island and a node with no link.
        const auto network = vmodule::Network::parse(
            "link 0001 0002\nlink 0002 0003\nlink 0003 0004\nlink 0004 0005\nlink 0005 0001\n"
            "link 0002 0010\nlink 0010 0011\nlink 0011 0012\nlink 0012 0013\nlink 0013 0014\n"
            "link 0030 0031\nnode 0040\n");
        QVERIFY(network);
        VirtualModule module(*network);
        QVERIFY(module.start());
        QTemporaryDir dir;
        const QString dotPath = dir.filePath("map.dot"), mapPath = dir.filePath("map.json");
        rfcfg({"-p", module.devicePath(), "--timeout", "5000", "scan", "0002-0005", "0010-0014",
               "0030", "0040", "0050", "--max-hops", QString::number(maxHops), "--json", "--dot",
               dotPath, "--map", mapPath});
        QVERIFY2(last.status == 0, qPrintable(last.err));
        const QJsonObject doc = QJsonDocument::fromJson(last.out.toUtf8()).object();
        const QJsonArray targets = doc.value("targets").toArray();
        QCOMPARE(targets.size(), 12);
        QCOMPARE(doc.value("own").toString(), QStringLiteral("0001"));
        for (const QJsonValue &v : targets) {
            const QJsonObject t = v.toObject();
            const quint16 target = hex(t.value("target").toString());
            QCOMPARE(t.value("target").toString().size(), 4);
            const QList<quint16> shortest = network->shortestPath(0x0001, target);
            QList<quint16> route{0x0001};
            for (const QJsonValue &r : t.value("relays").toArray()) {
                QCOMPARE(r.toString().size(), 4);
                route << hex(r.toString());
            }
            route << target;
            const int status = t.value("status").toInt(-1);
            if (!shortest.isEmpty() && shortest.size() - 1 <= maxHops) {
                QCOMPARE(status, 0);
                QCOMPARE(route.size(), shortest.size());
                for (int i = 0; i + 1 < route.size(); ++i)
                    QVERIFY2(network->linked(route[i], route[i + 1]),
                             qPrintable(t.value("target").toString()));
            } else {
                const int expected = !network->hasNode(target) ? 0x01
                                     : shortest.isEmpty()      ? 0x02
                                                               : 0x03;
                QCOMPARE(status, expected);
                QVERIFY(t.value("relays").toArray().isEmpty());
            }
        }
        // The map file comes back, and a second scan adds to it.
        NetworkMap map;
        QCOMPARE(network::loadMapFile(&map, mapPath), QString());
        QCOMPARE(map.targets().size(), 12);
        rfcfg({"-p", module.devicePath(), "--timeout", "5000", "scan", "0003", "--map", mapPath});
        QVERIFY2(last.status == 0, qPrintable(last.err));
        QVERIFY(last.out.contains(QRegularExpression("\n0003 +(found|failed)")));
        QCOMPARE(network::loadMapFile(&map, mapPath), QString());
        QCOMPARE(map.targets().value(0x0003).history.size(), 2);
        QVERIFY(QFile::exists(dotPath));
    }

    // Ctrl+C ends a long scan with what it learned so far, and the map is still written.
    void interruptedScanPrintsWhatItLearned()
    {
        VirtualModule module(vmodule::Network::random(60, 3));
        QVERIFY(module.start());
        QTemporaryDir dir;
        const QString mapPath = dir.filePath("map.json");
        rfcfg({"-p", module.devicePath(), "scan", "0001-ffff", "--map", mapPath},
              [&](QProcess &process) {
                  QTRY_VERIFY_WITH_TIMEOUT(module.requestsHandled() >= 20, 30000);
                  ::kill(pid_t(process.processId()), SIGINT);
              });
        QCOMPARE(last.status, 0);
        QVERIFY2(last.out.startsWith("interrupted; learned so far:\nTARGET"), qPrintable(last.out));
        QVERIFY(last.out.contains(QRegularExpression("\n0002 +(found|failed) ")));
        NetworkMap map;
        QCOMPARE(network::loadMapFile(&map, mapPath), QString());
        QVERIFY(map.targets().size() >= 19);
    }

    void scanUsage_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("no targets") << "scan"
                                    << "scan takes TARGETS";
        QTest::newRow("bad target") << "scan 12"
                                    << "TARGETS: '12' is not an address";
        QTest::newRow("interval alone") << "scan 0001 --interval 1"
                                        << "--interval needs --repeat";
        QTest::newRow("hops") << "scan 0001 --max-hops 8"
                              << "--max-hops: '8'";
        QTest::newRow("option of another command") << "scan 0001 --count 2"
                                                   << "does not apply";
        QTest::newRow("dot elsewhere") << "route 0001 --dot x"
                                       << "--dot does not apply";
    }
    void scanUsage()
    {
        QFETCH(QString, args);
        QFETCH(QString, error);
        rfcfg(QStringList{"-p", "/nonexistent/port"} + args.split(' '));
        QCOMPARE(last.status, 2);
        QVERIFY2(last.err.contains(error), qPrintable(last.err));
    }

    // route and send add what they learn to the map file too.
    void routeAndSendFeedTheMapFile_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("history");
        QTest::newRow("route") << "route 1234 --max-hops 7"
                               << "1234"
                               << "route:00";
        QTest::newRow("route failed") << "route 0005"
                                      << "0005"
                                      << "route:02";
        QTest::newRow("send") << "send 00ab 01"
                              << "00ab"
                              << "data:00";
        QTest::newRow("link test") << "send 00ab 01 --count 3 --interval 0"
                                   << "00ab"
                                   << "data:00 data:00 data:00";
    }
    void routeAndSendFeedTheMapFile()
    {
        QFETCH(QString, args);
        QFETCH(QString, target);
        QFETCH(QString, history);
        VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir dir;
        const QString mapPath = dir.filePath("map.json");
        for (int run = 0; run < 2; ++run) {
            rfcfg(QStringList{"-p", module.devicePath(), "--timeout", "5000", "--map", mapPath} +
                  args.split(' '));
            QVERIFY2(last.status == 0 || last.status == 1, qPrintable(last.err));
        }
        NetworkMap map;
        QCOMPARE(network::loadMapFile(&map, mapPath), QString());
        QCOMPARE(historyText(map, hex(target)), history + ' ' + history);
    }

    // What a map learned before it was named joins the kept one, in time order.
    void mergeJoinsTwoMaps()
    {
        NetworkMap kept, learned;
        play(kept, "own 0001; route 1234 ok 0002 0003; data 1234 00");
        const qint64 now = play(learned, "wait 60; route 1234 ok 0004; route 0005 fail 02");
        kept.merge(learned);
        QCOMPARE(linksText(kept, now), QStringLiteral("0002>0003 contradicted, 0003>1234 "
                                                      "contradicted, 0004>1234, own>0002 "
                                                      "contradicted, own>0004"));
        QCOMPARE(hopsText(kept), QStringLiteral("0004:1 1234:2"));
        QCOMPARE(historyText(kept, 0x1234), QStringLiteral("route:00 data:00 route:00"));
        QCOMPARE(kept.ownAddress(), std::optional<quint16>(0x0001));
        QCOMPARE(kept.targets().value(0x1234).routesFound, 2);
    }

    // A map belongs to one module: another module's map is refused, the file left alone.
    void mapOfAnotherModuleRefused()
    {
        VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir dir;
        const QString mapPath = dir.filePath("map.json");
        NetworkMap other;
        other.setOwnAddress(0x0777, 1);
        QCOMPARE(network::saveMapFile(other, mapPath), QString());
        rfcfg({"-p", module.devicePath(), "scan", "0002", "--map", mapPath});
        QCOMPARE(last.status, 2);
        QVERIFY2(last.err.contains("is the map of module 0777, this module is 0001"),
                 qPrintable(last.err));
        NetworkMap back;
        QCOMPARE(network::loadMapFile(&back, mapPath), QString());
        QVERIFY(back.targets().isEmpty());
    }
};

QTEST_GUILESS_MAIN(NetworkMapTest)
#include "tst_networkmap.moc"
