// A long session: request-and-reply exchanges between the real dialog and the virtual module,
// driven without waiting for the timers. Every reply must be decoded and the two logs must hold
// every byte that crossed the wire, none missing and none doubled.
//   SOAK_EXCHANGES=N (default 100000)
#include "app/dialog.h"
#include "dialogdriver.h"
#include "protocol/frame.h"
#include "protocol/replies.h"
#include "ptypair.h"
#include "virtualmodule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void everyExchangeDecodedAndLogged()
    {
        const int exchanges = qEnvironmentVariableIntValue("SOAK_EXCHANGES") > 0
                                  ? qEnvironmentVariableIntValue("SOAK_EXCHANGES")
                                  : 100000;
        vmodule::VirtualModule module;
        QVERIFY(module.start());
        QByteArray lastReply;
        QString expectedSent, expectedReceived;
        connect(&module, &vmodule::VirtualModule::requestReceived, this, [&](const QByteArray &b) {
            expectedSent += QStringLiteral("send->") + protocol::hexLine(b);
        });
        connect(&module, &vmodule::VirtualModule::replySent, this,
                [&](const QByteArray &b) { lastReply = b; });

        Dialog dialog;
        DialogDriver ui(dialog);
        ui.openPort(module.devicePath());
        QVERIFY(ui.portShownOpen());
        ui.widget<QTimer>("readTimer")->stop();
        ui.setText("lineEdit_routeDstAddr", "1234");
        ui.setText("lineEdit_dataDstAddr", "00ab");
        ui.widget<QTextEdit>("textEdit_sendData")->setPlainText("01 02 03 ");
        qint64 arrived = 0; // since the last command
        connect(ui.link(), &serial::ModuleLink::bytesArrived, this,
                [&](const QByteArray &bytes) { arrived += bytes.size(); });

        const char *const commands[] = {
            "on_pushButton_readVersion_clicked",    "on_pushButton_resetModule_clicked",
            "on_pushButton_readCfg_clicked",        "on_pushButton_readAcl_clicked",
            "on_pushButton_routeDiscovery_clicked", "on_pushButton_sendData_clicked",
            "on_pushButton_writeAcl_clicked"};
        QElapsedTimer clock;
        clock.start();
        int decoded = 0;
        for (int i = 0; i < exchanges; ++i) {
            lastReply.clear();
            arrived = 0;
            ui.invoke(commands[i % std::size(commands)]);
            while (lastReply.isEmpty() || arrived < lastReply.size())
                QCoreApplication::processEvents(
                    QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
            const protocol::Reply reply = protocol::decodeReply(lastReply);
            decoded += reply.kind != protocol::Reply::Kind::Unrecognised;
            expectedReceived += protocol::receiveLogText(lastReply, reply);
            ui.receiveTick();
            if ((i + 1) % 20000 == 0)
                qInfo("%d exchanges, %.1f s", i + 1, clock.elapsed() / 1000.0);
        }
        qInfo("%d exchanges in %.1f s", exchanges, clock.elapsed() / 1000.0);
        QCOMPARE(decoded, exchanges);
        QCOMPARE(int(module.requestsHandled()), exchanges);
        // One result line per exchange, and the logs byte for byte.
        const QString received = ui.receiveText();
        QCOMPARE(int(received.count(QStringLiteral("Recv->"))), exchanges);
        const QStringList lines = received.split(QLatin1Char('\n'));
        int resultLines = 0;
        for (int i = 1; i < lines.size(); ++i)
            resultLines += lines[i - 1].startsWith(QStringLiteral("Recv->")) &&
                           !lines[i].startsWith(QStringLiteral("Recv->")) && !lines[i].isEmpty();
        QCOMPARE(resultLines, exchanges);
        QVERIFY(received == expectedReceived);
        QVERIFY(ui.sendText() == expectedSent);
    }
};

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
