#include "app/dialog.h"
#include "app/windowsettings.h"
#include "dialogdriver.h"
#include "ptypair.h"
#include "widgets/logview.h"

#include <QAction>
#include <QFileDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const char *const rememberedLists[] = {"comboBox_baudList", "comboBox_parityList",
                                       "comboBox_StopBitsList", "comboBox_msTime"};

// Everything the window remembers, as the user sees it.
QStringList shownState(Dialog &dialog)
{
    const DialogDriver ui(dialog);
    QStringList state{ui.widget<QComboBox>("comboBox_comList")->currentText()};
    for (const char *list : rememberedLists)
        state << ui.widget<QComboBox>(list)->currentText();
    for (const char *log : {"ReceiveOutBrowser", "SendOutBrowser"})
        state << QVariant(ui.widget<LogView>(log)->timeStamps()).toString();
    return state;
}

// Not through QSettings, which must never see some of these files.
void writeSettingsFile(const QByteArray &contents)
{
    QFile file(settingsFilePath());
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    // Every test gets a settings folder of its own.
    void init()
    {
        configDir = std::make_unique<QTemporaryDir>();
        QVERIFY(configDir->isValid());
        useUserSettings(QStringLiteral("tst_settings"), configDir->path());
    }

    void savedWindowComesBack_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("listIndex"); // from the end of each list when negative
        QTest::addColumn<bool>("receiveStamps");
        QTest::addColumn<bool>("sendStamps");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("last items")
            << "/dev/ttyUSB7" << -1 << true << false << QRect(120, 80, 737, 662);
        QTest::newRow("first items")
            << "/tmp/a port, with = and ;" << 0 << false << true << QRect(300, 40, 800, 700);
        QTest::newRow("a port spelled as a value type")
            << "@Variant(1)" << 1 << true << true << QRect(200, 60, 760, 680);
    }
    void savedWindowComesBack()
    {
        QFETCH(QString, port);
        QFETCH(int, listIndex);
        QFETCH(bool, receiveStamps);
        QFETCH(bool, sendStamps);
        QFETCH(QRect, geometry);
        QStringList saved;
        {
            Dialog dialog;
            DialogDriver ui(dialog);
            ui.widget<QComboBox>("comboBox_comList")->setEditText(port);
            for (const char *name : rememberedLists) {
                auto *list = ui.widget<QComboBox>(name);
                list->setCurrentIndex(listIndex < 0 ? list->count() + listIndex : listIndex);
            }
            ui.widget<LogView>("ReceiveOutBrowser")->setTimeStamps(receiveStamps);
            ui.widget<LogView>("SendOutBrowser")->setTimeStamps(sendStamps);
            dialog.setGeometry(geometry);
            QSettings settings;
            saveWindowSettings(dialog, settings);
            saved = shownState(dialog);
        }
        Dialog fresh;
        QVERIFY(saved != shownState(fresh));

        // As the next run does: from the file alone, not from what this process has cached.
        QFile file(QSettings().fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray contents = file.readAll();
        init();
        writeSettingsFile(contents);
        QCOMPARE(setAsideDamagedSettings().notice, QString());
        QCOMPARE(settingsFilePath(), QSettings().fileName());
        Dialog restored;
        QSettings settings;
        restoreWindowSettings(restored, settings);
        QCOMPARE(shownState(restored), saved);
        QCOMPARE(restored.geometry(), geometry);
    }

    void unusableSettingsGiveTheDefaults_data()
    {
        QTest::addColumn<QByteArray>("file");
        QByteArray garbage;
        for (int i = 0; i < 2048; ++i)
            garbage += char(i * 37 + i / 11);
        QTest::newRow("garbage bytes") << garbage;
        QTest::newRow("values not in the lists") << QByteArray("[line]\nbaudRate=12345\n"
                                                               "parity=MARK\nstopBits=1.5\n"
                                                               "[send]\nrepeatInterval=700ms\n"
                                                               "[log]\nreceiveTimeStamps=yes\n"
                                                               "sendTimeStamps=1\n"
                                                               "[window]\ngeometry=@ByteArray(xy)\n"
                                                               "[port]\npath=\n");
        QTest::newRow("damaged, with good values")
            << QByteArray("[unclosed\n[port]\npath=/dev/ttyS9\n[line]\nbaudRate=115200\n");
    }
    void unusableSettingsGiveTheDefaults()
    {
        QFETCH(QByteArray, file);
        writeSettingsFile(file);
        Dialog fresh;
        Dialog restored;
        {
            QSettings settings;
            restoreWindowSettings(restored, settings);
        }
        QCOMPARE(shownState(restored), shownState(fresh));
        QCOMPARE(restored.geometry(), fresh.geometry());

        // The next close leaves a file that reads back whole.
        {
            QSettings settings;
            saveWindowSettings(restored, settings);
        }
        QSettings settings;
        QCOMPARE(settings.status(), QSettings::NoError);
        QCOMPARE(settings.value(QStringLiteral("line/baudRate")).toString(),
                 shownState(fresh).at(1));
    }

    // A file QSettings could not read without running out of stack or memory is moved aside
    // unread, and the window starts from its defaults.
    void damagedFileIsSetAside_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("problem");
        const QByteArray port("[port]\npath=");
        // As QSettings writes a list in a list, 300,000 deep.
        const QByteArray list("\\0\\0\\0\\t\\0\\0\\0\\x1");
        QTest::newRow("@Variant nested 300,000 deep")
            << port + "@Variant(" + list.repeated(300000) + "\\0\\0\\0\\t\\0\\0\\0\\0)\n"
            << "it is larger than 64 KiB";
        QTest::newRow("larger than 64 KiB, plain values")
            << port + "/dev/ttyS9\n[padding]\n" + QByteArray("x=1\n").repeated(17000)
            << "it is larger than 64 KiB";
        // Quotes, an escaped @ and a line carried on: an int as QSettings reads it.
        QTest::newRow("@Variant spelled with escapes")
            << port + "\"\\x40Var\"\\\ni\"ant\"(\\0\\0\\0\\x2\\0\\0\\0\\x7)\n"
            << "line 2 holds an @Variant value";
        QTest::newRow("plain values") << port + "/dev/ttyS9\n"
                                      << "";
    }
    void damagedFileIsSetAside()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, problem);
        writeSettingsFile(file);
        const QString path = settingsFilePath();
        const SettingsFileCheck check = setAsideDamagedSettings();
        QVERIFY(check.usable);
        if (problem.isEmpty())
            QCOMPARE(check.notice, QString());
        else
            QVERIFY2(check.notice.contains(path + ": " + problem), qPrintable(check.notice));
        QFile aside(path + ".damaged");
        QCOMPARE(aside.exists(), !problem.isEmpty());
        QCOMPARE(QFile::exists(path), problem.isEmpty());
        if (aside.exists()) {
            QVERIFY(check.notice.contains("moved it to " + aside.fileName()));
            QVERIFY(aside.open(QIODevice::ReadOnly));
            QCOMPARE(aside.readAll(), file);
        }

        Dialog fresh;
        Dialog restored;
        {
            QSettings settings;
            restoreWindowSettings(restored, settings);
        }
        QStringList expected = shownState(fresh);
        if (problem.isEmpty())
            expected[0] = "/dev/ttyS9";
        QCOMPARE(shownState(restored), expected);
    }

    void rememberedPortIsShownNotOpened_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("gone") << false;
        QTest::newRow("still there") << true;
    }
    void rememberedPortIsShownNotOpened()
    {
        QFETCH(bool, present);
        PtyPair pty;
        QVERIFY(pty.isValid());
        const QString port =
            present ? pty.slavePath() : configDir->filePath(QStringLiteral("gone"));
        QSettings settings;
        settings.setValue(QStringLiteral("port/path"), port);

        Dialog dialog;
        DialogDriver ui(dialog);
        restoreWindowSettings(dialog, settings);
        QCOMPARE(ui.widget<QComboBox>("comboBox_comList")->currentText(), port);
        QCOMPARE(ui.link()->state(), serial::ModuleLink::State::Closed);
        QVERIFY(!ui.portShownOpen());
        if (present) {
            ui.click("pushButton_openCom");
            QVERIFY(ui.portShownOpen());
        }
    }

    void logSaveStartsInTheLastFolder()
    {
        QTemporaryDir before, after;
        setLastFolder(QStringLiteral("logs"), before.path());
        LogView log;
        QString opened;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
            auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            opened = files->directory().absolutePath();
            files->selectFile(after.filePath(QStringLiteral("log.txt")));
            static_cast<QDialog *>(files)->accept();
        });
        log.findChild<QAction *>(QStringLiteral("saveAction"))->trigger();
        QCOMPARE(opened, before.path());
        QCOMPARE(lastFolder(QStringLiteral("logs")), after.path());
    }

private:
    std::unique_ptr<QTemporaryDir> configDir;
};

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
