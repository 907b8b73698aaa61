// Finding a module at unknown serial settings and keeping it in reach, end to end against
// virtual modules that answer only at their stored settings.
#include "app/dialog.h"
#include "dialogdriver.h"
#include "protocol/frame.h"
#include "ptypair.h"
#include "virtualmodule.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using vmodule::ModuleBehaviour;
using vmodule::VirtualModule;

namespace {

// "230400 even 2"
ModuleBehaviour::SerialSettings settingsFrom(const QString &text)
{
    const QStringList p = text.split(QLatin1Char(' '));
    return {p[0].toInt(), int(QStringList{"none", "odd", "even"}.indexOf(p[1])), p[2] == "2"};
}

// A module at these settings that checks the line, or none for an empty text; with
// `unaskedEveryMs`, each module also sends a version reply unasked that often, whatever the line.
struct Bench
{
    explicit Bench(const QStringList &settings, int unaskedEveryMs = 0)
    {
        for (const QString &s : settings) {
            if (s.isEmpty()) {
                silent << std::make_shared<PtyPair>();
                ports << silent.back()->slavePath();
                continue;
            }
            auto module = std::make_shared<VirtualModule>();
            module->behaviour().setSerialSettings(settingsFrom(s));
            module->setLineCheck(true);
            module->start();
            modules << module;
            ports << module->devicePath();
            if (unaskedEveryMs > 0) {
                auto timer = std::make_shared<QTimer>();
                VirtualModule *m = module.get();
                QObject::connect(timer.get(), &QTimer::timeout, m, [m] {
                    const QByteArray request = protocol::commandFrame(protocol::group::module,
                                                                      protocol::code::readVersion);
                    m->sendUnsolicited(
                        m->behaviour().handle({vmodule::Request::Kind::Frame, request}));
                });
                timer->start(unaskedEveryMs);
                unasked << timer;
            }
        }
    }
    QList<std::shared_ptr<VirtualModule>> modules;
    QList<std::shared_ptr<QTimer>> unasked;
    QList<std::shared_ptr<PtyPair>> silent;
    QStringList ports;
};

} // namespace

class DiscoveryTest : public QObject
{
    Q_OBJECT

    int status = -1;
    QJsonObject doc;
    QString output;

