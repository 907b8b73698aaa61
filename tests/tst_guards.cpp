// Nothing reaches the module that the user did not choose, and the send box records only what
// the port took: each case through the real window over a pseudo-terminal.
#include "app/dialog.h"
#include "dialogdriver.h"
#include "ptypair.h"
#include "testbytes.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace {

// A configuration read reply carrying the record; 9600, even parity, one stop bit unless changed.
QByteArray configReply(const char *record)
{
    return withChecksum((QByteArray("01008210") + record).constData());
}

const char *const goodRecord = "A5A5 00000000 3412 0100 00 00 03 44 0000";

} // namespace

class GuardsTest : public OpenPortTest
{
    Q_OBJECT

private:
    // Each setting is "objectName=value": a list index, a check box state (0 or 1) or a text.
    void apply(const QStringList &settings)
    {
        for (const QString &setting : settings) {
            const QByteArray name = setting.section('=', 0, 0).toLatin1();
            const QString value = setting.section('=', 1);
            if (name.startsWith("comboBox_"))
                ui->select(name.constData(), value.toInt());
            else if (name.startsWith("checkBox_"))
                ui->widget<QCheckBox>(name.constData())->setChecked(value == "1");
            else if (name.startsWith("textEdit_"))
                ui->widget<QTextEdit>(name.constData())->setPlainText(value);
            else
                ui->setText(name.constData(), value);
        }
    }

    // Clicks the button; either the box names what is wrong, focus goes to `focus` and nothing
    // reaches the line or the send box, or (no box expected) exactly `frame` goes out.
    void clickAndExpect(const QString &button, const QString &box, const QString &focus,
                        const QByteArray &frame)
    {
        MessageBoxCatcher boxes;
        ui->click(button.toLatin1().constData());
        if (box.isEmpty()) {
            QCOMPARE(boxes.count(), 0);
            QCOMPARE(pty->read(int(frame.size()), 2000), frame);
            QVERIFY(ui->sendText().endsWith(QStringLiteral("send->") + protocol::hexLine(frame)));
            return;
        }
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.title, QStringLiteral("Warning"));
        QCOMPARE(boxes.text, box);
        QCOMPARE(dialog->focusWidget(), ui->widget<QWidget>(focus.toLatin1().constData()));
        QCOMPARE(pty->readFor(100), QByteArray());
        QCOMPARE(ui->sendText(), QString());
    }

