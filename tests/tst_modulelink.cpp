#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "protocol/replyframe.h"
#include "ptypair.h"
#include "serial/modulelink.h"
#include "testbytes.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>
#include <poll.h>

using serial::LineSettings;
using serial::ModuleLink;
using namespace protocol;

namespace {

const QByteArray versionRequest = commandFrame(group::module, code::readVersion);
const QByteArray configRequest = commandFrame(group::module, code::readConfig);
const QByteArray versionReply = withChecksum("0100860700100200250314");
const QByteArray configReply = withChecksum("01008210 A5A5 05030101 0BA0 3412 01 00 02 C3 09 0C");
const QByteArray resetReply = withChecksum("0100870100");

QByteArray routeRequest(quint8 high, quint8 low)
{
    const auto payload = routeSearchPayload(HexWord{high, low}, 6);
    return commandFrame(group::network, code::routeSearch,
                        QByteArrayView(payload.data(), routeSearchPayloadSize));
}

const LineSettings slowLine{300, QSerialPort::NoParity, QSerialPort::OneStop};

} // namespace

class ModuleLinkTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<ModuleLink> link;

    enum class Settled { Pending, Answered, NoReply, Lost, Closed };
    // How the request was settled, as the link's signals tell it; Pending after a minute.
    Settled settle(ModuleLink::RequestId id, QByteArray *reply = nullptr)
    {
        Settled result = Settled::Pending;
        QObject scope;
        connect(link.get(), &ModuleLink::answered, &scope,
                [&](const ModuleLink::Request &r, const QByteArray &frame) {
                    if (r.id != id)
                        return;
                    result = Settled::Answered;
                    if (reply)
                        *reply = frame;
                });
        connect(link.get(), &ModuleLink::noReply, &scope, [&](const ModuleLink::Request &r) {
            if (r.id == id)
                result = Settled::NoReply;
        });
        connect(link.get(), &ModuleLink::stateChanged, &scope, [&](ModuleLink::State state) {
            if (state != ModuleLink::State::Open && result == Settled::Pending)
                result = Settled::Closed;
        });
        connect(link.get(), &ModuleLink::lost, &scope, [&] { result = Settled::Lost; });
        QElapsedTimer clock;
        clock.start();
        while (result == Settled::Pending && clock.elapsed() < 60000)
            QTest::qWait(2);
        return result;
    }

