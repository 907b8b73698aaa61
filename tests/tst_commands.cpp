#include "app/dialog.h"
#include "dialogdriver.h"
#include "ptypair.h"
#include "testbytes.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace {

QString hexText(const QByteArray &bytes)
{
    QString text;
    for (char c : bytes)
        text += QString::asprintf("%02x ", quint8(c));
    return text + QLatin1Char('\n');
}

} // namespace

class CommandsTest : public OpenPortTest
{
    Q_OBJECT

private:
    // The far end reads exactly these bytes and the send box ends with their line.
    void expectSent(const QByteArray &frame)
    {
        QCOMPARE(pty->read(int(frame.size()), 2000), frame);
        QCOMPARE(pty->readFor(30), QByteArray()); // nothing more
        QVERIFY2(ui->sendText().endsWith(QStringLiteral("send->") + hexText(frame)),
                 qPrintable(ui->sendText()));
    }

    // The far end answers; the next tick shows the hex line and the reply's text.
    void reply(const QByteArray &chunk)
    {
        ui->widget<LogView>("ReceiveOutBrowser")->clear();
        pty->write(chunk);
        pty->readFor(20); // let the bytes arrive
        ui->receiveTick();
    }

private slots:
    void init() { openSession(); }
    void cleanup() { closeSession(); }