    // Runs rfcfg to its end while the event loop serves the modules, with at most `descriptors`
    // open files when given.
    void rfcfgText(const QStringList &args, rlim_t descriptors = 0)
    {
        keepDescriptorsFromChildren();
        QProcess process;
        if (descriptors > 0) {
            process.setChildProcessModifier([descriptors] {
                rlimit limit{};
                ::getrlimit(RLIMIT_NOFILE, &limit);
                limit.rlim_cur = descriptors;
                ::setrlimit(RLIMIT_NOFILE, &limit);
            });
        }
        process.start(QStringLiteral(RFCFG_BINARY), args);
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
        status = process.exitCode();
        output = QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    // The same with --json.
    void rfcfg(const QStringList &args)
    {
        rfcfgText(QStringList{"--json"} + args);
        doc = QJsonDocument::fromJson(output.toLocal8Bit()).object();
    }

private slots:
    // Each port's module found where it answers, all ports searched at once. A pseudo-terminal
    // carries no parity, so a module at even parity answers where no parity comes first. A module
    // that sends version replies unasked is found only where it answers a request of another kind.
    void discover_data()
    {
        QTest::addColumn<QStringList>("modules"); // "" for a port where nothing answers
        QTest::addColumn<bool>("quick");
        QTest::addColumn<int>("unaskedEveryMs"); // 0: the modules speak only when asked
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("found"); // per port, "not found" or "RATE PARITY STOP"
        QTest::newRow("first: factory settings")
            << QStringList{"9600 even 1"} << false << 0 << 0 << QStringList{"9600 EVEN 1"};
        QTest::newRow("middle") << QStringList{"38400 odd 1"} << false << 0 << 0
                                << QStringList{"38400 NONE 1"};
        QTest::newRow("last") << QStringList{"230400 even 2"} << false << 0 << 0
                              << QStringList{"230400 NONE 2"};
        QTest::newRow("not found")
            << QStringList{""} << false << 0 << 4 << QStringList{"not found"};
        QTest::newRow("quick misses a rare setting")
            << QStringList{"4800 none 2"} << true << 0 << 4 << QStringList{"not found"};
        QTest::newRow("several ports")
            << QStringList{"115200 none 1", "1200 even 2", "", "9600 even 1"} << false << 0 << 4
            << QStringList{"115200 NONE 1", "1200 NONE 2", "not found", "9600 EVEN 1"};
        QTest::newRow("unasked version replies")
            << QStringList{"115200 none 2"} << false << 40 << 0 << QStringList{"115200 NONE 2"};
        QTest::newRow("unasked version replies, none at the settings tried")
            << QStringList{"115200 none 2"} << true << 40 << 4 << QStringList{"not found"};
    }

    void discover()
    {
        QFETCH(QStringList, modules);
        QFETCH(bool, quick);
        QFETCH(int, unaskedEveryMs);
        QFETCH(int, status);
        QFETCH(QStringList, found);
        Bench bench(modules, unaskedEveryMs);
        QStringList args;
        for (const QString &port : bench.ports)
            args << "-p" << port;
        rfcfg(args << "discover" << (quick ? QStringList{"--quick"} : QStringList{}));
        QCOMPARE(this->status, status);
        QCOMPARE(doc.value("command").toString(), QStringLiteral("discover"));
        QMap<QString, QString> seen;
        for (const QJsonValue &v : doc.value("found").toArray()) {
            const QJsonObject f = v.toObject();
            QCOMPARE(f.value("firmware").toString(), QStringLiteral("10.02"));
            QCOMPARE(f.value("date").toString(), QStringLiteral("2014-03-25"));
            seen[f.value("port").toString()] = QStringLiteral("%1 %2 %3")
                                                   .arg(f.value("baud").toInt())
                                                   .arg(f.value("parity").toString())
                                                   .arg(f.value("stop_bits").toInt());
        }
        for (const QJsonValue &v : doc.value("not_found").toArray())
            seen[v.toString()] = QStringLiteral("not found");
        for (int i = 0; i < bench.ports.size(); ++i)
            QCOMPARE(seen.value(bench.ports[i]), found[i]);
        QVERIFY(doc.value("tried").toInt() >= bench.ports.size());
    }

    // A device named twice (a link and its target, two links) is searched once, under the
    // first name, and the other name is told to be the same port, not one in use.
    void discoverSameDeviceTwice_data()
    {
        QTest::addColumn<QStringList>("names"); // "link", "terminal", "second link", "silent"
        QTest::newRow("link, then its target") << QStringList{"link", "terminal"};
        QTest::newRow("target, then its link") << QStringList{"terminal", "link"};
        QTest::newRow("two links, another port between")
            << QStringList{"link", "silent", "second link"};
    }

    void discoverSameDeviceTwice()
    {
        QFETCH(QStringList, names);
        Bench bench({"9600 even 1", ""});
        QTemporaryDir dir;
        const QString secondLink = dir.filePath("second.tty");
        QVERIFY(QFile::link(bench.modules[0]->terminalPath(), secondLink));
        const QMap<QString, QString> paths{{"link", bench.ports[0]},
                                           {"terminal", bench.modules[0]->terminalPath()},
                                           {"second link", secondLink},
                                           {"silent", bench.ports[1]}};
        QStringList args;
        for (const QString &name : names)
            args << "-p" << paths[name];
        rfcfg(args << "discover"
                   << "--quick");
        const bool silent = names.contains("silent");
        QCOMPARE(status, silent ? 4 : 0);
        const QJsonArray found = doc.value("found").toArray();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].toObject().value("port").toString(), paths[names[0]]);
        QCOMPARE(doc.value("not_found").toArray(),
                 silent ? QJsonArray{paths["silent"]} : QJsonArray{});
        QCOMPARE(doc.value("same_as").toObject(),
                 (QJsonObject{{paths[names.last()], paths[names[0]]}}));
    }

    // Many ports and few descriptors: the ports are searched a few at a time, each one is tried
    // (none for want of a descriptor, none taken for a permission error), and the module on the
    // last one is found.
    void discoverWithFewDescriptors_data()
    {
        QTest::addColumn<int>("ports");
        QTest::addColumn<int>("descriptors");
        QTest::newRow("60 ports, 64 descriptors") << 60 << 64;
        QTest::newRow("room for one port at a time") << 6 << 16;
    }

    void discoverWithFewDescriptors()
    {
        QFETCH(int, ports);
        QFETCH(int, descriptors);
        QStringList modules(ports - 1);
        Bench bench(modules << "9600 even 1");
        QStringList args;
        for (const QString &port : bench.ports)
            args << "-p" << port;
        rfcfgText(args << "discover"
                       << "--quick",
                  rlim_t(descriptors));
        QCOMPARE(status, 4);
        QStringList expected;
        for (int i = 0; i + 1 < ports; ++i)
            expected << bench.ports[i] + "  not found";
        expected << bench.ports.last() + "  9600 EVEN 1  firmware 10.02, released 2014-03-25";
        QCOMPARE(output.split('\n', Qt::SkipEmptyParts), expected);
    }

    // A write that gives the module new serial settings is verified at them, and from then on
    // the module is reached at them, rates above 115200 included.
    void configSetFollowsNewSerialSettings_data()
    {
        QTest::addColumn<QStringList>("set");
        QTest::addColumn<QStringList>("after"); // --baud, --parity, --stop-bits
        QTest::addColumn<bool>("writeReplyLost");
        QTest::newRow("230400") << QStringList{"uart_baud=230400", "uart_parity=none"}
                                << QStringList{"230400", "NONE", "1"} << false;
        QTest::newRow("57600 odd 2")
            << QStringList{"uart_baud=57600", "uart_parity=odd", "uart_stop_bits=2"}
            << QStringList{"57600", "ODD", "2"} << false;
        QTest::newRow("230400, the write's reply lost")
            << QStringList{"uart_baud=230400", "uart_parity=none"}
            << QStringList{"230400", "NONE", "1"} << true;
    }

    void configSetFollowsNewSerialSettings()
    {
        QFETCH(QStringList, set);
        QFETCH(QStringList, after);
        QFETCH(bool, writeReplyLost);
        Bench bench({"9600 even 1"});
        const QString port = bench.ports[0];
        VirtualModule &module = *bench.modules[0];
        connect(&module, &VirtualModule::requestReceived, &module, [&](const QByteArray &request) {
            if (writeReplyLost && request.size() > 2 && quint8(request[0]) == 0x01 &&
                quint8(request[2]) == 0x01) // the write: the module takes it, its reply is lost
                module.dropNextReply();
        });
        rfcfg(QStringList{"-p", port, "--parity", "EVEN", "config", "set"} + set);
        QCOMPARE(status, 0);
        QVERIFY(doc.value("verified").toBool());
        const QJsonObject s = doc.value("serial_after").toObject();
        QCOMPARE(
            QStringList({QString::number(s.value("baud").toInt()), s.value("parity").toString(),
                         QString::number(s.value("stop_bits").toInt())}),
            after);
        rfcfg({"-p", port, "--baud", after[0], "--parity", after[1], "--stop-bits", after[2],
               "version"});
        QCOMPARE(status, 0);
        rfcfg({"-p", port, "version"});
        QCOMPARE(status, 4); // the old settings are gone
    }
    // The window's button searches the chosen port with a progress dialog that names the
    // setting tried, then selects what it found and opens the port; or stops when cancelled. A
    // port another program holds is left alone: not opened, its settings not changed.
    void findButton_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("held");
        QTest::newRow("finds and opens") << false << false;
        QTest::newRow("cancelled") << true << false;
        QTest::newRow("held by another program") << false << true;
    }

    void findButton()
    {
        QFETCH(bool, cancel);
        QFETCH(bool, held);
        Bench bench({"57600 odd 2"});
        // The other program: a descriptor of its own on the device, locked.
        const int holder = ::open(QFile::encodeName(bench.modules[0]->terminalPath()).constData(),
                                  O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(holder >= 0);
        const auto closeHolder = qScopeGuard([holder] { ::close(holder); });
        termios before{};
        QCOMPARE(::tcgetattr(holder, &before), 0);
        if (held)
            QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
        Dialog dialog;
        DialogDriver ui(dialog);
        ui.widget<QComboBox>("comboBox_comList")->setEditText(bench.ports[0]);
        QStringList labels;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            auto *progress = dialog.findChild<QProgressDialog *>("findModuleProgress");
            if (!progress || !progress->isVisible())
                return;
            labels << progress->labelText();
            if (cancel && labels.size() == 3)
                progress->findChild<QPushButton *>()->click();
        });
        watcher.start(20);
        ui.click("pushButton_findModule");
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QString text = ui.receiveText();
                for (const char *end : {"找到模块：", "查找模块已取消。", "未找到模块", "未查找。"})
                    if (text.contains(QString::fromUtf8(end)))
                        return true;
                return false;
            }(),
            60000);
        watcher.stop();
        if (held) {
            QVERIFY(!ui.portShownOpen());
            QVERIFY2(ui.receiveText().contains(
                         QStringLiteral("%1 正被其他程序使用，未查找。").arg(bench.ports[0])),
                     qPrintable(ui.receiveText()));
            for (const QString &label : std::as_const(labels))
                QVERIFY2(!label.startsWith(QStringLiteral("正在查找模块：")), qPrintable(label));
            termios after{};
            QCOMPARE(::tcgetattr(holder, &after), 0);
            QCOMPARE(::cfgetispeed(&after), ::cfgetispeed(&before));
            QCOMPARE(after.c_cflag, before.c_cflag);
            QCOMPARE(bench.modules[0]->requestsHandled(), quint64(0));
            QCOMPARE(bench.modules[0]->ignoredByteCount(), quint64(0));
            return;
        }
        QVERIFY(!labels.isEmpty());
        QVERIFY2(labels.constLast().startsWith(QStringLiteral("正在查找模块：") + bench.ports[0]),
                 qPrintable(labels.constLast()));
        if (cancel) {
            QVERIFY(!ui.portShownOpen());
            QVERIFY(ui.receiveText().contains(QStringLiteral("查找模块已取消。")));
            QVERIFY(ui.widget<QPushButton>("pushButton_findModule")->isEnabled());
            return;
        }
        QVERIFY(ui.portShownOpen());
        QVERIFY(!ui.widget<QPushButton>("pushButton_findModule")->isEnabled());
        QCOMPARE(ui.widget<QComboBox>("comboBox_baudList")->currentText(), QStringLiteral("57600"));
        QCOMPARE(ui.widget<QComboBox>("comboBox_StopBitsList")->currentText(), QStringLiteral("2"));
        QVERIFY2(
            ui.receiveText().contains(QStringLiteral("找到模块：%1，57600 NONE 2，程序版本：10.02，"
                                                     "发布日期：2014-03-25")
                                          .arg(bench.ports[0])),
            qPrintable(ui.receiveText()));
        // The box shows what the module holds, read once the port is open.
        QTRY_VERIFY_WITH_TIMEOUT(
            (ui.receiveTick(), ui.receiveText().contains(QStringLiteral("读参数成功！"))), 10000);
        QCOMPARE(ui.widget<QComboBox>("comboBox_UartParaBaud")->currentText(),
                 QStringLiteral("57600"));
        QCOMPARE(ui.widget<QComboBox>("comboBox_UartParity")->currentIndex(), 1);  // odd
        QCOMPARE(ui.widget<QComboBox>("comboBox_UartStopBit")->currentIndex(), 1); // two
        ui.click("pushButton_readVersion");
        QTRY_VERIFY_WITH_TIMEOUT(
            (ui.receiveTick(), ui.receiveText().endsWith("发布日期：2014-03-25\n")), 10000);
    }

    // A write that gives the module new serial settings offers to follow them; one that
    // leaves the settings the module was read with asks nothing, whatever the port runs at.
    void configWriteFollowedThroughTheQuestionBox_data()
    {
        QTest::addColumn<bool>("readFirst");
        QTest::addColumn<int>("rate"); // the parameter box's position; -1: as read
        QTest::addColumn<int>("questions");
        QTest::newRow("new rate, nothing read") << false << 11 << 2;
        QTest::newRow("read first, only the channel changed") << true << -1 << 0;
    }
    void configWriteFollowedThroughTheQuestionBox()
    {
        QFETCH(bool, readFirst);
        QFETCH(int, rate);
        QFETCH(int, questions);
        Bench bench({"9600 even 1"});
        Dialog dialog;
        DialogDriver ui(dialog);
        ui.openPort(bench.ports[0]); // at 9600 NONE 1: a pseudo-terminal carries no parity
        QVERIFY(ui.portShownOpen());
        if (readFirst) {
            ui.click("pushButton_readCfg");
            QTRY_VERIFY_WITH_TIMEOUT(
                (ui.receiveTick(), ui.receiveText().contains(QStringLiteral("读参数成功"))), 10000);
            ui.select("comboBox_channelNum", 9);
        } else {
            ui.setText("lineEdit_PanID", "1234");
            ui.setText("lineEdit_moduleAddr", "0001");
            ui.select("comboBox_UartParaBaud", rate); // 230400
            ui.select("comboBox_UartParity", 0);
        }
        // Every question (nothing was read yet; follow the new settings) is answered yes, as a
        // user would.
        int asked = 0;
        QString question;
        QTimer answerer;
        connect(&answerer, &QTimer::timeout, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ++asked;
                question = box->text();
                box->button(QMessageBox::Yes)->click();
            }
        });
        answerer.start(10);
        ui.click("pushButton_writeCfg");
        QTRY_VERIFY_WITH_TIMEOUT(
            (ui.receiveTick(), ui.receiveText().contains(QStringLiteral("配置结果：SUCCESS!"))),
            10000);
        QTRY_COMPARE_WITH_TIMEOUT(asked, questions, 10000);
        if (questions == 0) {
            QTest::qWait(300); // a question would have come by now
            QCOMPARE(asked, 0);
            QVERIFY(!ui.receiveText().contains(QStringLiteral("模块串口参数已改为")));
            QCOMPARE(bench.modules[0]->behaviour().record[2], quint8(9));
            return;
        }
        QVERIFY2(question.contains("230400 NONE 1"), qPrintable(question));
        QVERIFY(ui.receiveText().contains(
            QStringLiteral("配置结果：SUCCESS!\n模块串口参数已改为 230400 NONE 1\n")));
        QCOMPARE(ui.widget<QComboBox>("comboBox_baudList")->currentText(),
                 QStringLiteral("230400"));
        QTRY_VERIFY_WITH_TIMEOUT(
            (ui.receiveTick(), ui.receiveText().endsWith("发布日期：2014-03-25\n")), 10000);
        QCOMPARE(bench.modules[0]->behaviour().serialSettings().baudRate, 230400);
    }

    // A pulled adapter leaves a line with the time and the reason; the same device path coming
    // back is reopened with the same settings, and repeated sending goes on over it.
    void replugReopened()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("adapter");
        auto first = std::make_unique<VirtualModule>();
        QVERIFY(first->start());
        QVERIFY(QFile::link(first->terminalPath(), path));
        Dialog dialog;
        DialogDriver ui(dialog);
        ui.select("comboBox_baudList", 14); // 230400
        ui.openPort(path);
        QVERIFY(ui.portShownOpen());
        ui.setText("lineEdit_dataDstAddr", "1234");
        ui.widget<QCheckBox>("checkBox_continueSend")->setChecked(true);
        first->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!ui.portShownOpen(), 10000);
        const QRegularExpression lostLine(
            QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d 串口已断开：.+\n"));
        QVERIFY2(lostLine.match(ui.receiveText()).hasMatch(), qPrintable(ui.receiveText()));

        VirtualModule second;
        QVERIFY(second.start());
        QFile::remove(path);
        QVERIFY(QFile::link(second.terminalPath(), path));
        QTRY_VERIFY_WITH_TIMEOUT(ui.portShownOpen(), 10000);
        QVERIFY(ui.receiveText().contains(
            QStringLiteral("串口已重新连接：%1（230400 NONE 1）").arg(path)));
        QVERIFY(ui.widget<QCheckBox>("checkBox_continueSend")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(second.requestsHandled() > 0, 10000);
        ui.widget<QCheckBox>("checkBox_continueSend")->setChecked(false);
        ui.click("pushButton_readVersion");
        QTRY_VERIFY_WITH_TIMEOUT(
            (ui.receiveTick(), ui.receiveText().endsWith("发布日期：2014-03-25\n")), 10000);
    }
};

QTEST_MAIN(DiscoveryTest)
#include "tst_discovery.moc"