private slots:
    void init() { openSession(Window::Shown); }
    void cleanup() { closeSession(); }

    void configurationWriteNeedsEveryListAndAddress_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QByteArray>("frame");
        const QString lists = QStringLiteral("以下列表没有选定的值：");
        QTest::newRow("parity bits 3") << QByteArray("A5A5 00000000 3412 0100 00 00 03 46 0000")
                                       << QStringList() << lists + "校验位"
                                       << "comboBox_UartParity" << QByteArray();
        QTest::newRow("RF data rate 0") << QByteArray("A5A5 00000000 3412 0100 00 00 00 44 0000")
                                        << QStringList() << lists + "空中速率"
                                        << "comboBox_RfDataRate" << QByteArray();
        QTest::newRow("model box on, bandwidth and spreading factor 0")
            << QByteArray(goodRecord) << QStringList{"checkBox_rq520M=1"}
            << lists + "信号带宽、扩频因子"
            << "comboBox_bandwidth" << QByteArray();
        QTest::newRow("model box off: bandwidth and spreading factor are not written")
            << QByteArray(goodRecord) << QStringList() << QString() << QString()
            << withChecksum("01000110 A5A5 00000000 3412 0100 00 00 03 44 0000");
        QTest::newRow("blank list and unfinished address in one box")
            << QByteArray("A5A5 00000000 3412 0100 00 00 03 F4 0000")
            << QStringList{"lineEdit_PanID=12", "lineEdit_moduleAddr="}
            << lists + "串口速率\n以下字段需要四位十六进制数：网络ID、模块地址"
            << "comboBox_UartParaBaud" << QByteArray();
    }
    void configurationWriteNeedsEveryListAndAddress()
    {
        QFETCH(QByteArray, record);
        QFETCH(QStringList, settings);
        QFETCH(QString, box);
        QFETCH(QString, focus);
        QFETCH(QByteArray, frame);
        pty->write(configReply(record.constData()));
        pty->readFor(20);
        ui->receiveTick();
        QVERIFY(ui->receiveText().endsWith(QStringLiteral("读参数成功！\n")));
        apply(settings);
        clickAndExpect("pushButton_writeCfg", box, focus, frame);
    }

    void addressesMustHaveFourDigits_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QByteArray>("frame");
        const QString heading = QStringLiteral("以下字段需要四位十六进制数：");
        QTest::newRow("configuration: network ID of two digits")
            << "pushButton_writeCfg" << QStringList{"lineEdit_PanID=12", "lineEdit_moduleAddr=0001"}
            << heading + "网络ID"
            << "lineEdit_PanID" << QByteArray();
        QTest::newRow("configuration: module address of three digits")
            << "pushButton_writeCfg"
            << QStringList{"lineEdit_PanID=1234", "lineEdit_moduleAddr=123"} << heading + "模块地址"
            << "lineEdit_moduleAddr" << QByteArray();
        QTest::newRow("route search: empty target")
            << "pushButton_routeDiscovery" << QStringList{"lineEdit_routeDstAddr="}
            << heading + "目标地址"
            << "lineEdit_routeDstAddr" << QByteArray();
        QTest::newRow("data: target and a relay in use")
            << "pushButton_sendData"
            << QStringList{"lineEdit_dataDstAddr=123", "comboBox_discoveryRoute=3",
                           "comboBox_relayCount=2", "lineEdit_relayAddr1=0002",
                           "lineEdit_relayAddr2=3"}
            << heading + "目标地址、中继列表（第2个）"
            << "lineEdit_dataDstAddr" << QByteArray();
        QTest::newRow("data: a relay beyond the count is not read")
            << "pushButton_sendData"
            << QStringList{"lineEdit_dataDstAddr=1234", "comboBox_discoveryRoute=3",
                           "comboBox_relayCount=1", "lineEdit_relayAddr1=0002",
                           "lineEdit_relayAddr2=3"}
            << QString() << QString() << withChecksum("05000109 341200070301020000");
    }
    void addressesMustHaveFourDigits()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, settings);
        QFETCH(QString, box);
        QFETCH(QString, focus);
        QFETCH(QByteArray, frame);
        apply(settings);
        clickAndExpect(button, box, focus, frame);
    }

    void whitelistFieldsAreEmptyOrFourDigits_data()
    {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QByteArray>("frame");
        const QString heading = QStringLiteral("以下字段需要留空或填写四位十六进制数：");
        QTest::newRow("not hex") << QStringList{"lineEdit_Acl1=xyz!"}
                                 << heading + "节点地址（第1个）"
                                 << "lineEdit_Acl1" << QByteArray();
        QTest::newRow("too long and too short")
            << QStringList{"lineEdit_Acl2=123456789", "lineEdit_Acl5=7"}
            << heading + "节点地址（第2个）、节点地址（第5个）"
            << "lineEdit_Acl2" << QByteArray();
        QTest::newRow("complete or empty")
            << QStringList{"lineEdit_Acl1=abcd"} << QString() << QString()
            << hex("0400010F CDAB00FFFF00FFFF00FFFF00FFFF00 6C");
    }
    void whitelistFieldsAreEmptyOrFourDigits()
    {
        QFETCH(QStringList, settings);
        QFETCH(QString, box);
        QFETCH(QString, focus);
        QFETCH(QByteArray, frame);
        // Typed, the fields take what the other address fields take.
        auto *first = ui->widget<QLineEdit>("lineEdit_Acl1");
        QCOMPARE(first->validator(), ui->widget<QLineEdit>("lineEdit_PanID")->validator());
        apply(QStringList{"checkBox_AclEnable=1"} + settings);
        clickAndExpect("pushButton_writeAcl", box, focus, frame);
    }

    void malformedDataTextSendsNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("repeating");
        QTest::addColumn<QString>("box");
        QTest::newRow("blank inside a byte") << "AA BB C C" << false << "请输入正确格式";
        QTest::newRow("blank inside a byte, repeating") << "AA BB C C" << true << "请输入正确格式";
        QTest::newRow("valid text over 65,535 characters is too long, not malformed")
            << QStringLiteral("ab ").repeated(23334) << false << "数据过长：最多可发送114字节";
    }
    void malformedDataTextSendsNothing()
    {
        QFETCH(QString, text);
        QFETCH(bool, repeating);
        QFETCH(QString, box);
        ui->setText("lineEdit_dataDstAddr", "1234");
        MessageBoxCatcher boxes;
        ui->widget<QTextEdit>("textEdit_sendData")->setPlainText(text);
        const int before = boxes.count();
        QCOMPARE(before, 0); // typing draws no box, the send does
        auto *repeat = ui->widget<QCheckBox>("checkBox_continueSend");
        if (repeating) {
            repeat->setChecked(true);
            QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), before + 1, 3000);
            QTest::qWait(1200); // further ticks would show it again
            QVERIFY(!repeat->isChecked());
        } else {
            ui->click("pushButton_sendData");
        }
        QCOMPARE(boxes.count(), before + 1);
        QCOMPARE(boxes.text, box);
        QCOMPARE(pty->readFor(100), QByteArray());
        QCOMPARE(ui->sendText(), QString());
    }

    void closedPortSendsAndEchoesNothing_data()
    {
        QTest::addColumn<bool>("deviceLost");
        QTest::newRow("closed by the button") << false;
        QTest::newRow("device lost") << true;
    }
    void closedPortSendsAndEchoesNothing()
    {
        QFETCH(bool, deviceLost);
        apply({"checkBox_AclEnable=1", "lineEdit_dataDstAddr=00ab", "comboBox_msTime=9"});
        auto *repeat = ui->widget<QCheckBox>("checkBox_continueSend");
        auto enabled = [&](const char *name) { return ui->widget<QWidget>(name)->isEnabled(); };
        repeat->setChecked(true);
        QVERIFY(!enabled("pushButton_sendData"));
        QVERIFY(enabled("pushButton_readAcl") && enabled("pushButton_writeAcl"));

        if (deviceLost)
            pty->hangUp();
        else
            ui->click("pushButton_openCom");
        QTRY_VERIFY_WITH_TIMEOUT(!ui->portShownOpen(), 2000);
        // A lost device pauses repeated sending until it comes back; the button ends it.
        QCOMPARE(repeat->isChecked(), deviceLost);
        QVERIFY(!ui->widget<QTimer>("sendTimer")->isActive());
        for (const char *name :
             {"pushButton_sendData", "pushButton_readAcl", "pushButton_writeAcl"})
            QVERIFY2(!enabled(name), name);

        // Switching repeated sending on and off while closed enables nothing; a tick and a
        // whitelist command that reach the closed port leave no echo.
        repeat->setChecked(true);
        ui->invoke("continueSendData");
        ui->invoke("on_pushButton_readAcl_clicked");
        repeat->setChecked(false);
        QVERIFY(!enabled("pushButton_sendData"));
        QCOMPARE(ui->sendText(), QString());
    }

    void framesNeverQueueUpOrGetCut_data()
    {
        QTest::addColumn<bool>("closeWhileQueued");
        QTest::newRow("repeat ticks while a frame waits") << false;
        QTest::newRow("close while a frame waits") << true;
    }
    void framesNeverQueueUpOrGetCut()
    {
        QFETCH(bool, closeWhileQueued);
        // 300 baud: the 125-byte frame takes over 4 s on the line, the bound of the close.
        ui->select("comboBox_baudList", 0);
        ui->setText("lineEdit_dataDstAddr", "1234");
        ui->widget<QTextEdit>("textEdit_sendData")
            ->setPlainText(QStringLiteral("5a ").repeated(114));
        const int filled = pty->fillLine();
        QVERIFY(filled > 0);
        auto *port = ui->widget<QSerialPort>("myCom");
        auto *repeat = ui->widget<QCheckBox>("checkBox_continueSend");

        if (closeWhileQueued) {
            ui->click("pushButton_sendData");
            QVERIFY(port->bytesToWrite() > 0);
            ui->click("pushButton_openCom");
            QVERIFY(!ui->portShownOpen()); // shown closed at once
        } else {
            repeat->setChecked(true);
            QTRY_COMPARE_WITH_TIMEOUT(ui->sendText().count(QStringLiteral("send->")), 1, 3000);
            QTest::qWait(1600); // three more ticks, all skipped
            QCOMPARE(ui->sendText().count(QStringLiteral("send->")), 1);
            QVERIFY(port->bytesToWrite() <= 125);
            repeat->setChecked(false);
        }

        // The module reads again: the waiting frame follows the filler whole, and nothing else.
        const QByteArray arrived = pty->read(filled + 125, 10000);
        QCOMPARE(arrived.size(), filled + 125);
        const QByteArray frame = arrived.mid(filled);
        QCOMPARE(frame.left(4), hex("05000178"));
        QVERIFY(protocol::checksumMatches(frame));
        QCOMPARE(pty->readFor(600), QByteArray());
        if (closeWhileQueued) {
            QTRY_VERIFY_WITH_TIMEOUT(!port->isOpen(), 2000);
            QVERIFY(ui->widget<QWidget>("pushButton_openCom")->isEnabled());
        }
    }

    void windowShowsTheSettingsInUse()
    {
        auto *ports = ui->widget<QWidget>("comboBox_comList");
        QVERIFY(!ports->isEnabled()); // the port in use cannot be swapped under it
        apply({"lineEdit_dataDstAddr=00ab", "comboBox_msTime=9"});
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(true);
        ui->select("comboBox_msTime", 0); // 5000 ms becomes 500 ms now, not at the next start
        QCOMPARE(ui->widget<QTimer>("sendTimer")->interval(), 500);
        const QByteArray frame = withChecksum("05000106ab00000701 00");
        QCOMPARE(pty->read(int(frame.size()), 3000), frame);
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(false);
        ui->click("pushButton_openCom");
        QVERIFY(ports->isEnabled());
    }

    void enterInAFieldPressesNothing_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("network ID") << "lineEdit_PanID";
        QTest::newRow("route target") << "lineEdit_routeDstAddr";
        QTest::newRow("data target") << "lineEdit_dataDstAddr";
    }
    void enterInAFieldPressesNothing()
    {
        QFETCH(QString, field);
        auto *edit = ui->widget<QLineEdit>(field.toLatin1().constData());
        edit->setText("1234");
        edit->setFocus();
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(edit, key);
            QVERIFY(ui->portShownOpen());
        }
        QCOMPARE(pty->readFor(100), QByteArray());
        QCOMPARE(ui->sendText(), QString());
        for (const QPushButton *button : dialog->findChildren<QPushButton *>())
            QVERIFY2(!button->isDefault() && !button->autoDefault(),
                     qPrintable(button->objectName()));
    }
};

QTEST_MAIN(GuardsTest)
#include "tst_guards.moc"
