// Captures: the pcapng blocks written and read back, what the scanner reports of bytes that are
// no frame, captures of real sessions (rfcfg against the virtual module), a killed writer, a
// failed write, and a capture replayed by the virtual module.
#include "capturesession.h"
#include "protocol/framescanner.h"
#include "protocol/pcapng.h"
#include "protocol/replyframe.h"
#include "ptypair.h"
#include "replaybehaviour.h"
#include "serial/modulelink.h"
#include "testbytes.h"
#include "virtualmodule.h"
#include "widgets/capturecontrol.h"

#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using protocol::StreamItem;
using protocol::pcapng::Direction;
namespace pcapng = protocol::pcapng;

Q_DECLARE_METATYPE(Direction)

namespace {

using Kind = StreamItem::Kind;

bool isRequestFrame(const QByteArray &b)
{
    return b.size() >= 5 && protocol::checksumMatches(b) && !(quint8(b[2]) & 0x80);
}

// The packets of one direction, without those that are no frame.
QList<QByteArray> frames(const pcapng::File &file, Direction direction)
{
    QList<QByteArray> list;
    for (const auto &p : file.packets) {
        if (p.direction == direction && p.comment.isEmpty())
            list << p.bytes;
    }
    return list;
}

struct Run
{
    int status = -1;
    QString out, err;
};

Run runRfcfg(const QStringList &args, const std::function<void(QProcess &)> &meanwhile = {})
{
    QProcess process;
    process.start(QStringLiteral(RFCFG_BINARY), args);
    process.waitForStarted();
    if (meanwhile)
        meanwhile(process);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000); }();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class CaptureTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    CapturedSession session;

    const CapturedSession &capturedSession()
    {
        if (session.programSide.isEmpty()) {
            QString error;
            if (!captureEveryCommand(QStringLiteral(RFCFG_BINARY), dir.path(), &session, &error))
                qFatal("capturing the session failed: %s", qPrintable(error));
        }
        return session;
    }