    void fixedCommands_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("read configuration") << "pushButton_readCfg" << hex("0100020003");
        QTest::newRow("read version") << "pushButton_readVersion" << hex("0100060007");
        QTest::newRow("reset") << "pushButton_resetModule" << hex("0100070006");
        QTest::newRow("read whitelist") << "pushButton_readAcl" << hex("0400020006");
        QTest::newRow("configuration mode") << "pushButton_enterCfgMode" << hex("2d2d2d");
    }
    void fixedCommands()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, frame);
        ui->widget<QCheckBox>("checkBox_AclEnable")
            ->setChecked(true); // the whitelist buttons' gate
        ui->click(button.toLatin1().constData());
        expectSent(frame);
        QCOMPARE(ui->sendText(), QStringLiteral("send->") + hexText(frame));
    }

    void writeConfiguration()
    {
        MessageBoxCatcher yes(QMessageBox::Yes); // nothing was read: every field as shown
        ui->setText("lineEdit_PanID", "1234");
        ui->setText("lineEdit_moduleAddr", "0001");
        ui->select("comboBox_RfDataRate", 0);
        ui->click("pushButton_writeCfg");
        expectSent(withChecksum("01000110 A5A50000000034120100000001440000"));

        ui->widget<QCheckBox>("checkBox_rq520M")->setChecked(true);
        ui->select("comboBox_bandwidth", 1);
        ui->select("comboBox_SpreadFactor", 5);
        ui->click("pushButton_writeCfg");
        expectSent(withChecksum("01000110 A5A5000000003412010000000144080C"));

        // Addresses go out low byte first; unfinished ones are refused (tst_guards).
        ui->setText("lineEdit_PanID", "abcd");
        ui->setText("lineEdit_moduleAddr", "1200");
        ui->widget<QCheckBox>("checkBox_AclEnable")->setChecked(true);
        ui->click("pushButton_writeCfg");
        expectSent(withChecksum("01000110 A5A500000000CDAB0012010001440 80C"));
    }

    void routeSearch()
    {
        ui->setText("lineEdit_routeDstAddr", "1234");
        ui->select("comboBox_routeMaxDepth", 6);
        ui->click("pushButton_routeDiscovery");
        expectSent(hex("050008043412070 32b"));
        QCOMPARE(ui->sendText(), QStringLiteral("send->05 00 08 04 34 12 07 03 2b \n"));
        ui->setText("lineEdit_routeDstAddr", "ABCD");
        ui->select("comboBox_routeMaxDepth", 0);
        ui->click("pushButton_routeDiscovery");
        expectSent(hex("05000804cdab01036d"));
        ui->setText("lineEdit_routeDstAddr", "0000");
        ui->click("pushButton_routeDiscovery");
        expectSent(withChecksum("05000804 00000103"));
    }

    void writeWhitelist()
    {
        ui->widget<QCheckBox>("checkBox_AclEnable")->setChecked(true);
        ui->click("pushButton_writeAcl");
        expectSent(hex("0400010F FFFF00FFFF00FFFF00FFFF00FFFF00 0A"));
        ui->setText("lineEdit_Acl1", "abcd");
        ui->click("pushButton_writeAcl");
        expectSent(hex("0400010F CDAB00FFFF00FFFF00FFFF00FFFF00 6C"));
        ui->setText("lineEdit_Acl5", "1200");
        ui->click("pushButton_writeAcl");
        expectSent(withChecksum("0400010F CDAB00FFFF00FFFF00FFFF00001200"));
    }

    void sendData()
    {
        ui->setText("lineEdit_dataDstAddr", "1234");
        auto *text = ui->widget<QTextEdit>("textEdit_sendData");
        text->setPlainText("01 02 03");
        QCOMPARE(ui->widget<QLabel>("label_BytesCount")->text(), QStringLiteral("03"));
        ui->click("pushButton_sendData");
        expectSent(hex("050001093412000701030102032e"));

        ui->select("comboBox_discoveryRoute", 3);
        ui->widget<QCheckBox>("checkBox_ackReq")->setChecked(true);
        ui->select("comboBox_relayCount", 2);
        ui->setText("lineEdit_relayAddr1", "0001");
        ui->setText("lineEdit_relayAddr2", "0002");
        ui->setText("lineEdit_relayAddr3", "0003"); // beyond the count: not sent
        text->setPlainText("aa");
        ui->click("pushButton_sendData");
        expectSent(hex("0500010c34120107030201000200 01aa81"));

        ui->select("comboBox_discoveryRoute", 1);
        ui->widget<QCheckBox>("checkBox_ackReq")->setChecked(false);
        text->clear();
        ui->click("pushButton_sendData");
        expectSent(hex("0500010634120007010022"));
    }

    void malformedTextSendsNothing()
    {
        ui->setText("lineEdit_dataDstAddr", "0000");
        auto *text = ui->widget<QTextEdit>("textEdit_sendData");
        text->setPlainText("12 34 56 ");
        MessageBoxCatcher boxes;
        text->setPlainText("7,"); // malformed: marked in place, no box while typing
        text->setPlainText("1 2");
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(ui->widget<QLabel>("label_BytesCount")->text(),
                 QStringLiteral("格式有误（第2个字符）"));
        ui->click("pushButton_sendData"); // the warning comes with the send, nothing on the line
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.text, QStringLiteral("请输入正确格式"));
        QCOMPARE(pty->readFor(100), QByteArray());
        text->setPlainText("12 34 56 ");
        ui->click("pushButton_sendData");
        expectSent(withChecksum("0500010900000007010312 3456"));
    }

    void oversizeDataAreRefused()
    {
        ui->setText("lineEdit_dataDstAddr", "1234");
        auto *text = ui->widget<QTextEdit>("textEdit_sendData");
        QString data;
        for (int i = 0; i < 115; ++i)
            data += QStringLiteral("ab ");
        text->setPlainText(data);
        QCOMPARE(ui->widget<QLabel>("label_BytesCount")->text(), QStringLiteral("115"));
        MessageBoxCatcher boxes;
        ui->click("pushButton_sendData");
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.text, QStringLiteral("数据过长：最多可发送114字节"));
        QCOMPARE(pty->readFor(100), QByteArray());
        QCOMPARE(ui->sendText(), QString());

        ui->select("comboBox_discoveryRoute", 3);
        ui->select("comboBox_relayCount", 6);
        for (const char *relay :
             {"lineEdit_relayAddr1", "lineEdit_relayAddr2", "lineEdit_relayAddr3",
              "lineEdit_relayAddr4", "lineEdit_relayAddr5", "lineEdit_relayAddr6"})
            ui->setText(relay, "0002");
        text->setPlainText(data.left(3 * 102));
        ui->click("pushButton_sendData");
        QCOMPARE(boxes.count(), 2);
        QCOMPARE(boxes.text, QStringLiteral("数据过长：最多可发送101字节"));
        text->setPlainText(data.left(3 * 101));
        ui->click("pushButton_sendData");
        QCOMPARE(pty->read(125).size(), 125); // 120-byte payload plus header and checksum
    }

    void repeatedSendingStopsWhenTheDataDoNotFit()
    {
        ui->setText("lineEdit_dataDstAddr", "1234");
        auto *text = ui->widget<QTextEdit>("textEdit_sendData");
        QString data;
        for (int i = 0; i < 120; ++i)
            data += QStringLiteral("0f ");
        text->setPlainText(data);
        MessageBoxCatcher boxes;
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(true);
        QTest::qWait(1800);
        QCOMPARE(boxes.count(), 1); // once, not on every tick
        QCOMPARE(boxes.text, QStringLiteral("数据过长：最多可发送114字节"));
        QVERIFY(!ui->widget<QCheckBox>("checkBox_continueSend")->isChecked());
        QVERIFY(!ui->widget<QTimer>("sendTimer")->isActive());
        QVERIFY(ui->widget<QPushButton>("pushButton_sendData")->isEnabled());
        QCOMPARE(pty->readFor(50), QByteArray());
    }

    void repeatedSendingAtTheChosenInterval()
    {
        ui->setText("lineEdit_dataDstAddr", "00ab");
        // 1500 ms: a silent line lets each send's deadline (about a second) pass before the
        // next tick, which would otherwise wait for it.
        ui->select("comboBox_msTime", 2);
        QElapsedTimer clock;
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(true);
        clock.start();
        const QByteArray frame = withChecksum("05000106ab00000701 00");
        QCOMPARE(pty->read(int(frame.size()), 10000), frame);
        const qint64 first = clock.elapsed();
        QVERIFY2(first >= 1400, qPrintable(QString::number(first))); // one interval, not at once
        QCOMPARE(pty->read(int(frame.size()) * 2, 10000), frame + frame);
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(false);
        QCOMPARE(ui->sendText().count(QStringLiteral("send->")), 3);
        QCOMPARE(pty->readFor(1700), QByteArray());
    }

    void closedPortWritesAndEchoesNothing()
    {
        ui->select("comboBox_msTime", 0);
        auto *repeat = ui->widget<QCheckBox>("checkBox_continueSend");
        repeat->setChecked(true);
        ui->click("pushButton_openCom"); // closing switches repeated sending off
        QVERIFY(!ui->portShownOpen());
        QVERIFY(!repeat->isChecked());
        QTest::failOnWarning(QRegularExpression(".*")); // no warning per tick either
        repeat->setChecked(true); // switched on again while closed: the ticks send nothing
        QTest::qWait(1200);
        // A whitelist command that reaches the closed port is neither written nor echoed.
        ui->invoke("on_pushButton_readAcl_clicked");
        QCOMPARE(pty->readFor(100), QByteArray());
        QCOMPARE(ui->sendText(), QString());
        repeat->setChecked(false);
    }

    // Esc while repeated sending runs asks before the window goes; without a run it just goes.
    void escapeDuringALinkTestAsksFirst_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<bool>("closed");
        QTest::newRow("no run") << false << int(QMessageBox::Ok) << 0 << true;
        QTest::newRow("run, answered no") << true << int(QMessageBox::No) << 1 << false;
        QTest::newRow("run, answered yes") << true << int(QMessageBox::Yes) << 1 << true;
    }
    void escapeDuringALinkTestAsksFirst()
    {
        QFETCH(bool, running);
        QFETCH(int, answer);
        QFETCH(int, boxes);
        QFETCH(bool, closed);
        dialog->show();
        ui->setText("lineEdit_dataDstAddr", "00ab");
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(running);
        MessageBoxCatcher box{QMessageBox::StandardButton(answer)};
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_COMPARE_WITH_TIMEOUT(box.count(), boxes, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->isVisible(), !closed, 5000);
        QCOMPARE(ui->widget<QCheckBox>("checkBox_continueSend")->isChecked(), running);
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(false);
    }

    void replyBranches_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("text");
        QTest::newRow("configuration written") << hex("010081010081") << "配置结果：SUCCESS!\n";
        QTest::newRow("configuration refused") << hex("010081010283") << "配置结果：FAILUER!\n";
        QTest::newRow("version") << withChecksum("0100860700100200250314")
                                 << "模块程序版本：V10.02 发布日期：2014-03-25\n";
        QTest::newRow("reset") << withChecksum("0100870100") << "模块复位：SUCCESS!\n";
        QTest::newRow("reset refused") << withChecksum("0100870107") << "模块复位：FAILUER!\n";
        QTest::newRow("whitelist written") << withChecksum("0400810100") << "配置结果：SUCCESS!\n";
        QTest::newRow("data sent")
            << withChecksum("05008103ab0000") << "向节点0x00ab发送数据SUCCESS!\n";
        QTest::newRow("data failed")
            << withChecksum("05008103ab0001") << "向节点0x00ab发送数据FAILUER! 错误码为：0x01\n";
        QTest::newRow("route with relays")
            << withChecksum("05008809341200000201000200")
            << "找节点0x1234的路由SUCCESS! 中继数：02\n中继节点：0x0001 0x0002 \n";
        QTest::newRow("route direct")
            << withChecksum("050088053412000000") << "找节点0x1234的路由SUCCESS! 中继数：00\n\n";
        QTest::newRow("route failed")
            << withChecksum("05008803341205") << "找节点0x1234的路由FAILUER! 错误码为：0x05\n";
        QTest::newRow("bad checksum") << hex("010081010080") << "校验错误\n";
        QTest::newRow("one byte") << hex("81") << "";
        QTest::newRow("unknown reply") << withChecksum("0100990100") << "";
        QTest::newRow("too short") << withChecksum("01008601") << "";
    }
    void replyBranches()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, text);
        reply(chunk);
        QCOMPARE(ui->receiveText(), QStringLiteral("Recv->") + hexText(chunk) + text);
    }

    void configurationReadFillsTheWidgets()
    {
        ui->widget<QCheckBox>("checkBox_rq520M")->setChecked(true);
        reply(withChecksum("01008210 A5A5 05030101 0BA0 3412 01 00 02 C3 09 07"));
        QVERIFY(ui->receiveText().endsWith(QStringLiteral("读参数成功！\n")));
        auto index = [&](const char *name) { return ui->widget<QComboBox>(name)->currentIndex(); };
        QCOMPARE(index("comboBox_channelNum"), 5);
        QCOMPARE(ui->widget<QComboBox>("comboBox_RfPower")->currentText(), QStringLiteral("13dBm"));
        QCOMPARE(index("comboBox_UserMode"), 1);
        QCOMPARE(ui->widget<QComboBox>("comboBox_deviceType")->currentText(),
                 QStringLiteral("Master"));
        QCOMPARE(ui->widget<QLineEdit>("lineEdit_PanID")->text(), QStringLiteral("a00b"));
        QCOMPARE(ui->widget<QLineEdit>("lineEdit_moduleAddr")->text(), QStringLiteral("1234"));
        QVERIFY(ui->widget<QCheckBox>("checkBox_AclEnable")->isChecked());
        QVERIFY(ui->widget<QPushButton>("pushButton_writeAcl")->isEnabled());
        QCOMPARE(ui->widget<QComboBox>("comboBox_RfDataRate")->currentText(),
                 QStringLiteral("4800"));
        QCOMPARE(ui->widget<QComboBox>("comboBox_UartParaBaud")->currentText(),
                 QStringLiteral("230400"));
        QCOMPARE(ui->widget<QComboBox>("comboBox_UartParity")->currentText(),
                 QStringLiteral("奇校验"));
        QCOMPARE(index("comboBox_UartStopBit"), 1);
        QCOMPARE(ui->widget<QComboBox>("comboBox_bandwidth")->currentText(), QStringLiteral("9"));
        QCOMPARE(ui->widget<QComboBox>("comboBox_SpreadFactor")->currentText(),
                 QStringLiteral("7"));
        QCOMPARE(ui->widget<QLineEdit>("lineEdit_rfRate")->text(), QStringLiteral("21.88kbps"));

        // Whitelist off with the check box already off still runs its slot; zeros in bytes 18
        // and 19 leave both lists without a current item and the rate text as it was.
        ui->widget<QCheckBox>("checkBox_AclEnable")->setChecked(false);
        ui->widget<QPushButton>("pushButton_writeAcl")->setEnabled(true);
        reply(withChecksum("01008210 A5A5 00000000 0000 0000 00 00 03 44 00 00"));
        QVERIFY(!ui->widget<QPushButton>("pushButton_writeAcl")->isEnabled());
        QCOMPARE(index("comboBox_bandwidth"), -1);
        QCOMPARE(index("comboBox_SpreadFactor"), -1);
        QCOMPARE(ui->widget<QLineEdit>("lineEdit_rfRate")->text(), QStringLiteral("21.88kbps"));
        QCOMPARE(ui->widget<QComboBox>("comboBox_UartParity")->currentText(),
                 QStringLiteral("偶校验"));
        QVERIFY(ui->widget<QCheckBox>("checkBox_rq520M")->isChecked()); // the user's choice stays
    }

    void whitelistReadFillsTheFields()
    {
        reply(withChecksum("0400820f CDAB00 FFFF07 341200 010000 00FF00"));
        QVERIFY(ui->receiveText().endsWith(QStringLiteral("读白名单表成功！\n")));
        const char *fields[] = {"lineEdit_Acl1", "lineEdit_Acl2", "lineEdit_Acl3", "lineEdit_Acl4",
                                "lineEdit_Acl5"};
        const QStringList expected = {"abcd", "ffff", "1234", "0001", "ff00"};
        for (int n = 0; n < 5; ++n)
            QCOMPARE(ui->widget<QLineEdit>(fields[n])->text(), expected[n]);
    }

    void shortRepliesChangeNoWidget()
    {
        ui->setText("lineEdit_Acl1", "keep");
        reply(withChecksum("0400820f CDAB00FFFF00341200010000")); // entries cut short
        QCOMPARE(ui->widget<QLineEdit>("lineEdit_Acl1")->text(), QStringLiteral("keep"));
        QVERIFY(!ui->receiveText().contains(QStringLiteral("成功")));
        ui->setText("lineEdit_PanID", "beef");
        reply(withChecksum("01008210 A5A505030101 0BA0")); // record cut short
        QCOMPARE(ui->widget<QLineEdit>("lineEdit_PanID")->text(), QStringLiteral("beef"));
    }

    // Each chunk arrives before its own tick; every reply is shown once, after the hex line of
    // the tick it became complete on. Bytes the link still holds are given up before the last
    // tick, so that a reply shown ahead of its frame cannot show again.
    void everyReplyShownOnce_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("text");
        const QByteArray reset = withChecksum("0100870100");
        const QByteArray written = withChecksum("0400810100");
        QTest::newRow("split over two ticks")
            << QList<QByteArray>{reset.left(3), reset.mid(3)}
            << "Recv->01 00 87 \nRecv->01 00 87 \n模块复位：SUCCESS!\n";
        QTest::newRow("two replies in one chunk") << QList<QByteArray>{written + reset}
                                                  << "Recv->04 00 81 01 00 84 01 00 87 01 00 87 "
                                                     "\n配置结果：SUCCESS!\n模块复位：SUCCESS!\n";
        QTest::newRow("length byte too large, checksum right")
            << QList<QByteArray>{withChecksum("0100810200")}
            << "Recv->01 00 81 02 00 82 \n配置结果：SUCCESS!\n";
        QTest::newRow("length byte too small, checksum right")
            << QList<QByteArray>{withChecksum("0100810000")}
            << "Recv->01 00 81 00 00 80 \n配置结果：SUCCESS!\n";
        QTest::newRow("reply behind an unfinished header")
            << QList<QByteArray>{hex("01008210"), reset}
            << "Recv->01 00 82 10 \nRecv->01 00 87 01 00 87 \n模块复位：SUCCESS!\n";
    }
    void everyReplyShownOnce()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QString, text);
        for (const QByteArray &chunk : chunks) {
            pty->write(chunk);
            pty->readFor(20);
            ui->receiveTick();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!ui->link()->holdsUnfinishedFrame(), 5000);
        ui->receiveTick();
        QCOMPARE(ui->receiveText(), text);
    }

    // A request that gets no reply by its deadline says so once, under its button's text; the
    // configuration-mode bytes expect nothing, and an answered request says nothing.
    void unansweredRequestsSayItOnce_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("line"); // per send; empty: none
        QTest::newRow("write configuration")
            << "pushButton_writeCfg" << QByteArray() << "无应答：写配置";
        QTest::newRow("read configuration")
            << "pushButton_readCfg" << QByteArray() << "无应答：读配置";
        QTest::newRow("route search")
            << "pushButton_routeDiscovery" << QByteArray() << "无应答：源路由搜索";
        QTest::newRow("read version")
            << "pushButton_readVersion" << QByteArray() << "无应答：读版本";
        QTest::newRow("reset") << "pushButton_resetModule" << QByteArray() << "无应答：模块复位";
        QTest::newRow("read whitelist")
            << "pushButton_readAcl" << QByteArray() << "无应答：读白名单";
        QTest::newRow("write whitelist")
            << "pushButton_writeAcl" << QByteArray() << "无应答：写白名单";
        QTest::newRow("send data") << "pushButton_sendData" << QByteArray() << "无应答：发送数据";
        QTest::newRow("repeated sending")
            << "checkBox_continueSend" << QByteArray() << "无应答：发送数据";
        QTest::newRow("configuration mode") << "pushButton_enterCfgMode" << QByteArray() << "";
        QTest::newRow("answered") << "pushButton_resetModule" << withChecksum("0100870100") << "";
    }
    void unansweredRequestsSayItOnce()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, answer);
        QFETCH(QString, line);
        ui->setText("lineEdit_PanID", "1234");
        ui->setText("lineEdit_moduleAddr", "0001");
        ui->setText("lineEdit_routeDstAddr", "1234");
        ui->setText("lineEdit_dataDstAddr", "00ab");
        ui->widget<QCheckBox>("checkBox_AclEnable")->setChecked(true);
        MessageBoxCatcher yes(QMessageBox::Yes); // a write without a read asks first
        ui->click(button.toLatin1().constData());
        if (button == "checkBox_continueSend") {
            QTRY_VERIFY_WITH_TIMEOUT(ui->sendText().count(QStringLiteral("send->")) >= 3, 5000);
            ui->click("checkBox_continueSend");
        }
        QVERIFY(ui->sendText().count(QStringLiteral("send->")) >= 1);
        if (!answer.isEmpty())
            pty->write(answer);
        QTRY_COMPARE_WITH_TIMEOUT(ui->link()->pendingCount(), 0, 5000);
        QTest::qWait(20);
        ui->receiveTick();
        ui->receiveTick();
        const int sends = int(ui->sendText().count(QStringLiteral("send->")));
        const QStringList lines = ui->receiveText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(int(lines.filter(QStringLiteral("无应答")).size()), line.isEmpty() ? 0 : sends);
        if (!line.isEmpty())
            QCOMPARE(int(lines.count(line)), sends);
    }

    void oversizeChunkShowsEveryByte()
    {
        QByteArray chunk(400, '\x33');
        reply(chunk);
        QCOMPARE(ui->receiveText(), QStringLiteral("Recv->") + hexText(chunk));
    }

    void textAlwaysLandsAtTheEnd()
    {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        auto *box = ui->widget<LogView>("ReceiveOutBrowser");
        reply(withChecksum("0100870100"));
        const QString first = box->toPlainText();
        // The user clicks into the text and selects some of it with the keyboard.
        QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, QPoint(1, 5));
        for (int n = 0; n < 8; ++n)
            QTest::keyClick(box, Qt::Key_Right, Qt::ShiftModifier);
        pty->write(withChecksum("0400810100"));
        pty->readFor(20);
        ui->receiveTick();
        QCOMPARE(box->toPlainText(),
                 first + QStringLiteral("Recv->04 00 81 01 00 84 \n配置结果：SUCCESS!\n"));
        QCOMPARE(box->selectedText(), first.left(8)); // selection untouched

        auto *sent = ui->widget<LogView>("SendOutBrowser");
        ui->click("pushButton_readVersion");
        QTest::mouseClick(sent->viewport(), Qt::LeftButton, {}, QPoint(1, 1));
        ui->click("pushButton_resetModule");
        QCOMPARE(sent->toPlainText(),
                 QStringLiteral("send->01 00 06 00 07 \nsend->01 00 07 00 06 \n"));
    }

    void readTimerDrainsTheReplies()
    {
        ui->widget<QTimer>("readTimer")->start(500);
        pty->write(withChecksum("0100870100"));
        QTRY_VERIFY_WITH_TIMEOUT(ui->receiveText().contains(QStringLiteral("模块复位：SUCCESS!")),
                                 1500);
    }
};

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
