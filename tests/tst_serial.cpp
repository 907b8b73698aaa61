#include "app/dialog.h"
#include "dialogdriver.h"
#include "ptypair.h"
#include "serial/linesettings.h"
#include "serial/portnames.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSerialPort>
#include <QTimer>
#include <QtTest>

class SerialTest : public QObject
{
    Q_OBJECT

private:
    void verifyClosedState(DialogDriver &ui)
    {
        QCOMPARE(ui.widget<QPushButton>("pushButton_openCom")->text(), QStringLiteral("打开串口"));
        for (const char *name : commandButtonNames)
            QVERIFY2(!ui.widget<QPushButton>(name)->isEnabled(), name);
        QVERIFY(!ui.widget<QTimer>("readTimer")->isActive());
        QVERIFY(!ui.widget<QSerialPort>("myCom")->isOpen());
    }

private slots:
    void windowsDevicePathRule_data()
    {
        QTest::addColumn<QString>("listText");
        QTest::addColumn<QString>("path");
        QTest::newRow("COM9") << "COM9"
                              << "COM9";
        QTest::newRow("COM10") << "COM10"
                               << "\\\\.\\COM10";
        QTest::newRow("COM255") << "COM255"
                                << "\\\\.\\COM255";
        QTest::newRow("tail not a number") << "COMx12"
                                           << "COMx12";
        QTest::newRow("short name read whole") << "12"
                                               << "\\\\.\\12";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("unix device") << "/dev/ttyUSB10"
                                     << "/dev/ttyUSB10";
    }
    void windowsDevicePathRule()
    {
        QFETCH(QString, listText);
        QFETCH(QString, path);
        QCOMPARE(serial::windowsDevicePath(listText), path);
#ifndef Q_OS_WIN
        QCOMPARE(serial::portNameForOpen(listText), listText);
#endif
    }

    void lineSettingTables()
    {
        QCOMPARE(*serial::baudRateFromText("56000"), 56000);
        QVERIFY(!serial::baudRateFromText("14400"));
        QVERIFY(!serial::baudRateFromText("fast"));
        QCOMPARE(*serial::parityFromText("ODD"), QSerialPort::OddParity);
        QVERIFY(!serial::parityFromText("odd"));
        QCOMPARE(*serial::stopBitsFromText("2"), QSerialPort::TwoStop);
        QVERIFY(!serial::stopBitsFromText("1.5"));
        QVERIFY(serial::isDeviceLost(QSerialPort::ResourceError));
        QVERIFY(serial::isDeviceLost(QSerialPort::ReadError));
        QVERIFY(!serial::isDeviceLost(QSerialPort::UnsupportedOperationError));
        QVERIFY(!serial::isDeviceLost(QSerialPort::NoError));
    }

    void portListShowsUnreadableEntriesAsNokey()
    {
        const QStringList entries = serial::portListEntries({QSerialPortInfo(), QSerialPortInfo()});
        QCOMPARE(entries, QStringList({"nokey", "nokey"}));
    }

    void openAppliesTheListsAndFollowsChanges()
    {
        PtyPair pty;
        QVERIFY(pty.isValid());
        Dialog dialog;
        DialogDriver ui(dialog);
        ui.openPort(pty.slavePath());
        QVERIFY(ui.portShownOpen());
        for (const char *name : commandButtonNames)
            QVERIFY2(ui.widget<QPushButton>(name)->isEnabled(), name);
        auto *readTimer = ui.widget<QTimer>("readTimer");
        QVERIFY(readTimer->isActive());
        QCOMPARE(readTimer->interval(), 500);

        auto line = pty.lineSettings();
        QCOMPARE(line.baud, 9600u);
        QVERIFY(!line.twoStopBits);
        QVERIFY(line.eightDataBits);
        auto *port = ui.widget<QSerialPort>("myCom");
        QCOMPARE(port->parity(), QSerialPort::NoParity);
        QCOMPARE(port->flowControl(), QSerialPort::NoFlowControl);

        // Rate and parity follow their lists at once while open; stop bits wait for the next open.
        ui.select("comboBox_baudList", 9);
        QCOMPARE(pty.lineSettings().baud, 57600u);
        ui.select("comboBox_parityList", 1);
        QVERIFY(pty.lineSettings().oddParity);
        QCOMPARE(port->parity(), QSerialPort::OddParity);
        ui.select("comboBox_parityList", 2);
        QVERIFY(!pty.lineSettings().oddParity);
        QCOMPARE(port->parity(), QSerialPort::EvenParity);
        ui.select("comboBox_StopBitsList", 1);
        QVERIFY(!pty.lineSettings().twoStopBits);

        ui.click("pushButton_openCom");
        verifyClosedState(ui);
        ui.click("pushButton_openCom");
        QVERIFY(ui.portShownOpen());
        line = pty.lineSettings();
        QVERIFY(line.twoStopBits);
        QCOMPARE(line.baud, 57600u);
        QCOMPARE(port->parity(), QSerialPort::EvenParity);
        QVERIFY(port->isOpen()); // setting the same parity again did not cost the port
    }

