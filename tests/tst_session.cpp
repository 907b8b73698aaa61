#include "protocol/configfields.h"
#include "protocol/configrecord.h"
#include "protocol/payloads.h"
#include "serial/discovery.h"
#include "serial/session.h"
#include "virtualmodule.h"

#include <QSignalSpy>
#include <QtTest>

using serial::Outcome;
using vmodule::VirtualModule;

namespace {

const serial::LineSettings plain{9600, QSerialPort::NoParity, QSerialPort::OneStop};

} // namespace

// The session against a virtual module on a real pseudo-terminal: each operation ends in one
// outcome, whatever the module does to its replies.
class SessionTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<VirtualModule> module;
    std::unique_ptr<serial::ModuleLink> link;
    std::unique_ptr<serial::Session> session;

    Outcome finish(serial::Operation *operation)
    {
        QSignalSpy finished(operation, &serial::Operation::finished);
        if (!finished.wait(30000) && finished.isEmpty())
            return {};
        return finished.first().first().value<Outcome>();
    }

private slots:
    void init()
    {
        module = std::make_unique<VirtualModule>();
        QVERIFY(module->start());
        link = std::make_unique<serial::ModuleLink>();
        QVERIFY(!link->open(module->devicePath(), plain));
        session = std::make_unique<serial::Session>(link.get());
    }
    void cleanup()
    {
        session.reset();
        link.reset();
        module.reset();
    }

    void operations_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status"); // -1: none
        QTest::addColumn<int>("attempts");
        const int answered = int(Outcome::Kind::Answered), failed = int(Outcome::Kind::Failed),
                  none = int(Outcome::Kind::NoReply), cancelled = int(Outcome::Kind::Cancelled);
        QTest::newRow("version") << "version"
                                 << "" << 2 << answered << -1 << 1;
        QTest::newRow("version, first reply lost") << "version"
                                                   << "drop" << 2 << answered << -1 << 2;
        QTest::newRow("version, reply split") << "version"
                                              << "split" << 0 << answered << -1 << 1;
        QTest::newRow("version, unasked frame first") << "version"
                                                      << "unasked" << 0 << answered << -1 << 1;
        QTest::newRow("reset, reply late") << "reset"
                                           << "late" << 0 << none << -1 << 1;
        QTest::newRow("reset, bad checksum") << "reset"
                                             << "corrupt" << 0 << none << -1 << 1;
        QTest::newRow("whitelist") << "whitelist"
                                   << "" << 2 << answered << -1 << 1;
        QTest::newRow("route") << "route"
                               << "" << 2 << answered << 0 << 1;
        QTest::newRow("data send") << "send"
                                   << "" << 0 << answered << 0 << 1;
        QTest::newRow("data send refused") << "send"
                                           << "fail" << 0 << failed << 2 << 1;
        QTest::newRow("configuration, port lost") << "config"
                                                  << "hang up" << 2 << cancelled << -1 << 1;
    }
    void operations()
    {
        QFETCH(QString, operation);
        QFETCH(QString, fault);
        QFETCH(int, retries);
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(int, attempts);
        session->setRetries(retries);
        session->setReplyWaitMs(400);
        QSignalSpy late(session.get(), &serial::Session::lateReply);
        QSignalSpy unasked(session.get(), &serial::Session::unsolicited);
        if (fault == "drop")
            module->dropNextReply();
        else if (fault == "split")
            module->splitNextReply(100);
        else if (fault == "late")
            module->setReplyDelay(700);
        else if (fault == "corrupt")
            module->corruptNextChecksum();
        else if (fault == "fail")
            module->failNextDataSend(0x02);
        else if (fault == "unasked")
            module->sendUnsolicited(protocol::commandFrame(0x01, 0x87, QByteArray(1, '\0')));

        const protocol::HexWord target{0x12, 0x34};
        serial::Operation *op = nullptr;
        if (operation == "version") {
            op = session->version();
        } else if (operation == "reset") {
            op = session->reset();
        } else if (operation == "whitelist") {
            op = session->readWhitelist();
        } else if (operation == "route") {
            const auto payload = protocol::routeSearchPayload(target, 6);
            op = session->routeSearch(QByteArrayView(payload.data(), payload.size()));
        } else if (operation == "send") {
            protocol::DataSendRequest request;
            request.target = target;
            request.data = QByteArray("\x01\x02", 2);
            request.declaredLength = 2;
            request.routeMode = 1; // routed
            request.hopIndex = 6;
            op = session->sendData(*protocol::dataSendPayload(request));
        } else {
            op = session->readConfig();
        }
        if (fault == "hang up")
            module->hangUp();
        const Outcome outcome = finish(op);
        QCOMPARE(int(outcome.kind), kind);
        QCOMPARE(outcome.status.value_or(-1), status);
        QCOMPARE(outcome.attempts, attempts);
        if (outcome.answered())
            QVERIFY(outcome.reply.isReadable());
        if (fault == "late") // told as late, for the request it answers
            QTRY_COMPARE_WITH_TIMEOUT(late.size(), 1, 10000);
        if (fault == "unasked")
            QCOMPARE(unasked.size(), 1);
        if (fault == "hang up")
            QVERIFY(!outcome.reason.isEmpty());
    }

    // A configuration write is verified by reading it back and follows the module to new serial
    // settings, also when the write's reply is lost; a slow module that was given no new
    // settings is never taken for one that moved.
    void writeConfigFollowsTheModule_data()
    {
        QTest::addColumn<int>("baud");      // the written record's rate; 0: as the module holds
        QTest::addColumn<QString>("fault"); // "drop": the write's reply is lost; "slow"
        QTest::addColumn<bool>("followed");
        QTest::newRow("new rate") << 115200 << "" << true;
        QTest::newRow("new rate, write reply lost") << 115200 << "drop" << true;
        QTest::newRow("channel only") << 0 << "" << false;
        QTest::newRow("channel only, slow module") << 0 << "slow" << false;
    }
    void writeConfigFollowsTheModule()
    {
        QFETCH(int, baud);
        QFETCH(QString, fault);
        QFETCH(bool, followed);
        // The module answers only at its own settings, which the link starts at.
        const protocol::ConfigRecord held = module->behaviour().record;
        const auto heldSettings =
            serial::moduleSerialSettings(protocol::decodeConfigRecord(held.data()));
        QVERIFY(heldSettings);
        link->setLineSettings(*heldSettings); // a pseudo-terminal keeps no parity: the rest holds
        module->setLineCheck(true);
        session->setReplyWaitMs(1000);

        protocol::ModuleConfig config = protocol::decodeConfigRecord(held.data());
        config.channel = 7;
        if (baud)
            QCOMPARE(protocol::setConfigValue(config, "uart_baud", QString::number(baud), false),
                     QString());
        protocol::ConfigRecord record = protocol::encodeConfigRecord(config, false).record;
        for (int b : {11, 14, 15}) // bits no field shows stay as the module holds them
            record[size_t(b)] = held[size_t(b)];
        if (fault == "drop")
            module->dropNextReply();
        if (fault == "slow")
            module->setReplyDelay(1500);

        const Outcome outcome = finish(session->writeConfig(record, {true, held}));
        QCOMPARE(int(outcome.kind), int(Outcome::Kind::Answered));
        QVERIFY(outcome.verified(record));
        QCOMPARE(outcome.followed, followed);
        const qint32 expectedRate = baud ? baud : heldSettings->baudRate;
        QCOMPARE(link->lineSettings().baudRate, expectedRate);
        QCOMPARE(outcome.answeredAt.baudRate, expectedRate);
    }
};

QTEST_GUILESS_MAIN(SessionTest)
#include "tst_session.moc"
