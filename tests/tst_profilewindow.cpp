// The window's profiles and its configuration write: what it changes, and the question when
// nothing was read; through the real window over a pseudo-terminal.
#include "app/dialog.h"
#include "dialogdriver.h"
#include "protocol/profile.h"
#include "ptypair.h"
#include "testbytes.h"
#include "widgets/lastfolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace {

// A read reply: channel 0, 20dBm, network ID 1234, address 0001, 9600 even, RF rate 9600.
const char *const readRecord = "A5A5 00000000 3412 0100 00 00 03 44 0000";

// Picks `path` in the next file dialog; `offered` gets the file name it offered first.
void chooseFile(const QString &path, QString *offered = nullptr)
{
    QTimer::singleShot(0, [path, offered] {
        QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
        auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (offered)
            *offered = QFileInfo(files->selectedFiles().value(0)).fileName();
        files->selectFile(path);
        static_cast<QDialog *>(files)->accept();
    });
}

} // namespace

class ProfileWindowTest : public OpenPortTest
{
    Q_OBJECT

    QTemporaryDir dir;

    void readModule(const char *record = readRecord)
    {
        pty->write(withChecksum((QByteArray("01008210") + record).constData()));
        pty->readFor(20);
        ui->receiveTick();
        ui->widget<LogView>("ReceiveOutBrowser")->clear();
    }

private slots:
    void init() { openSession(); }
    void cleanup() { closeSession(); }