    void everyListedRateOpens()
    {
        PtyPair pty;
        Dialog dialog;
        DialogDriver ui(dialog);
        ui.openPort(pty.slavePath());
        const QStringList rates = serial::baudRateItems();
        for (int i = 0; i < rates.size(); ++i) {
            ui.click("pushButton_openCom"); // close
            ui.select("comboBox_baudList", i);
            ui.click("pushButton_openCom");
            QVERIFY2(ui.portShownOpen(), qPrintable(rates[i]));
            QCOMPARE(pty.lineSettings().baud, rates[i].toUInt());
        }
    }

    void receivedBytesShowWithinOneTick()
    {
        PtyPair pty;
        Dialog dialog;
        DialogDriver ui(dialog);
        ui.openPort(pty.slavePath());
        pty.write(QByteArray::fromHex("a1b2c3"));
        QTRY_COMPARE_WITH_TIMEOUT(ui.receiveText(), QStringLiteral("Recv->a1 b2 c3 \n"), 1500);
    }

    void failedOpenShowsTheBoxAndStaysClosed()
    {
        Dialog dialog;
        DialogDriver ui(dialog);
        MessageBoxCatcher boxes;
        ui.openPort("/dev/no-such-module");
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.title, QStringLiteral("错误"));
        QCOMPARE(
            boxes.text,
            QStringLiteral("无法打开串口： /dev/no-such-module\n指定的串口不存在或者被占用。"));
        QCOMPARE(ui.widget<QPushButton>("pushButton_openCom")->text(), QStringLiteral("打开串口"));
        for (const char *name : commandButtonNames)
            QVERIFY2(!ui.widget<QPushButton>(name)->isEnabled(), name);
        QVERIFY(!ui.widget<QSerialPort>("myCom")->isOpen());
        // The drain timer keeps ticking on the closed port without reading or showing anything.
        QTest::qWait(600);
        QCOMPARE(ui.receiveText(), QString());
    }

    void busyPortShowsTheBox()
    {
        PtyPair pty;
        Dialog first, second;
        DialogDriver one(first), two(second);
        one.openPort(pty.slavePath());
        QVERIFY(one.portShownOpen());
        MessageBoxCatcher boxes;
        two.openPort(pty.slavePath());
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.title, QStringLiteral("错误"));
        QVERIFY(!two.portShownOpen());
        QVERIFY(one.portShownOpen()); // the first keeps its port
    }

    void emptyPortNameShowsTheBox()
    {
        Dialog dialog;
        DialogDriver ui(dialog);
        ui.widget<QComboBox>("comboBox_comList")->clear();
        MessageBoxCatcher boxes;
        ui.click("pushButton_openCom");
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.text, QStringLiteral("无法打开串口： \n指定的串口不存在或者被占用。"));
    }

    void lostDeviceClosesThePortOnce()
    {
        auto pty = std::make_unique<PtyPair>();
        const QString path = pty->slavePath();
        Dialog dialog;
        DialogDriver ui(dialog);
        ui.openPort(path);
        QVERIFY(ui.portShownOpen());
        ui.widget<QCheckBox>("checkBox_continueSend")->setChecked(true);

        pty->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!ui.portShownOpen(), 1000);
        verifyClosedState(ui);
        // Repeated sending is left as a close leaves it.
        QVERIFY(ui.widget<QTimer>("sendTimer")->isActive());
        ui.widget<QCheckBox>("checkBox_continueSend")->setChecked(false);

        const double cpuBefore = processCpuMs();
        QTest::qWait(3000);
        const double cpuUsed = processCpuMs() - cpuBefore;
        QVERIFY2(cpuUsed < 300, qPrintable(QStringLiteral("%1 ms CPU while idle").arg(cpuUsed)));

        MessageBoxCatcher boxes;
        ui.click("pushButton_openCom");
        QCOMPARE(boxes.count(), 1);
        QVERIFY(!ui.portShownOpen());
    }
};

QTEST_MAIN(SerialTest)
#include "tst_serial.moc"
