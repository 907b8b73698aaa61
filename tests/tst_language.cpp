#include "app/buildvariant.h"
#include "app/dialog.h"
#include "app/language.h"
#include "dialogdriver.h"
#include "ptypair.h"
#include "testbytes.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QtTest>

class LanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void languageForLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("zh_CN") << QLocale("zh_CN") << true;
        QTest::newRow("zh_TW") << QLocale("zh_TW") << true;
        QTest::newRow("C") << QLocale::c() << true;
        QTest::newRow("POSIX") << QLocale("POSIX") << true;
        QTest::newRow("en_US") << QLocale("en_US") << false;
        QTest::newRow("de_DE") << QLocale("de_DE") << false;
        QTest::newRow("ja_JP") << QLocale("ja_JP") << false;
    }
    void languageForLocale()
    {
        QFETCH(QLocale, locale);
        QFETCH(bool, chinese);
        QCOMPARE(uiLanguageFor(locale) == UiLanguage::Chinese, chinese);
    }

    void windowSpeaksTheLanguage_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("formTexts"); // title, a group, a label, the open button
        QTest::addColumn<QString>("replyText");
        QTest::addColumn<QStringList>("box"); // title, start of the text, the button
        QTest::newRow("English")
            << QLocale("en_GB")
            << QStringList{"Radio Module Configuration and Test Tool", "Module port",
                           "Baud:", "Open port"}
            << "Module reset: SUCCESS!\n"
            << QStringList{"Error",
                           "Cannot open serial port: /dev/no-such-module\nThe port does "
                           "not exist or is in use.\nReason: the device does not exist",
                           "OK"};
        QTest::newRow("Chinese under the C locale")
            << QLocale::c()
            << QStringList{"无线模块配置和测试工具", "测试模块串口", "波特率：", "打开串口"}
            << "模块复位：SUCCESS!\n"
            << QStringList{"错误",
                           "无法打开串口： /dev/no-such-module\n指定的串口不存在或者被占用。\n"
                           "原因：设备不存在",
                           "确定"};
    }
    void windowSpeaksTheLanguage()
    {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, formTexts);
        QFETCH(QString, replyText);
        QFETCH(QStringList, box);
        const Translations translations(uiLanguageFor(locale), locale);
        Dialog dialog;
        DialogDriver ui(dialog);
        QCOMPARE(plainBuild().windowTitle, formTexts[0]);
        QCOMPARE(ui.widget<QGroupBox>("groupBox")->title(), formTexts[1]);
        QCOMPARE(ui.widget<QLabel>("label_8")->text(), formTexts[2]);
        QCOMPARE(ui.widget<QPushButton>("pushButton_openCom")->text(), formTexts[3]);

        PtyPair pty;
        ui.openPort(pty.slavePath());
        QVERIFY(ui.widget<QSerialPort>("myCom")->isOpen());
        pty.write(withChecksum("01 00 87 01 00"));
        QTRY_VERIFY_WITH_TIMEOUT(ui.receiveText().endsWith(replyText), 3000);
        ui.click("pushButton_openCom");

        MessageBoxCatcher boxes;
        ui.openPort("/dev/no-such-module");
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.title, box[0]);
        QVERIFY2(boxes.text.startsWith(box[1]), qPrintable(boxes.text));
        QCOMPARE(boxes.buttons, QStringList{box[2]});
    }
};

QTEST_MAIN(LanguageTest)
#include "tst_language.moc"