private slots:
    // Each packet reads back as written, whatever its length's padding, direction and comment.
    void blocksRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QString>("comment");
        QTest::newRow("empty") << QByteArray() << Direction::Outbound << QString();
        QTest::newRow("one byte, noise")
            << hex("55") << Direction::Inbound << pcapng::noiseComment();
        QTest::newRow("request") << withChecksum("01 00 06 00") << Direction::Outbound << QString();
        QTest::newRow("configuration mode")
            << QByteArray("---") << Direction::Outbound << pcapng::configModeComment();
        QTest::newRow("no direction")
            << hex("01 02 03 04 05 06") << Direction::Unknown << QStringLiteral("ünïcode");
    }
    void blocksRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Direction, direction);
        QFETCH(QString, comment);
        const pcapng::Interface port{pcapng::linkTypeUser0, "/dev/ttyUSB0", "9600 8E1"};
        const qint64 at = 1'765'000'000'123'456;
        const QByteArray data = pcapng::sectionHeaderBlock() + pcapng::interfaceBlock(port) +
                                pcapng::packetBlock(0, at, direction, bytes, comment);
        QCOMPARE(data.size() % 4, 0);
        const auto file = pcapng::read(data);
        QVERIFY(file);
        QVERIFY(!file->truncated);
        QCOMPARE(file->interfaces.size(), 1);
        QCOMPARE(file->interfaces[0].linkType, pcapng::linkTypeUser0);
        QCOMPARE(file->packets.size(), 1);
        const pcapng::Packet &p = file->packets[0];
        QCOMPARE(p.bytes, bytes);
        QCOMPARE(p.direction, direction);
        QCOMPARE(p.comment, comment);
        QCOMPARE(p.timestampUs, at);
        QCOMPARE(p.interfaceName, port.name);
        QCOMPARE(p.interfaceDescription, port.description);

        // Cut anywhere in the packet, the file still reads, without the packet.
        const qsizetype packetStart =
            data.size() - pcapng::packetBlock(0, at, direction, bytes, comment).size();
        for (qsizetype cut = packetStart + 1; cut < data.size(); ++cut) {
            const auto partial = pcapng::read(QByteArrayView(data).first(cut));
            QVERIFY(partial);
            QVERIFY(partial->truncated);
            QCOMPARE(partial->packets.size(), 0);
            QCOMPARE(partial->interfaces.size(), 1);
        }
    }

    // The reader skips blocks it does not know and refuses what is no pcapng file.
    void readerTolerance()
    {
        QByteArray unknown = hex("bbbbbbbb 10000000 01020304 10000000"); // type, length 16
        const QByteArray data = pcapng::sectionHeaderBlock() + unknown +
                                pcapng::interfaceBlock({pcapng::linkTypeUser0, "a", "b"}) +
                                unknown +
                                pcapng::packetBlock(0, 5, Direction::Inbound, hex("01 02"));
        const auto file = pcapng::read(data);
        QVERIFY(file);
        QCOMPARE(file->packets.size(), 1);
        QCOMPARE(file->packets[0].bytes, hex("01 02"));
        QString error;
        QVERIFY(!pcapng::read(hex("d4c3b2a1 02000400"), &error)); // a classic pcap header
        QVERIFY(!error.isEmpty());
    }

    // A scanner that reports what it skips hands out noise and given-up headers in stream
    // order; the frames it finds are those a scanner that does not report finds.
    void scannerReportsSkippedBytes_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<bool>("giveUp");
        QTest::addColumn<QList<int>>("kinds");
        QTest::addColumn<QList<QByteArray>>("items");
        const QByteArray reply = withChecksum("01 00 86 05 10 02 14 03 25");
        QTest::newRow("noise before a frame") << QList<QByteArray>{hex("aa bb") + reply} << false
                                              << QList<int>{int(Kind::Noise), int(Kind::Frame)}
                                              << QList<QByteArray>{hex("aa bb"), reply};
        QTest::newRow("noise split over reads is one item per read")
            << QList<QByteArray>{hex("aa"), hex("bb") + reply} << false
            << QList<int>{int(Kind::Noise), int(Kind::Noise), int(Kind::Frame)}
            << QList<QByteArray>{hex("aa"), hex("bb"), reply};
        QTest::newRow("corrupted frame then a frame")
            << QList<QByteArray>{hex("01 00 86 01 10 00") + reply} << false
            << QList<int>{int(Kind::Noise), int(Kind::Frame)}
            << QList<QByteArray>{hex("01 00 86 01 10 00"), reply};
        QTest::newRow("stalled header given up, then a frame behind it")
            << QList<QByteArray>{hex("05 00 81 20 77") + reply} << true
            << QList<int>{int(Kind::GivenUp), int(Kind::Frame)}
            << QList<QByteArray>{hex("05 00 81 20 77"), reply};
        QTest::newRow("configuration-mode bytes")
            << QList<QByteArray>{QByteArray("x---")} << false
            << QList<int>{int(Kind::Noise), int(Kind::ConfigMode)}
            << QList<QByteArray>{QByteArray("x"), QByteArray("---")};
    }
    void scannerReportsSkippedBytes()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(bool, giveUp);
        QFETCH(QList<int>, kinds);
        QFETCH(QList<QByteArray>, items);
        protocol::FrameScanner reporting, plain;
        reporting.setReportsSkipped(true);
        QList<StreamItem> found, plainFound;
        for (const QByteArray &read : reads) {
            found += reporting.feed(read);
            plainFound += plain.feed(read);
        }
        if (giveUp) {
            found += reporting.giveUpStalledHeader();
            while (plain.hasPendingBytes() && plainFound.isEmpty())
                plainFound += plain.dropStalledByte();
        }
        QList<int> gotKinds;
        QList<QByteArray> gotItems;
        QList<StreamItem> framesOnly;
        for (const StreamItem &item : found) {
            gotKinds << int(item.kind);
            gotItems << item.frame;
            if (!item.isSkipped())
                framesOnly << item;
        }
        QCOMPARE(gotKinds, kinds);
        QCOMPARE(gotItems, items);
        QCOMPARE(reporting.skippedBytes(), plain.skippedBytes());
        QCOMPARE(framesOnly.size(), plainFound.size());
        for (qsizetype i = 0; i < framesOnly.size(); ++i)
            QCOMPARE(framesOnly[i].frame, plainFound[i].frame);
    }

    // A session of every command: on the program's side requests go out and replies come in,
    // on the module's side the other way round; the same requests in the same order on both;
    // the one corrupted reply is a packet that says it is no frame, the rest answer their
    // request.
    void sessionCapture_data()
    {
        QTest::addColumn<bool>("programSide");
        QTest::newRow("program side") << true;
        QTest::newRow("module side") << false;
    }
    void sessionCapture()
    {
        QFETCH(bool, programSide);
        const CapturedSession &s = capturedSession();
        QString error;
        const auto file = pcapng::readFile(programSide ? s.programSide : s.moduleSide, &error);
        QVERIFY2(file, qPrintable(error));
        QVERIFY(!file->truncated);
        const auto other = pcapng::readFile(programSide ? s.moduleSide : s.programSide);
        QVERIFY(other);
        const Direction requests = programSide ? Direction::Outbound : Direction::Inbound;
        const Direction replies = programSide ? Direction::Inbound : Direction::Outbound;
        for (const auto &i : file->interfaces) {
            QCOMPARE(i.linkType, pcapng::linkTypeUser0);
            QVERIFY2(i.name.endsWith(".tty"), qPrintable(i.name));
            QVERIFY2(i.description == (programSide ? "9600 8N1" : "9600 8E1"),
                     qPrintable(i.description));
        }
        // Every request at most once without its reply (the corrupted one), each reply right
        // after its request.
        const QList<QByteArray> sent = frames(*file, requests);
        QCOMPARE(sent, frames(*other, programSide ? Direction::Inbound : Direction::Outbound));
        QVERIFY(sent.size() >= s.commands.size() + 1); // the corrupted one is sent again
        for (const QByteArray &b : sent)
            QVERIFY(isRequestFrame(b));
        QList<pcapng::Packet> notFrames;
        qsizetype answered = 0;
        for (qsizetype i = 0; i < file->packets.size(); ++i) {
            const pcapng::Packet &p = file->packets[i];
            QVERIFY(p.timestampUs > 1'700'000'000'000'000);
            QVERIFY(i == 0 || p.timestampUs >= file->packets[i - 1].timestampUs);
            QVERIFY(p.direction == requests || p.direction == replies);
            if (!p.comment.isEmpty()) {
                notFrames << p;
                continue;
            }
            if (p.direction == replies) {
                QVERIFY(i > 0);
                QVERIFY(protocol::answers(file->packets[i - 1].bytes, p.bytes));
                ++answered;
            }
        }
        QCOMPARE(answered, sent.size() - 1);
        QVERIFY(!notFrames.isEmpty());
        QByteArray corrupted;
        for (const auto &p : notFrames) {
            QCOMPARE(p.direction, replies);
            QVERIFY2(p.comment == pcapng::noiseComment() || p.comment == pcapng::givenUpComment(),
                     qPrintable(p.comment));
            corrupted += p.bytes;
        }
        // The version reply with its checksum inverted.
        QCOMPARE(corrupted.left(3), hex("01 00 86"));
        QVERIFY(!protocol::checksumMatches(corrupted));
    }

    // A capture whose writer was killed reads up to its last whole frame.
    void killedWriterLeavesAReadableCapture()
    {
        vmodule::VirtualModule module;
        QVERIFY(module.start());
        const QString path = dir.filePath("killed.pcapng");
        runRfcfg({"-p", module.devicePath(), "--capture", path, "send", "1234", "01", "--count",
                  "1000000", "--interval", "0"},
                 [&](QProcess &process) {
                     QTRY_VERIFY_WITH_TIMEOUT(module.requestsHandled() >= 30, 30000);
                     ::kill(pid_t(process.processId()), SIGKILL);
                 });
        const auto file = pcapng::readFile(path);
        QVERIFY(file);
        QVERIFY(file->packets.size() >= 30);
        for (const auto &p : file->packets) {
            QVERIFY(p.comment.isEmpty());
            QVERIFY(protocol::checksumMatches(p.bytes));
        }
    }

    // A file that cannot take a write stops the capture with the system's reason, once; the
    // command goes on. One that cannot be created is refused before the port is opened.
    void failedWrite_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("full disk") << "/dev/full" << 0
                                   << "rfcfg: capture to /dev/full stopped: No space left on "
                                      "device\n";
        QTest::newRow("no such folder") << "/nonexistent-folder/c.pcapng" << 5
                                        << "rfcfg: --capture: cannot write "
                                           "/nonexistent-folder/c.pcapng: No such file or "
                                           "directory\n";
    }
    void failedWrite()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, message);
        vmodule::VirtualModule module;
        QVERIFY(module.start());
        const Run run = runRfcfg({"-p", module.devicePath(), "--capture", path, "config", "get"});
        QCOMPARE(run.status, status);
        QCOMPARE(run.err, message);
        QCOMPARE(run.out.contains("channel"), status == 0);
    }

    // The window's button records the port's link, says to which file, and stops on a failed
    // write with a message while the port stays open.
    void windowCapture_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("a file") << true;
        QTest::newRow("a full disk") << false;
    }
    void windowCapture()
    {
        QFETCH(bool, writable);
        PtyPair pty;
        QVERIFY(pty.isValid());
        QWidget window;
        auto *button = new QPushButton(&window);
        serial::ModuleLink link;
        CaptureControl control(&link, button, &window);
        QVERIFY(!link.open(pty.slavePath(), {}));
        const QString path = writable ? dir.filePath("window.pcapng") : QString("/dev/full");
        QCOMPARE(control.start(path), writable);
        QCOMPARE(control.isRecording(), writable);
        if (writable) {
            QVERIFY(button->toolTip().contains(path));
            QVERIFY(button->text() != QStringLiteral("抓包…"));
        } else {
            QTRY_VERIFY(window.findChild<QMessageBox *>("captureStoppedBox"));
            QVERIFY(window.findChild<QMessageBox *>("captureStoppedBox")
                        ->text()
                        .contains("No space left on device"));
            QCOMPARE(button->text(), QStringLiteral("抓包…"));
        }
        const QByteArray request = withChecksum("01 00 06 00");
        QVERIFY(link.sendRequest(request));
        QCOMPARE(pty.read(request.size()), request);
        const QByteArray reply = withChecksum("01 00 86 05 10 02 14 03 25");
        bool answered = false;
        connect(&link, &serial::ModuleLink::answered, this, [&] { answered = true; });
        pty.write(hex("ee") + reply);
        QTRY_VERIFY(answered);
        QCOMPARE(link.state(), serial::ModuleLink::State::Open);
        if (!writable)
            return;
        control.stop();
        QCOMPARE(button->text(), QStringLiteral("抓包…"));
        const auto file = pcapng::readFile(path);
        QVERIFY(file);
        QCOMPARE(file->packets.size(), 3);
        QCOMPARE(file->packets[0].bytes, request);
        QCOMPARE(file->packets[0].direction, Direction::Outbound);
        QCOMPARE(file->packets[1].bytes, hex("ee"));
        QCOMPARE(file->packets[1].comment, pcapng::noiseComment());
        QCOMPARE(file->packets[2].bytes, reply);
        QCOMPARE(file->packets[2].direction, Direction::Inbound);
        QCOMPARE(file->packets[2].interfaceName, pty.slavePath());
        QCOMPARE(file->packets[2].interfaceDescription, QStringLiteral("9600 8N1"));
    }

    // The replayed module answers each request the Nth time with what followed its Nth
    // occurrence, then with the last again; a request never seen gets nothing.
    void replayOrder_data()
    {
        QTest::addColumn<QList<QByteArray>>("asked");
        QTest::addColumn<QList<QByteArray>>("answered");
        const QByteArray a = withChecksum("01 00 06 00"), b = withChecksum("01 00 02 00");
        QTest::newRow("in capture order, the last reused")
            << QList<QByteArray>{a, a, a, b}
            << QList<QByteArray>{hex("11"), hex("12"), hex("12"), hex("21 22")};
        QTest::newRow("never seen")
            << QList<QByteArray>{withChecksum("04 00 02 00")} << QList<QByteArray>{QByteArray()};
    }
    void replayOrder()
    {
        QFETCH(QList<QByteArray>, asked);
        QFETCH(QList<QByteArray>, answered);
        const QByteArray a = withChecksum("01 00 06 00"), b = withChecksum("01 00 02 00");
        pcapng::File capture;
        qint64 t = 0;
        const auto add = [&](Direction d, const QByteArray &bytes) {
            capture.packets.append({t += 1000, d, bytes, {}, 0, {}, {}});
        };
        add(Direction::Outbound, a);
        add(Direction::Inbound, hex("11"));
        add(Direction::Outbound, b);
        add(Direction::Inbound, hex("21"));
        add(Direction::Inbound, hex("22"));
        add(Direction::Outbound, a);
        add(Direction::Inbound, hex("12"));
        auto replay = vmodule::ReplayBehaviour::fromCapture(capture, nullptr);
        QVERIFY(replay);
        for (qsizetype i = 0; i < asked.size(); ++i) {
            QByteArray got;
            for (const auto &chunk : replay->answer(asked[i])) {
                QVERIFY(chunk.delayUs > 0);
                got += chunk.bytes;
            }
            QCOMPARE(got, answered[i]);
        }
    }

    // The session replayed from either side's capture, on a new terminal, prints what it
    // printed against the module.
    void replayAnswersAsCaptured_data()
    {
        QTest::addColumn<bool>("programSide");
        QTest::addColumn<bool>("timing");
        QTest::newRow("program side") << true << false;
        QTest::newRow("module side, with timing") << false << true;
    }
    void replayAnswersAsCaptured()
    {
        QFETCH(bool, programSide);
        QFETCH(bool, timing);
        const CapturedSession &s = capturedSession();
        QProcess sim;
        QStringList args{"--replay", programSide ? s.programSide : s.moduleSide};
        if (timing)
            args << "--replay-timing";
        sim.start(QStringLiteral(SIMULATOR), args);
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine() || sim.state() == QProcess::NotRunning, 30000);
        const QString device = QString::fromUtf8(sim.readLine()).trimmed();
        QVERIFY2(device.startsWith("/dev/"), qPrintable(device + sim.readAllStandardError()));
        for (qsizetype i = 0; i < s.commands.size(); ++i) {
            const Run run = runRfcfg(QStringList{"-p", device} + s.commands[i]);
            QVERIFY2(run.status == 0, qPrintable(s.commands[i].join(' ') + run.err));
            // The same answers; the time they took is the line's.
            static const QRegularExpression latency(QStringLiteral("\\([0-9.]+ ms\\)"));
            QCOMPARE(QString(run.out).replace(latency, "(ms)"),
                     QString(s.outputs[i]).replace(latency, "(ms)"));
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(30000));
    }
};

QTEST_MAIN(CaptureTest)
#include "tst_capture.moc"
