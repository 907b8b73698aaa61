#include "app/dialog.h"
#include "app/language.h"
#include "dialogdriver.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QStyleOptionComboBox>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace {

QStringList items(const QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

QStringList numbers(int from, int to)
{
    QStringList list;
    for (int i = from; i <= to; ++i)
        list << QString::number(i);
    return list;
}

// Where a list draws its text: its field without the frame and the arrow.
QRect textRect(const QComboBox *list)
{
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = list->isEditable();
    option.frame = list->hasFrame();
    return list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                         list);
}

const char *const relayFields[] = {"lineEdit_relayAddr1", "lineEdit_relayAddr2",
                                   "lineEdit_relayAddr3", "lineEdit_relayAddr4",
                                   "lineEdit_relayAddr5", "lineEdit_relayAddr6"};

const char *const whitelistWidgets[] = {"lineEdit_Acl1",      "lineEdit_Acl2", "lineEdit_Acl3",
                                        "lineEdit_Acl4",      "lineEdit_Acl5", "pushButton_readAcl",
                                        "pushButton_writeAcl"};

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    // The form is measured in the font the programs draw it with.
    void initTestCase() { useUnhintedText(); }
    void init()
    {
        dialog = new Dialog;
        ui = new DialogDriver(*dialog);
    }
    void cleanup()
    {
        delete ui;
        delete dialog;
    }

    void windowAndFixedLists()
    {
        QCOMPARE(dialog->objectName(), QStringLiteral("Dialog"));
        QCOMPARE(dialog->size(), QSize(737, 662));
        auto list = [&](const char *name) { return ui->widget<QComboBox>(name); };
        QCOMPARE(items(list("comboBox_RfPower")), QStringList({"20dBm", "17dBm", "15dBm", "13dBm",
                                                               "11dBm", "9dBm", "7dBm", "5dBm"}));
        QCOMPARE(items(list("comboBox_deviceType")), QStringList({"Slave", "Master"}));
        QCOMPARE(items(list("comboBox_UserMode")), QStringList({"16进制命令", "透明模式"}));
        QCOMPARE(items(list("comboBox_UartParaBaud")),
                 QStringList({"1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400",
                              "57600", "76800", "115200", "230400"}));
        QCOMPARE(items(list("comboBox_UartParity")), QStringList({"无校验", "奇校验", "偶校验"}));
        QCOMPARE(items(list("comboBox_UartStopBit")), QStringList({"1位停止位", "2位停止位"}));
        QCOMPARE(items(list("comboBox_RfDataRate")),
                 QStringList({"1200", "4800", "9600", "38400"}));
        QCOMPARE(items(list("comboBox_bandwidth")), numbers(7, 9));
        QCOMPARE(items(list("comboBox_SpreadFactor")), numbers(7, 12));
        QCOMPARE(items(list("comboBox_routeMaxDepth")), numbers(1, 7));
        QCOMPARE(items(list("comboBox_discoveryRoute")),
                 QStringList({"禁止路由", "自动路由", "强制路由", "源路由"}));
        QCOMPARE(items(list("comboBox_dataMaxDepth")), numbers(1, 7));
        QCOMPARE(items(list("comboBox_relayCount")), numbers(0, 6));
        QStringList intervals;
        for (int ms = 500; ms <= 5000; ms += 500)
            intervals << QStringLiteral("%1ms").arg(ms);
        QCOMPARE(items(list("comboBox_msTime")), intervals);
        QCOMPARE(items(list("comboBox_channelNum")), numbers(0, 31));
        QCOMPARE(items(list("comboBox_baudList")),
                 QStringList({"300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                              "28800", "38400", "56000", "57600", "76800", "115200", "230400"}));
        QCOMPARE(items(list("comboBox_parityList")), QStringList({"NONE", "ODD", "EVEN"}));
        QCOMPARE(items(list("comboBox_StopBitsList")), QStringList({"1", "2"}));
        QCOMPARE(ui->widget<QCheckBox>("checkBox_rq520M")->text(), QStringLiteral("RQ-520M模块"));
        QCOMPARE(ui->widget<QLabel>("label_BytesCount")->text(), QStringLiteral("0"));
        QCOMPARE(ui->widget<QPushButton>("pushButton_openCom")->text(), QStringLiteral("打开串口"));
    }

    void initialSelectionsAndStates()
    {
        auto current = [&](const char *name) { return ui->widget<QComboBox>(name)->currentText(); };
        QCOMPARE(current("comboBox_discoveryRoute"), QStringLiteral("自动路由"));
        QCOMPARE(current("comboBox_dataMaxDepth"), QStringLiteral("7"));
        QCOMPARE(current("comboBox_UartParaBaud"), QStringLiteral("9600"));
        QCOMPARE(current("comboBox_UartParity"), QStringLiteral("偶校验"));
        QCOMPARE(current("comboBox_UartStopBit"), QStringLiteral("1位停止位"));
        QCOMPARE(current("comboBox_RfDataRate"), QStringLiteral("9600"));
        QCOMPARE(current("comboBox_baudList"), QStringLiteral("9600"));
        QCOMPARE(current("comboBox_parityList"), QStringLiteral("NONE"));
        QCOMPARE(current("comboBox_StopBitsList"), QStringLiteral("1"));
        QCOMPARE(current("comboBox_channelNum"), QStringLiteral("0"));
        QCOMPARE(current("comboBox_routeMaxDepth"), QStringLiteral("1"));
        QCOMPARE(current("comboBox_relayCount"), QStringLiteral("0"));
        QCOMPARE(current("comboBox_msTime"), QStringLiteral("500ms"));

        for (const char *name : commandButtonNames)
            QVERIFY2(!ui->widget<QPushButton>(name)->isEnabled(), name);
        // The whitelist fields start enabled although their check box starts unchecked; its
        // buttons send, so they wait for an open port as well.
        for (const char *name : whitelistWidgets)
            QCOMPARE(ui->widget<QWidget>(name)->isEnabled(),
                     !QByteArray(name).startsWith("pushButton"));
        for (const char *name : relayFields) {
            QVERIFY(ui->widget<QWidget>(name)->isHidden());
            QVERIFY(!ui->widget<QWidget>(name)->isEnabled());
        }
        for (const char *name :
             {"label_relayCount", "label_relayList", "comboBox_relayCount", "label_28", "label_29",
              "comboBox_bandwidth", "comboBox_SpreadFactor", "lineEdit_rfRate"})
            QVERIFY2(ui->widget<QWidget>(name)->isHidden(), name);

        QVERIFY(!ui->widget<QTimer>("readTimer")->isActive());
        QVERIFY(!ui->widget<QTimer>("sendTimer")->isActive());
        QVERIFY(!ui->widget<QSerialPort>("myCom")->isOpen());
    }

    void addressFieldsShareOneValidator()
    {
        const QValidator *validator = ui->widget<QLineEdit>("lineEdit_PanID")->validator();
        QVERIFY(validator);
        for (const char *name :
             {"lineEdit_moduleAddr", "lineEdit_routeDstAddr", "lineEdit_dataDstAddr"})
            QCOMPARE(ui->widget<QLineEdit>(name)->validator(), validator);
        for (const char *name : relayFields)
            QCOMPARE(ui->widget<QLineEdit>(name)->validator(), validator);
        for (const char *name :
             {"lineEdit_Acl1", "lineEdit_Acl2", "lineEdit_Acl3", "lineEdit_Acl4", "lineEdit_Acl5"})
            QCOMPARE(ui->widget<QLineEdit>(name)->validator(), validator);
        QVERIFY(!ui->widget<QLineEdit>("lineEdit_rfRate")->validator());

        auto state = [&](QString text) {
            int pos = 0;
            return validator->validate(text, pos);
        };
        QCOMPARE(state("1A2b"), QValidator::Acceptable);
        QCOMPARE(state("1A2b3"), QValidator::Invalid);
        QCOMPARE(state("G"), QValidator::Invalid);
        QCOMPARE(state("1A"), QValidator::Intermediate);
        QCOMPARE(state(""), QValidator::Intermediate);
        // The address rule's other spelling, as the window logs addresses.
        QCOMPARE(state("0x1A2b"), QValidator::Acceptable);
        QCOMPARE(state("0X1A"), QValidator::Intermediate);
        QCOMPARE(state("0x1A2b3"), QValidator::Invalid);

        // Typing into a field: the fifth digit and a non-hex letter are refused.
        auto *field = ui->widget<QLineEdit>("lineEdit_routeDstAddr");
        QTest::keyClicks(field, "1A2bG5");
        QCOMPARE(field->text(), QStringLiteral("1A2b"));
        auto *acl = ui->widget<QLineEdit>("lineEdit_Acl1");
        QTest::keyClicks(acl, "xyz 12345");
        QCOMPARE(acl->text(), QStringLiteral("1234"));
    }

    void lineSettingChangesReachThePort()
    {
        auto *port = ui->widget<QSerialPort>("myCom");
        ui->select("comboBox_baudList", 11); // 57600
        QCOMPARE(port->baudRate(), 57600);
        ui->select("comboBox_parityList", 2);
        QCOMPARE(port->parity(), QSerialPort::EvenParity);
        ui->select("comboBox_StopBitsList", 1); // no slot: taken at the next open
        QCOMPARE(port->stopBits(), QSerialPort::OneStop);
    }

    void loraModelWidgets()
    {
        showWindow();
        auto *rate = ui->widget<QLineEdit>("lineEdit_rfRate");
        const QRect dataRatePlace = ui->widget<QWidget>("comboBox_RfDataRate")->geometry();
        ui->widget<QCheckBox>("checkBox_rq520M")->setChecked(true);
        QTRY_COMPARE_WITH_TIMEOUT(rate->geometry(), dataRatePlace, 5000);
        for (const char *name : {"label_28", "label_29", "comboBox_bandwidth",
                                 "comboBox_SpreadFactor", "lineEdit_rfRate"})
            QVERIFY2(!ui->widget<QWidget>(name)->isHidden(), name);
        QVERIFY(ui->widget<QWidget>("comboBox_RfDataRate")->isHidden());
        QVERIFY(!ui->widget<QWidget>("label_22")->isHidden());
        QCOMPARE(rate->text(), QString()); // nothing chosen yet

        ui->select("comboBox_bandwidth", 2); // both lists drive the same text
        QCOMPARE(rate->text(), QStringLiteral("21.88kbps"));
        ui->select("comboBox_SpreadFactor", 5);
        QCOMPARE(rate->text(), QStringLiteral("1.172kbps"));
        ui->select("comboBox_bandwidth", 0);
        QCOMPARE(rate->text(), QStringLiteral("0.293kbps"));

        ui->widget<QCheckBox>("checkBox_rq520M")->setChecked(false);
        QVERIFY(rate->isHidden());
        QVERIFY(!ui->widget<QWidget>("comboBox_RfDataRate")->isHidden());
    }

    void whitelistCheckBoxDrivesItsWidgets()
    {
        auto *box = ui->widget<QCheckBox>("checkBox_AclEnable");
        box->setChecked(true);
        for (const char *name : whitelistWidgets) // the buttons also need an open port
            QCOMPARE(ui->widget<QWidget>(name)->isEnabled(),
                     !QByteArray(name).startsWith("pushButton"));
        box->setChecked(false);
        for (const char *name : whitelistWidgets)
            QVERIFY2(!ui->widget<QWidget>(name)->isEnabled(), name);
    }

    void relayRowFollowsRoutingMode()
    {
        ui->select("comboBox_discoveryRoute", 3);
        QVERIFY(!ui->widget<QWidget>("comboBox_relayCount")->isHidden());
        QVERIFY(!ui->widget<QWidget>("lineEdit_relayAddr6")->isHidden());
        ui->select("comboBox_relayCount", 4);
        for (int k = 0; k < 6; ++k)
            QCOMPARE(ui->widget<QWidget>(relayFields[k])->isEnabled(), k < 4);
        ui->setText("lineEdit_relayAddr1", "beef");
        ui->select("comboBox_discoveryRoute", 0);
        QVERIFY(ui->widget<QWidget>("label_relayList")->isHidden());
        QVERIFY(ui->widget<QWidget>("lineEdit_relayAddr1")->isHidden());
        ui->select("comboBox_discoveryRoute", 3); // hidden widgets kept their values
        QCOMPARE(ui->widget<QComboBox>("comboBox_relayCount")->currentIndex(), 4);
        QCOMPARE(ui->widget<QLineEdit>("lineEdit_relayAddr1")->text(), QStringLiteral("beef"));
        ui->select("comboBox_relayCount", 0);
        for (const char *name : relayFields)
            QVERIFY(!ui->widget<QWidget>(name)->isEnabled());
    }

    // Typed key by key: nothing interrupts, every key lands, and a malformed text is marked
    // on the box and the count label instead of a box.
    void dataTextIsCheckedWhileTyping_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("count");
        QTest::addColumn<bool>("malformed");
        QTest::newRow("spaced") << "12 34 "
                                << "02" << false;
        QTest::newRow("unspaced") << "0102ff"
                                  << "03" << false;
        QTest::newRow("lone last digit") << "0102f"
                                         << "03" << false;
        QTest::newRow("text") << "hello"
                              << "格式有误（第1个字符）" << true;
        QTest::newRow("blank inside a byte") << "010 2"
                                             << "格式有误（第4个字符）" << true;
    }
    void dataTextIsCheckedWhileTyping()
    {
        QFETCH(QString, typed);
        QFETCH(QString, count);
        QFETCH(bool, malformed);
        auto *edit = ui->widget<QTextEdit>("textEdit_sendData");
        auto *label = ui->widget<QLabel>("label_BytesCount");
        MessageBoxCatcher boxes;
        QTest::keyClicks(edit->viewport(), typed);
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(edit->toPlainText(), typed);
        QCOMPARE(label->text(), count);
        QCOMPARE(edit->styleSheet().isEmpty(), !malformed);
        QCOMPARE(ui->widget<QLabel>("label_18")->isHidden(), malformed);
        edit->clear();
        QCOMPARE(label->text(), QStringLiteral("00"));
        QVERIFY(edit->styleSheet().isEmpty());
    }

    void repeatedSendingSwitch()
    {
        // Open a port-less window's send button as the open sequence would.
        auto *send = ui->widget<QPushButton>("pushButton_sendData");
        send->setEnabled(true);
        auto *timer = ui->widget<QTimer>("sendTimer");
        ui->select("comboBox_msTime", 2);
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(true);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 1500);
        QVERIFY(!timer->isSingleShot());
        QVERIFY(!send->isEnabled());
        ui->select("comboBox_msTime", 9); // takes effect at once
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(timer->isActive());
        ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(false);
        QVERIFY(!timer->isActive());
        QVERIFY(!send->isEnabled()); // no open port to send with
    }

    void clearButtonsClearTheirOwnBox()
    {
        auto *recv = ui->widget<LogView>("ReceiveOutBrowser");
        auto *sent = ui->widget<LogView>("SendOutBrowser");
        recv->setPlainText("r");
        sent->setPlainText("s");
        ui->click("pushButton_clearRecv");
        QCOMPARE(recv->toPlainText(), QString());
        QCOMPARE(sent->toPlainText(), QStringLiteral("s"));
        recv->setPlainText("r");
        ui->click("pushButton_clearSend");
        QCOMPARE(sent->toPlainText(), QString());
        QCOMPARE(recv->toPlainText(), QStringLiteral("r"));
    }

    // Added width goes to the two logs and the data text, added height to the two logs.
    void logsTakeTheRoomTheWindowGains_data()
    {
        QTest::addColumn<QSize>("gain");
        QTest::newRow("wider") << QSize(400, 0);
        QTest::newRow("taller") << QSize(0, 300);
        QTest::newRow("full HD screen") << QSize(1920, 1080) - QSize(737, 662);
    }
    void logsTakeTheRoomTheWindowGains()
    {
        QFETCH(QSize, gain);
        showWindow();
        QCOMPARE(dialog->minimumSize(), dialog->size());
        auto *received = ui->widget<QWidget>("ReceiveOutBrowser");
        auto *sent = ui->widget<QWidget>("SendOutBrowser");
        auto *data = ui->widget<QWidget>("textEdit_sendData");
        const QSize receivedBefore = received->size();
        const QSize sentBefore = sent->size();
        const QSize dataBefore = data->size();

        dialog->resize(dialog->size() + gain);
        QTRY_COMPARE_WITH_TIMEOUT(received->width(), receivedBefore.width() + gain.width(), 5000);
        QCOMPARE(sent->width(), sentBefore.width() + gain.width());
        QCOMPARE(received->height() + sent->height(),
                 receivedBefore.height() + sentBefore.height() + gain.height());
        QVERIFY(qAbs(received->height() - sent->height()) <= 1);
        QCOMPARE(data->size(), dataBefore + QSize(gain.width(), 0));
    }

    // At the default size every label and every entry of every list is shown whole, in both
    // languages; widgets a mode hides keep their room, so they are checked as well.
    void everyTextFitsItsWidget_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("portGroupTitle");
        QTest::newRow("Chinese") << QLocale::c() << "测试模块串口";
        QTest::newRow("English") << QLocale("en_GB") << "Module port";
    }
    void everyTextFitsItsWidget()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, portGroupTitle);
        const Translations translations(uiLanguageFor(locale), locale);
        Dialog window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.size(), QSize(737, 662));
        QCOMPARE(window.findChild<QGroupBox *>("groupBox")->title(), portGroupTitle);
        for (const QLabel *label : window.findChildren<QLabel *>())
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <=
                         label->contentsRect().width(),
                     qPrintable(label->objectName() + ": " + label->text()));
        for (const QComboBox *list : window.findChildren<QComboBox *>()) {
            if (list->objectName() == QLatin1String("comboBox_comList"))
                continue; // holds this machine's ports; see portFieldShowsTheWholePath
            for (int i = 0; i < list->count(); ++i)
                QVERIFY2(list->fontMetrics().horizontalAdvance(list->itemText(i)) <=
                             textRect(list).width(),
                         qPrintable(list->objectName() + ": " + list->itemText(i)));
        }
    }

    // A device path longer than the field: whole in the drop-down and in the field's tooltip,
    // its end in view in the field, whether picked or typed.
    void portFieldShowsTheWholePath_data()
    {
        QTest::addColumn<bool>("typed");
        QTest::newRow("picked from the list") << false;
        QTest::newRow("typed, then left") << true;
    }
    void portFieldShowsTheWholePath()
    {
        QFETCH(bool, typed);
        const QString path =
            QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        dialog->setPortEnumerator([&] {
            serial::PortFacts port;
            port.name = path;
            return QList<serial::PortFacts>{port};
        });
        showWindow();
        auto *field = ui->widget<QComboBox>("comboBox_comList");
        QVERIFY(field->fontMetrics().horizontalAdvance(path) > field->lineEdit()->width());
        if (typed) {
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            field->setFocus();
            field->clearEditText();
            QTest::keyClicks(field, path);
            QTest::keyClick(field, Qt::Key_Home);
            ui->widget<QWidget>("lineEdit_PanID")->setFocus();
            QVERIFY(!field->hasFocus());
        } else {
            field->showPopup();
            QTRY_VERIFY_WITH_TIMEOUT(field->view()->isVisible(), 5000);
            QVERIFY(field->view()->viewport()->width() >=
                    field->view()->fontMetrics().horizontalAdvance(path));
            field->hidePopup();
            field->setCurrentIndex(field->findText(path));
        }
        QCOMPARE(field->currentText(), path);
        QCOMPARE(field->toolTip(), path);
        QCOMPARE(field->lineEdit()->cursorPosition(), path.size());
    }

private:
    void showWindow()
    {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
    }

    Dialog *dialog = nullptr;
    DialogDriver *ui = nullptr;
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"