private slots:
    // Every test starts with a fresh link open on a fresh pseudo-terminal at 9600 8N1.
    // Runs `action` once after `ms`, unless the returned timer goes first: a row whose wait
    // ends sooner must not leave it behind for the next row.
    static std::unique_ptr<QTimer> later(int ms, std::function<void()> action)
    {
        auto timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        QObject::connect(timer.get(), &QTimer::timeout, std::move(action));
        timer->start(ms);
        return timer;
    }

    void init()
    {
        pty = std::make_unique<PtyPair>();
        QVERIFY(pty->isValid());
        link = std::make_unique<ModuleLink>();
        const auto failure = link->open(pty->slavePath(), {});
        QVERIFY2(!failure, failure ? qPrintable(failure->systemText) : "");
        QCOMPARE(link->state(), ModuleLink::State::Open);
    }
    void cleanup()
    {
        link.reset();
        pty.reset();
    }

    void lineSettingsApplyAtOpenAndWhileOpen()
    {
        QCOMPARE(link->port()->objectName(), QStringLiteral("myCom"));
        link->close();
        QVERIFY(
            !link->open(pty->slavePath(), {57600, QSerialPort::OddParity, QSerialPort::TwoStop}));
        auto line = pty->lineSettings();
        QCOMPARE(line.baud, 57600u);
        QVERIFY(line.oddParity);
        QVERIFY(line.twoStopBits);
        QVERIFY(line.eightDataBits);
        QCOMPARE(link->port()->flowControl(), QSerialPort::NoFlowControl);

        QVERIFY(link->setLineSettings({56000, QSerialPort::EvenParity, QSerialPort::OneStop}));
        line = pty->lineSettings();
        QCOMPARE(line.baud, 56000u);
        QVERIFY(!line.oddParity);
        QVERIFY(!line.twoStopBits);
        QCOMPARE(link->lineSettings().parity, QSerialPort::EvenParity);
        QCOMPARE(link->state(), ModuleLink::State::Open);
    }

    void openFailureGivesTheReason_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::newRow("missing device") << "missing" << QSerialPort::DeviceNotFoundError;
        QTest::newRow("in use by another link") << "busy" << QSerialPort::PermissionError;
        QTest::newRow("this link already open") << "again" << QSerialPort::OpenError;
    }
    void openFailureGivesTheReason()
    {
        QFETCH(QString, which);
        QFETCH(QSerialPort::SerialPortError, error);
        ModuleLink other;
        ModuleLink &opener = which == "again" ? *link : other;
        const QString path = which == "missing" ? pty->slavePath() + ".gone" : pty->slavePath();
        const auto failure = opener.open(path, {});
        QVERIFY(failure);
        QCOMPARE(failure->error, error);
        QCOMPARE(other.state(), ModuleLink::State::Closed);
        QCOMPARE(link->state(), ModuleLink::State::Open);
    }

    // Closing waits for the bytes already handed to the port, up to their line time; a lost
    // device ends the wait at once.
    void closeLetsTheFrameInFlightFinish_data()
    {
        QTest::addColumn<bool>("queued");
        QTest::addColumn<bool>("deviceLost");
        QTest::newRow("nothing queued") << false << false;
        QTest::newRow("frames queued") << true << false;
        QTest::newRow("device lost while closing") << true << true;
    }
    void closeLetsTheFrameInFlightFinish()
    {
        QFETCH(bool, queued);
        QFETCH(bool, deviceLost);
        QSignalSpy states(link.get(), &ModuleLink::stateChanged);
        QSignalSpy lost(link.get(), &ModuleLink::lost);
        QVERIFY(link->setLineSettings(slowLine));
        // At 300 baud these take over 20 s on the line: the close's bound never ends a test row.
        const QByteArray frame =
            commandFrame(group::network, code::sendData, QByteArray(maxPayloadLength, '\x5a'));
        const QByteArray frames = frame.repeated(4);
        const int filled = queued ? pty->fillLine() : 0;
        QVERIFY(link->sendRequest(versionRequest));
        if (queued) {
            QVERIFY(link->writeRaw(frames));
            QVERIFY(!link->writeQueueEmpty());
        } else {
            QCOMPARE(pty->read(versionRequest.size()), versionRequest);
            QTRY_VERIFY_WITH_TIMEOUT(link->writeQueueEmpty(), 5000);
        }

        link->close();
        QCOMPARE(link->pendingCount(), 0);
        if (!queued) {
            QCOMPARE(link->state(), ModuleLink::State::Closed);
            QCOMPARE(states.count(), 1);
            return;
        }
        QCOMPARE(link->state(), ModuleLink::State::Closing);
        QVERIFY(!link->canSendNow());
        QVERIFY(!link->sendRequest(versionRequest));
        if (deviceLost) {
            pty->hangUp();
        } else {
            // The module reads again: everything handed to the port arrives whole.
            const QByteArray sent = versionRequest + frames;
            const QByteArray arrived = pty->read(filled + int(sent.size()), 30000);
            QCOMPARE(arrived.mid(filled), sent);
        }
        QTRY_COMPARE_WITH_TIMEOUT(link->state(), ModuleLink::State::Closed, 10000);
        QCOMPARE(states.count(), 2);
        QCOMPARE(states.at(0).at(0).value<ModuleLink::State>(), ModuleLink::State::Closing);
        QVERIFY(!link->port()->isOpen());
        QCOMPARE(lost.count(), 0); // the link was closed already
    }

    void lostDeviceClosesAndDropsTheRequests()
    {
        QSignalSpy lost(link.get(), &ModuleLink::lost);
        QSignalSpy states(link.get(), &ModuleLink::stateChanged);
        QSignalSpy noReply(link.get(), &ModuleLink::noReply);
        QVERIFY(link->sendRequest(versionRequest, 300));
        pty->hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
        QCOMPARE(link->state(), ModuleLink::State::Closed);
        QCOMPARE(states.count(), 1);
        QCOMPARE(link->pendingCount(), 0);
        QVERIFY(!lost.at(0).at(0).toString().isEmpty());
        QTest::qWait(600); // past the request's deadline: it is gone, not late
        QCOMPARE(noReply.count(), 0);
        QCOMPARE(lost.count(), 1);
    }

    // Requests sent in order, then the module's writes one by one, each read before the next.
    void repliesArePairedWithTheirRequests_data()
    {
        QTest::addColumn<QList<QByteArray>>("requests");
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<int>("timeoutMs"); // -1: the request's own deadline
        QTest::addColumn<QList<int>>("answered");
        QTest::addColumn<QList<int>>("noReply");
        QTest::addColumn<int>("unsolicited");
        using Frames = QList<QByteArray>;
        using Indexes = QList<int>;
        QTest::newRow("reply split over two writes")
            << Frames{versionRequest} << Frames{versionReply.left(5), versionReply.mid(5)} << 1500
            << Indexes{0} << Indexes{} << 0;
        QTest::newRow("two replies in one write, in order")
            << Frames{versionRequest, configRequest} << Frames{versionReply + configReply} << -1
            << Indexes{0, 1} << Indexes{} << 0;
        QTest::newRow("replies in the other order")
            << Frames{versionRequest, configRequest} << Frames{configReply, versionReply} << 1500
            << Indexes{1, 0} << Indexes{} << 0;
        QTest::newRow("one reply for two alike: the oldest")
            << Frames{versionRequest, versionRequest} << Frames{versionReply} << 1500 << Indexes{0}
            << Indexes{1} << 0;
        QTest::newRow("frame for nothing pending")
            << Frames{} << Frames{resetReply} << 1500 << Indexes{} << Indexes{} << 1;
        QTest::newRow("no reply") << Frames{versionRequest} << Frames{} << 300 << Indexes{}
                                  << Indexes{0} << 0;
        QTest::newRow("route reply for another target")
            << Frames{routeRequest(0x12, 0x34)} << Frames{withChecksum("05008803cdab05")} << 1500
            << Indexes{} << Indexes{0} << 1;
        QTest::newRow("route reply for its target")
            << Frames{routeRequest(0x12, 0x34)} << Frames{withChecksum("05008803341205")} << 1500
            << Indexes{0} << Indexes{} << 0;
        QTest::newRow("network reply too short for a target")
            << Frames{routeRequest(0x12, 0x34)} << Frames{withChecksum("0500880134")} << 1500
            << Indexes{} << Indexes{0} << 1;
        QTest::newRow("noise around the reply")
            << Frames{versionRequest} << Frames{hex("ee") + versionReply + hex("ff")} << 1500
            << Indexes{0} << Indexes{} << 0;
        // The header promises 69 bytes that never come: given up, then the reply behind it.
        QTest::newRow("stalled header before the reply")
            << Frames{versionRequest} << Frames{hex("01008140"), versionReply} << 5000 << Indexes{0}
            << Indexes{} << 0;
    }
    void repliesArePairedWithTheirRequests()
    {
        QFETCH(QList<QByteArray>, requests);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(int, timeoutMs);
        QFETCH(QList<int>, answered);
        QFETCH(QList<int>, noReply);
        QFETCH(int, unsolicited);
        QSignalSpy answeredSpy(link.get(), &ModuleLink::answered);
        QSignalSpy noReplySpy(link.get(), &ModuleLink::noReply);
        QSignalSpy unsolicitedSpy(link.get(), &ModuleLink::unsolicited);
        qsizetype arrived = 0;
        connect(link.get(), &ModuleLink::bytesArrived, this,
                [&](const QByteArray &bytes) { arrived += bytes.size(); });

        QList<ModuleLink::RequestId> ids;
        QByteArray sent;
        qint64 lastDeadlineNs = link->nowNs();
        for (const QByteArray &request : requests) {
            const auto id =
                timeoutMs < 0 ? link->sendRequest(request) : link->sendRequest(request, timeoutMs);
            QVERIFY(id);
            ids << *id;
            sent += request;
            const int deadlineMs = timeoutMs < 0 ? serial::replyDeadlineMs(request, {}) : timeoutMs;
            lastDeadlineNs = qMax(lastDeadlineNs, link->nowNs() + qint64(deadlineMs) * 1'000'000);
        }
        QCOMPARE(pty->read(int(sent.size())), sent);
        qsizetype written = 0;
        for (const QByteArray &bytes : writes) {
            pty->write(bytes);
            written += bytes.size();
            QTRY_COMPARE_WITH_TIMEOUT(arrived, written, 5000);
        }
        const int bound = qMax(timeoutMs, 2000) + 10000;
        QTRY_COMPARE_WITH_TIMEOUT(int(answeredSpy.count() + noReplySpy.count()),
                                  int(requests.size()), bound);
        // Past every deadline, nothing more is reported.
        QTRY_VERIFY_WITH_TIMEOUT(link->nowNs() > lastDeadlineNs, bound);
        QTest::qWait(100);

        const auto requestOf = [](const QList<QVariant> &arguments) {
            return arguments.at(0).value<ModuleLink::Request>();
        };
        const auto indexes = [&](const QSignalSpy &spy) {
            QList<int> found;
            for (const QList<QVariant> &arguments : spy)
                found << int(ids.indexOf(requestOf(arguments).id));
            return found;
        };
        QCOMPARE(indexes(answeredSpy), answered);
        QCOMPARE(indexes(noReplySpy), noReply);
        QCOMPARE(unsolicitedSpy.count(), unsolicited);
        for (const QList<QVariant> &arguments : answeredSpy) {
            const ModuleLink::Request request = requestOf(arguments);
            QCOMPARE(request.frame, requests[ids.indexOf(request.id)]);
            QVERIFY(protocol::answers(request.frame, arguments.at(1).toByteArray()));
            QVERIFY(arguments.at(2).toLongLong() >= 0);
            if (timeoutMs < 0)
                QCOMPARE(request.timeoutMs, serial::replyDeadlineMs(request.frame, {}));
        }
        QCOMPARE(link->pendingCount(), 0);
    }

    void deadlineCoversTheModuleAndBothFrames_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<qint32>("baud");
        QTest::addColumn<QSerialPort::Parity>("parity");
        QTest::addColumn<QSerialPort::StopBits>("stopBits");
        QTest::addColumn<int>("deadlineMs");
        // 1000 ms, then request and longest reply at 10, 11 or 12 bits a byte, rounded up.
        QTest::newRow("configuration read, 9600 8N1") // 5 and 21 bytes
            << configRequest << 9600 << QSerialPort::NoParity << QSerialPort::OneStop
            << 1000 + 6 + 22;
        QTest::newRow("version, 300 8N1") // 5 and 12 bytes
            << versionRequest << 300 << QSerialPort::NoParity << QSerialPort::OneStop
            << 1000 + 167 + 400;
        QTest::newRow("route search, 9600 8E2: the receive buffer") // 9 and 152 bytes
            << routeRequest(0x12, 0x34) << 9600 << QSerialPort::EvenParity << QSerialPort::TwoStop
            << 1000 + 12 + 190;
        QTest::newRow("data send, 300 8O1") // 11 and 8 bytes
            << hex("0500010634120007010022") << 300 << QSerialPort::OddParity
            << QSerialPort::OneStop << 1000 + 404 + 294;
        QTest::newRow("unknown request, 115200 8N1") // 5 and 152 bytes
            << withChecksum("02000100") << 115200 << QSerialPort::NoParity << QSerialPort::OneStop
            << 1000 + 1 + 14;
    }
    void deadlineCoversTheModuleAndBothFrames()
    {
        QFETCH(QByteArray, request);
        QFETCH(qint32, baud);
        QFETCH(QSerialPort::Parity, parity);
        QFETCH(QSerialPort::StopBits, stopBits);
        QFETCH(int, deadlineMs);
        QCOMPARE(serial::replyDeadlineMs(request, {baud, parity, stopBits}), deadlineMs);
    }

    void requestEndsWithItsOutcome_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("outcome");
        QTest::newRow("reply") << "reply" << int(Settled::Answered);
        QTest::newRow("no reply") << "" << int(Settled::NoReply);
        QTest::newRow("device lost") << "hang up" << int(Settled::Lost);
        QTest::newRow("link closed") << "close" << int(Settled::Closed);
    }
    void requestEndsWithItsOutcome()
    {
        QFETCH(QString, event);
        QFETCH(int, outcome);
        const auto id = link->sendRequest(versionRequest, 1000);
        QVERIFY(id);
        const auto trigger = later(20, [&] {
            if (event == "reply")
                pty->write(versionReply);
            else if (event == "hang up")
                pty->hangUp();
            else if (event == "close")
                link->close();
        });
        QByteArray reply;
        QCOMPARE(int(settle(*id, &reply)), outcome);
        QCOMPARE(reply, outcome == int(Settled::Answered) ? versionReply : QByteArray());
        QCOMPARE(link->pendingCount(), 0);
    }

    // A request whose deadline passed stays overdue until the next send, when late replies are
    // tracked: its reply is then told apart from an answer and from other frames.
    void lateRepliesAreToldApart_data()
    {
        QTest::addColumn<bool>("tracked");
        QTest::addColumn<bool>("sendAgain"); // the same request, after the first timed out
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QList<int>>("answeredLateUnsolicited");
        QTest::addColumn<bool>("owedAfter");
        using Frames = QList<QByteArray>;
        using Counts = QList<int>;
        QTest::newRow("late reply")
            << true << false << Frames{versionReply} << Counts{0, 1, 0} << false;
        QTest::newRow("not tracked: unsolicited")
            << false << false << Frames{versionReply} << Counts{0, 0, 1} << false;
        QTest::newRow("one late reply per request")
            << true << false << Frames{versionReply, versionReply} << Counts{0, 1, 1} << false;
        QTest::newRow("another frame while overdue")
            << true << false << Frames{resetReply} << Counts{0, 0, 1} << true;
        QTest::newRow("after the next send it answers")
            << true << true << Frames{versionReply} << Counts{1, 0, 0} << false;
    }
    void lateRepliesAreToldApart()
    {
        QFETCH(bool, tracked);
        QFETCH(bool, sendAgain);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QList<int>, answeredLateUnsolicited);
        QFETCH(bool, owedAfter);
        link->setTracksLateReplies(tracked);
        QSignalSpy answered(link.get(), &ModuleLink::answered);
        QSignalSpy late(link.get(), &ModuleLink::lateReply);
        QSignalSpy unsolicited(link.get(), &ModuleLink::unsolicited);
        const auto first = link->sendRequest(versionRequest, 200);
        QVERIFY(first);
        QCOMPARE(settle(*first), Settled::NoReply);
        QCOMPARE(link->lateReplyOwed(), tracked);
        if (sendAgain) {
            QVERIFY(link->sendRequest(versionRequest, 30000));
            QVERIFY(!link->lateReplyOwed());
        }
        for (const QByteArray &bytes : writes)
            pty->write(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(int(answered.count() + late.count() + unsolicited.count()),
                                  int(writes.size()), 10000);
        QCOMPARE((QList<int>{int(answered.count()), int(late.count()), int(unsolicited.count())}),
                 answeredLateUnsolicited);
        if (!late.isEmpty())
            QCOMPARE(late.at(0).at(0).value<ModuleLink::Request>().id, *first);
        QCOMPARE(link->lateReplyOwed(), owedAfter);
    }

    // A repeater asks before each send whether the line took the previous bytes.
    void canSendTellsWhetherTheLineDrained_data()
    {
        QTest::addColumn<bool>("queued");
        QTest::addColumn<bool>("farEndReads");
        QTest::addColumn<bool>("canSend");
        QTest::newRow("nothing queued") << false << false << true;
        QTest::newRow("queued, the far end reads") << true << true << true;
        QTest::newRow("queued, the far end stopped reading") << true << false << false;
    }
    void canSendTellsWhetherTheLineDrained()
    {
        QFETCH(bool, queued);
        QFETCH(bool, farEndReads);
        QFETCH(bool, canSend);
        const int filled = queued ? pty->fillLine() : 0;
        if (queued) {
            QVERIFY(link->writeRaw(versionRequest));
            QVERIFY(!link->canSendNow());
        }
        QByteArray drained;
        const auto trigger = later(20, [&] {
            if (farEndReads)
                drained = pty->read(filled + int(versionRequest.size()), 30000);
        });
        if (canSend)
            QTRY_VERIFY_WITH_TIMEOUT(link->canSendNow(), 30000);
        else
            QTest::qWait(200);
        QCOMPARE(link->canSendNow(), canSend);
        if (farEndReads)
            QTRY_COMPARE_WITH_TIMEOUT(drained.mid(filled), versionRequest, 30000);
    }

    // At its deadline a request takes the reply that a stray header held back, not before; the
    // header alone would be given up only once the longest frame had had its time.
    void replyBehindAStrayHeaderAtTheDeadline_data()
    {
        QTest::addColumn<QByteArray>("behind");
        QTest::addColumn<int>("outcome");
        QTest::newRow("the reply") << versionReply << int(Settled::Answered);
        QTest::newRow("another frame") << resetReply << int(Settled::NoReply);
    }
    void replyBehindAStrayHeaderAtTheDeadline()
    {
        QFETCH(QByteArray, behind);
        QFETCH(int, outcome);
        QVERIFY(link->setLineSettings(slowLine)); // a stall takes some 9 s at 300 baud
        QSignalSpy unsolicited(link.get(), &ModuleLink::unsolicited);
        const auto id = link->sendRequest(versionRequest, 3000);
        QVERIFY(id);
        pty->write(hex("01008140") + behind); // the header promises 69 bytes
        QByteArray reply;
        QCOMPARE(int(settle(*id, &reply)), outcome);
        QCOMPARE(reply, outcome == int(Settled::Answered) ? behind : QByteArray());
        QCOMPARE(unsolicited.count(), 0); // another frame stays behind the header until it stalls
    }
};

QTEST_GUILESS_MAIN(ModuleLinkTest)
#include "tst_modulelink.moc"
