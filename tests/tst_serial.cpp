#include "app/dialog.h"
#include "dialogdriver.h"
#include "ptypair.h"
#include "serial/linesettings.h"
#include "serial/openfailure.h"
#include "serial/portlist.h"
#include "serial/portnames.h"
#include "serial/replug.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

Q_DECLARE_METATYPE(QSerialPort::SerialPortError)

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

    // A path of `length` characters inside `dir` whose last name does not exist; no name in it
    // is longer than a file system allows. Its folders are made while the path fits one system
    // call (and so can be cleaned up).
    static QString pathOfLength(const QTemporaryDir &dir, int length)
    {
        constexpr int maxPathBytes = 4096;
        QString path = dir.path();
        while (length - path.size() > 101) {
            path += QLatin1Char('/') + QString(100, QLatin1Char('d'));
            if (length < maxPathBytes && !QDir().mkdir(path))
                return {};
        }
        return path + QLatin1Char('/') + QString(length - path.size() - 1, QLatin1Char('n'));
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
        QCOMPARE(*serial::baudRateFromText("230400"), 230400);
        QVERIFY(!serial::baudRateFromText("460800"));
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
        const QStringList entries = serial::portListEntries(QList<serial::PortFacts>(2));
        QCOMPARE(entries, QStringList({"nokey", "nokey"}));
    }

    void portToolTip_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("serialNumber");
        QTest::addColumn<int>("vendor"); // -1: unknown
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("nothing known") << ""
                                       << ""
                                       << "" << -1 << -1 << "/dev/ttyS0";
        QTest::newRow("USB adapter")
            << "FT232R USB UART"
            << "FTDI"
            << "A50285BI" << 0x0403 << 0x6001
            << "/dev/ttyS0\n描述：FT232R USB UART\n制造商：FTDI\n序列号：A50285BI\n"
               "USB 厂商:产品：0403:6001";
        QTest::newRow("vendor only")
            << ""
            << ""
            << "" << 0x1a86 << -1 << "/dev/ttyS0\nUSB 厂商:产品：1a86:????";
    }
    void portToolTip()
    {
        QFETCH(QString, description);
        QFETCH(QString, manufacturer);
        QFETCH(QString, serialNumber);
        QFETCH(int, vendor);
        QFETCH(int, product);
        QFETCH(QString, toolTip);
        serial::PortFacts facts{"ttyS0",      "/dev/ttyS0", description, manufacturer,
                                serialNumber, {},           {}};
        if (vendor >= 0)
            facts.vendorId = quint16(vendor);
        if (product >= 0)
            facts.productId = quint16(product);
        QCOMPARE(serial::portToolTip(facts), toolTip);
    }

    void selectionAfterRefresh_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("typed");
        const QStringList ab{"ttyA", "ttyB"};
        QTest::newRow("start-up") << QStringList() << ab << "" << 0 << "";
        QTest::newRow("same port, moved")
            << ab << QStringList{"ttyC", "ttyA", "ttyB"} << "ttyB" << 2 << "";
        QTest::newRow("port went away") << ab << QStringList{"ttyB"} << "ttyA" << 0 << "";
        QTest::newRow("last port went away") << ab << QStringList() << "ttyA" << -1 << "";
        QTest::newRow("typed path kept") << ab << ab << "/tmp/link" << -1 << "/tmp/link";
        QTest::newRow("typed path now listed")
            << ab << QStringList{"ttyA", "/tmp/link"} << "/tmp/link" << 1 << "";
    }
    void selectionAfterRefresh()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, current);
        QFETCH(int, index);
        QFETCH(QString, typed);
        const serial::PortSelection selection =
            serial::selectionAfterRefresh(before, after, current);
        QCOMPARE(selection.index, index);
        QCOMPARE(selection.typedText, typed);
    }

    // A replugged adapter is reopened only where it is the same adapter: where its serial number
    // is known, a port the system reports with that number; where not, its path.
    void returnedPort_data()
    {
        QTest::addColumn<QString>("serialNumber"); // the lost adapter's
        QTest::addColumn<bool>("pathBack");
        QTest::addColumn<QStringList>("listed"); // "path=SERIAL", "other=SERIAL"
        QTest::addColumn<QString>("reopened");   // "path", "other", "" for none
        QTest::newRow("same serial at another name")
            << "A1" << false << QStringList{"other=A1"} << "other";
        QTest::newRow("same serial at the same path")
            << "A1" << true << QStringList{"other=B2", "path=A1"} << "path";
        QTest::newRow("another serial at the same path")
            << "A1" << true << QStringList{"path=B2"} << "";
        QTest::newRow("path back, not listed yet") << "A1" << true << QStringList{} << "";
        QTest::newRow("no serial known: the path")
            << "" << true << QStringList{"path=B2"} << "path";
        QTest::newRow("no serial known, path gone") << "" << false << QStringList{} << "";
    }
    void returnedPort()
    {
        QFETCH(QString, serialNumber);
        QFETCH(bool, pathBack);
        QFETCH(QStringList, listed);
        QFETCH(QString, reopened);
        QTemporaryDir dir;
        const auto pathOf = [&](const QString &name) { return dir.filePath(name); };
        QFile other(pathOf("other"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        QFile path(pathOf("path"));
        QVERIFY(!pathBack || path.open(QIODevice::WriteOnly));
        QList<serial::PortFacts> ports;
        for (const QString &entry : listed) {
            const QString name = pathOf(entry.section('=', 0, 0));
            ports << serial::PortFacts{name, name, {}, {}, entry.section('=', 1), {}, {}};
        }
        const serial::PortIdentity identity{pathOf("path"), serialNumber, {}};
        QCOMPARE(serial::returnedPort(identity, ports).value_or(QString()),
                 reopened.isEmpty() ? QString() : pathOf(reopened));
    }

    void openFailureReason_data()
    {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<int>("accessError");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("noPortChosen");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QSerialPort::DeviceNotFoundError << ENOENT << "" << false
                                 << "原因：设备不存在（text）。";
        QTest::newRow("no permission")
            << QSerialPort::PermissionError << EACCES << "dialout" << false
            << "原因：没有访问该设备的权限（text）。请把当前用户加入 dialout 组"
               "（sudo usermod -aG dialout $USER），然后重新登录。";
        QTest::newRow("no permission, other group")
            << QSerialPort::PermissionError << EACCES << "uucp" << false
            << "原因：没有访问该设备的权限（text）。请把当前用户加入 uucp 组"
               "（sudo usermod -aG uucp $USER），然后重新登录。";
        QTest::newRow("root's device") << QSerialPort::PermissionError << EACCES << "root" << false
                                       << "原因：没有访问该设备的权限（text）。请把当前用户加入 "
                                          "dialout 组（sudo usermod -aG dialout $USER），"
                                          "然后重新登录。";
        QTest::newRow("in use") << QSerialPort::PermissionError << 0 << "dialout" << false
                                << "原因：设备正被其他程序使用（text）。";
        QTest::newRow("too long to lock")
            << QSerialPort::PermissionError << ENAMETOOLONG << "" << false << "原因：text";
        QTest::newRow("no port chosen")
            << QSerialPort::OpenError << EISDIR << "" << true << "原因：未选择串口。";
        QTest::newRow("other") << QSerialPort::UnsupportedOperationError << 0 << "" << false
                               << "原因：text";
    }
    void openFailureReason()
    {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(int, accessError);
        QFETCH(QString, group);
        QFETCH(bool, noPortChosen);
        QFETCH(QString, reason);
        QCOMPARE(serial::openFailureReason({error, "text", accessError, group, noPortChosen}),
                 reason);
    }

    void portListFollowsDevicesComingAndGoing()
    {
        PtyPair pty;
        QTemporaryDir dir;
        const QString link = dir.filePath("rfmodule");
        Dialog dialog;
        DialogDriver ui(dialog);
        // The link, while it exists, is listed before the pseudo-terminal.
        dialog.setPortEnumerator([&] {
            QStringList paths{pty.slavePath()};
            if (QFileInfo(link).isSymLink())
                paths.prepend(link);
            QList<serial::PortFacts> ports;
            for (const QString &path : paths)
                ports << serial::PortFacts{path, path, {}, {}, {}, {}, {}};
            return ports;
        });
        auto *list = ui.widget<QComboBox>("comboBox_comList");
        const auto reread = [&] {
            list->showPopup();
            list->hidePopup();
            QStringList names;
            for (int i = 0; i < list->count(); ++i)
                names << list->itemText(i);
            return names;
        };
        const QString ptyName = pty.slavePath();
        QCOMPARE(reread(), QStringList{ptyName});
        QCOMPARE(list->currentText(), ptyName);
        QCOMPARE(list->itemData(0, Qt::ToolTipRole).toString(), pty.slavePath());

        QVERIFY(QFile::link(pty.slavePath(), link));
        QCOMPARE(reread(), QStringList({link, ptyName}));
        QCOMPARE(list->currentText(), ptyName); // the selection stayed on its port
        list->setCurrentIndex(0);

        QVERIFY(QFile::remove(link));
        QCOMPARE(reread(), QStringList{ptyName});
        QCOMPARE(list->currentText(), ptyName);

        // An open port's list is left alone.
        QVERIFY(QFile::link(pty.slavePath(), link));
        ui.click("pushButton_openCom");
        QVERIFY(ui.portShownOpen());
        QCOMPARE(reread(), QStringList{ptyName});
    }

    // The list read after the window is shown keeps what the field held meanwhile (a typed or
    // remembered path) and otherwise selects its first port; a window closed while the read is
    // under way waits for it and is not called back.
    void portListReadInBackground_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("index");
        QTest::newRow("nothing typed") << QString() << QStringLiteral("/dev/ttyUSB0") << 0;
        QTest::newRow("a listed port")
            << QStringLiteral("/dev/ttyUSB1") << QStringLiteral("/dev/ttyUSB1") << 1;
        QTest::newRow("a port that is gone")
            << QStringLiteral("/dev/ttyACM7") << QStringLiteral("/dev/ttyACM7") << -1;
        QTest::newRow("window closed first") << QString() << QString() << -1;
    }
    void portListReadInBackground()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, index);
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        auto readDone = std::make_shared<std::atomic<bool>>(false);
        auto dialog = std::make_unique<Dialog>();
        dialog->setPortEnumerator([released, readDone] {
            released.wait();
            QList<serial::PortFacts> ports;
            for (const char *path : {"/dev/ttyUSB0", "/dev/ttyUSB1"})
                ports << serial::PortFacts{QLatin1String(path), {}, {}, {}, {}, {}, {}};
            *readDone = true;
            return ports;
        });
        auto *list = dialog->findChild<QComboBox *>(QStringLiteral("comboBox_comList"));
        QCOMPARE(list->count(), 0);
        list->setEditText(typed);
        dialog->readPortListInBackground();
        if (shown.isEmpty()) {
            // Released once the window is (most likely) waiting for the read in its destructor.
            std::thread releaser([&release] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                release.set_value();
            });
            dialog.reset();
            QVERIFY(*readDone); // the window waited for its read before it went
            releaser.join();
            QCoreApplication::processEvents();
            return;
        }
        release.set_value();
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 2, 10000);
        QCOMPARE(list->currentIndex(), index);
        QCOMPARE(list->currentText(), shown);
    }

    void typedLinkPathOpens_data()
    {
        QTest::addColumn<int>("length"); // of the link's path; 0: a short one
        QTest::newRow("short") << 0;
        QTest::newRow("too long to lock") << 300;
    }
    void typedLinkPathOpens()
    {
        QFETCH(int, length);
        PtyPair pty;
        QTemporaryDir dir;
        const QString link = length ? pathOfLength(dir, length) : dir.filePath("by-id-module");
        QVERIFY(QFile::link(pty.slavePath(), link));
        Dialog dialog;
        DialogDriver ui(dialog);
        QLineEdit *field = ui.widget<QComboBox>("comboBox_comList")->lineEdit();
        QVERIFY(field);
        field->clear();
        QTest::keyClicks(field, link);
        MessageBoxCatcher boxes;
        ui.click("pushButton_openCom");
        QVERIFY2(ui.portShownOpen(), qPrintable(boxes.text));
        pty.write(QByteArray::fromHex("a1"));
        QTRY_COMPARE_WITH_TIMEOUT(ui.receiveText(), QStringLiteral("Recv->a1 \n"), 1500);
    }

    // The calls programs drive the window with (the demo, its pictures, the benchmarks): a port
    // listed first with its tooltip, once; selected, or typed when not listed; opened as the
    // button opens it, and not while another is open; repeated sending of the data given.
    void programsDriveTheWindow_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("present");
        QTest::newRow("listed first") << true << true;
        QTest::newRow("typed") << false << true;
        QTest::newRow("gone") << false << false;
    }
    void programsDriveTheWindow()
    {
        QFETCH(bool, listed);
        QFETCH(bool, present);
        PtyPair pty, other;
        QTemporaryDir dir;
        const QString path = present ? pty.slavePath() : dir.filePath("gone");
        Dialog dialog;
        DialogDriver ui(dialog);
        auto *list = ui.widget<QComboBox>("comboBox_comList");
        list->addItem(other.slavePath());
        const serial::PortFacts facts{path, path, QStringLiteral("Virtual module"), {}, {}, {}, {}};
        if (listed) {
            dialog.addPort(facts);
            dialog.addPort(facts);
            QCOMPARE(list->count(), 2);
            QCOMPARE(list->itemText(0), path);
            QCOMPARE(list->itemData(0, Qt::ToolTipRole).toString(), serial::portToolTip(facts));
        }
        dialog.selectPort(path);
        if (listed)
            QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(list->currentText(), path);

        MessageBoxCatcher boxes;
        QCOMPARE(dialog.openPort(path), present);
        QCOMPARE(ui.portShownOpen(), present);
        QTRY_COMPARE(boxes.count(), present ? 0 : 1);
        if (!present)
            return;
        QVERIFY(!dialog.openPort(other.slavePath()));
        QCOMPARE(list->currentText(), path);

        dialog.setDataSend(QStringLiteral("00ab"), QStringLiteral("01 02"));
        dialog.setRepeatedSending(true);
        QVERIFY(ui.widget<QCheckBox>("checkBox_continueSend")->isChecked());
        ui.widget<QTimer>("sendTimer")->stop();
        ui.invoke("continueSendData");
        QVERIFY(!pty.read(8, 10000).isEmpty());
        QCOMPARE(ui.sendText(), QStringLiteral("send->05 00 01 08 ab 00 00 07 01 02 01 02 a0 \n"));
        dialog.setRepeatedSending(false);
        QVERIFY(!ui.widget<QCheckBox>("checkBox_continueSend")->isChecked());
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
        ui.select("comboBox_baudList", 11); // 57600;
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

    void failedOpenShowsTheBoxAndStaysClosed_data()
    {
        const QString missing = QStringLiteral("原因：设备不存在（%1）。")
                                    .arg(QString::fromLocal8Bit(std::strerror(ENOENT)));
        QTest::addColumn<QString>("path"); // DIR: a private temporary folder
        QTest::addColumn<int>("length");   // > 0: a path of this length inside DIR
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "DIR/no-such-module" << 0 << missing;
        QTest::newRow("missing, too long to lock") << "" << 300 << missing;
        QTest::newRow("missing, longer than a path may be") << "" << 10000 << missing;
        QTest::newRow("no port chosen") << "" << 0 << "原因：未选择串口。";
    }
    void failedOpenShowsTheBoxAndStaysClosed()
    {
        QFETCH(QString, path);
        QFETCH(int, length);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        path = length ? pathOfLength(dir, length) : path.replace("DIR", dir.path());
        QCOMPARE(path.size(), length ? length : path.size());
        Dialog dialog;
        DialogDriver ui(dialog);
        auto *list = ui.widget<QComboBox>("comboBox_comList");
        list->clear();
        list->setEditText(path);
        MessageBoxCatcher boxes;
        ui.click("pushButton_openCom");
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.title, QStringLiteral("错误"));
        QCOMPARE(boxes.text, QStringLiteral("无法打开串口： ") + path +
                                 QStringLiteral("\n指定的串口不存在或者被占用。\n") + reason);
        verifyClosedState(ui);
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
        QVERIFY2(boxes.text.contains(QStringLiteral("\n原因：设备正被其他程序使用（")),
                 qPrintable(boxes.text));
        QVERIFY(!two.portShownOpen());
        QVERIFY(one.portShownOpen()); // the first keeps its port
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
        // Repeated sending pauses with the device, waiting for it to come back: no tick meanwhile.
        QVERIFY(!ui.widget<QTimer>("sendTimer")->isActive());
        QVERIFY(ui.widget<QCheckBox>("checkBox_continueSend")->isChecked());

        const double cpuBefore = processCpuMs();
        QTest::qWait(3000);
        const double cpuUsed = processCpuMs() - cpuBefore;
        QVERIFY2(cpuUsed < 300, qPrintable(QStringLiteral("%1 ms CPU while idle").arg(cpuUsed)));

        // The device's path is gone with it, whatever terminal numbers others take meanwhile.
        MessageBoxCatcher boxes;
        ui.click("pushButton_openCom");
        QCOMPARE(boxes.count(), 1);
        QVERIFY(!ui.portShownOpen());
    }
};

QTEST_MAIN(SerialTest)
#include "tst_serial.moc"