    // With a record read since the port opened, the write lists what it changes; without one,
    // one question, and "no" sends nothing.
    void writeSaysWhatItChanges_data()
    {
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("reopen");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("listed");
        QTest::newRow("after a read")
            << true << false << QMessageBox::Ok << true
            << "写配置，改动的字段：\n  信道号：0 → 7\n  发射功率：20dBm → 15dBm\n";
        QTest::newRow("nothing read, no") << false << false << QMessageBox::Ok << false << "";
        QTest::newRow("nothing read, yes") << false << false << QMessageBox::Yes << true << "";
        QTest::newRow("read before the port was opened again")
            << true << true << QMessageBox::Ok << false << "";
    }
    void writeSaysWhatItChanges()
    {
        QFETCH(bool, read);
        QFETCH(bool, reopen);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, sent);
        QFETCH(QString, listed);
        if (read)
            readModule();
        else
            ui->setText("lineEdit_PanID", "1234"), ui->setText("lineEdit_moduleAddr", "0001");
        if (reopen) {
            ui->click("pushButton_openCom");
            QTRY_VERIFY(!ui->portShownOpen());
            ui->click("pushButton_openCom");
            QVERIFY(ui->portShownOpen());
        }
        ui->select("comboBox_channelNum", 7);
        ui->select("comboBox_RfPower", 2);
        MessageBoxCatcher boxes(answer);
        ui->click("pushButton_writeCfg");
        QCOMPARE(boxes.count(), read && !reopen ? 0 : 1);
        if (boxes.count())
            QCOMPARE(boxes.text, QStringLiteral("还没有从这个模块读过配置。\n所有字段都将按界面所示"
                                                "写入模块。\n是否继续？"));
        QCOMPARE(!pty->readFor(100).isEmpty(), sent);
        QCOMPARE(ui->receiveText(), listed);
    }

    // Import fills the box and sends nothing; export writes what the write would send, and the
    // same file again after importing it.
    void exportImportExport_data()
    {
        QTest::addColumn<bool>("lora");
        QTest::newRow("plain model") << false;
        QTest::newRow("LoRa model") << true;
    }
    void exportImportExport()
    {
        QFETCH(bool, lora);
        readModule();
        ui->widget<QCheckBox>("checkBox_rq520M")->setChecked(lora);
        ui->select("comboBox_bandwidth", 1);
        ui->select("comboBox_SpreadFactor", 5);
        ui->select("comboBox_UartParity", 1);
        ui->setText("lineEdit_moduleAddr", "00a1");
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString first = dir.filePath(tag + " first.json");
        const QString second = dir.filePath(tag + " second.json");
        chooseFile(first);
        ui->click("pushButton_exportCfg");
        protocol::Profile profile;
        QCOMPARE(protocol::loadProfile(first, &profile), QString());
        QCOMPARE(profile.lora, lora);
        QVERIFY(profile.values.contains({"uart_parity", "odd"}));
        QVERIFY(profile.values.contains({"address", "00a1"}));
        QCOMPARE(profile.values.contains({"spreading_factor", "12"}), lora);

        // Back to what the module holds, then the file: its fields come back, nothing is sent.
        ui->widget<QCheckBox>("checkBox_rq520M")->setChecked(false);
        readModule();
        chooseFile(first);
        ui->click("pushButton_importCfg");
        QCOMPARE(pty->readFor(100), QByteArray());
        const QString imported = ui->receiveText();
        QVERIFY2(imported.contains("  模块地址：0001 → 00a1\n  校验位：偶校验 → 奇校验\n"),
                 qPrintable(imported));
        QCOMPARE(imported.contains("扩频因子："), lora);
        chooseFile(second);
        ui->click("pushButton_exportCfg");
        QFile a(first), b(second);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QCOMPARE(b.readAll(), a.readAll());
    }

    // An export offers a name of the module's address (or the run's target) and the day; an
    // extension is added only to a name typed without any.
    void exportFileNames_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("name");
        QTest::newRow("address") << "rfcfg"
                                 << "0001"
                                 << "rfcfg-0001-2026-12-09.json";
        QTest::newRow("as logged") << "linktest"
                                   << "0x00AB"
                                   << "linktest-00ab-2026-12-09.csv";
        QTest::newRow("unfinished address") << "rfcfg"
                                            << "001"
                                            << "rfcfg-2026-12-09.json";
        QTest::newRow("no address") << "rfcfg"
                                    << ""
                                    << "rfcfg-2026-12-09.json";
    }
    void exportFileNames()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, address);
        QFETCH(QString, name);
        const QString suffix = QFileInfo(name).suffix();
        QCOMPARE(suggestedFileName(prefix, address, QDate(2026, 12, 9), suffix), name);
    }
    void typedNamesGetAnExtension_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("none") << "/data/bench 3/node7"
                              << "/data/bench 3/node7.json";
        QTest::newRow("its own") << "/data/node7.json"
                                 << "/data/node7.json";
        QTest::newRow("another") << "/data/node7.txt"
                                 << "/data/node7.txt";
        QTest::newRow("dot in a folder") << "/data/v1.2/node7"
                                         << "/data/v1.2/node7.json";
        QTest::newRow("a folder") << "/data/"
                                  << "/data/";
        QTest::newRow("cancelled") << ""
                                   << "";
    }
    void typedNamesGetAnExtension()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QCOMPARE(withDefaultSuffix(typed, QStringLiteral("json")), saved);
    }

    // Both exports of the window offer their name, and save a name typed without an extension
    // with theirs.
    void exportsOfferANameAndCompleteIt_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("offered"); // %1: the day
        QTest::newRow("profile") << "pushButton_exportCfg"
                                 << "rfcfg-00a1-%1.json";
        QTest::newRow("link test") << "pushButton_exportLinkTest"
                                   << "linktest-00ab-%1.csv";
    }
    void exportsOfferANameAndCompleteIt()
    {
        QFETCH(QString, button);
        QFETCH(QString, offered);
        readModule();
        ui->setText("lineEdit_moduleAddr", "00a1");
        const QDate before = QDate::currentDate();
        if (button == "pushButton_exportLinkTest") {
            // One send of a run to 00ab, left without a report.
            ui->setText("lineEdit_dataDstAddr", "00ab");
            ui->widget<QTextEdit>("textEdit_sendData")->setPlainText("01");
            ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(true);
            ui->widget<QTimer>("sendTimer")->stop();
            ui->invoke("continueSendData");
            QVERIFY(!pty->read(8, 10000).isEmpty());
            ui->widget<QCheckBox>("checkBox_continueSend")->setChecked(false);
        }
        const QString typed = dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + " run");
        QString shown;
        chooseFile(typed, &shown);
        ui->click(button.toLatin1().constData());
        const QDate after = QDate::currentDate();
        QVERIFY2(shown == offered.arg(before.toString(Qt::ISODate)) ||
                     shown == offered.arg(after.toString(Qt::ISODate)),
                 qPrintable(shown));
        QVERIFY(QFileInfo(typed + '.' + QFileInfo(offered).suffix()).size() > 0);
        QVERIFY(!QFileInfo::exists(typed));
    }

    // Refused as the write is: a list without a current item, or a profile that is no profile.
    void refusals_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("box");
        QTest::newRow("export with a blank list")
            << "pushButton_exportCfg" << QByteArray() << "以下列表没有选定的值：空中速率";
        QTest::newRow("import of an unknown key")
            << "pushButton_importCfg" << QByteArray(R"({"config":{"chanel":"3"}})")
            << "unknown key 'chanel'";
        QTest::newRow("import of a key given twice")
            << "pushButton_importCfg" << QByteArray(R"({"config":{"channel":"3","channel":"7"}})")
            << "key 'config.channel' is given twice";
    }
    void refusals()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, profile);
        QFETCH(QString, box);
        readModule("A5A5 00000000 3412 0100 00 00 00 44 0000"); // RF data rate 0: no item
        const QString path = dir.filePath("refused.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(profile);
        file.close();
        if (!profile.isEmpty())
            chooseFile(path);
        const int channel = ui->widget<QComboBox>("comboBox_channelNum")->currentIndex();
        MessageBoxCatcher boxes;
        ui->click(button.toLatin1().constData());
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.text.contains(box), qPrintable(boxes.text));
        QCOMPARE(ui->widget<QComboBox>("comboBox_channelNum")->currentIndex(), channel);
        QCOMPARE(ui->receiveText(), QString());
    }
};

QTEST_MAIN(ProfileWindowTest)
#include "tst_profilewindow.moc"
