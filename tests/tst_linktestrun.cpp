// Link tests left running for hours: a device that goes and comes back, limits by count and by
// time, and the record on disk as the run goes; against the virtual module on pseudo-terminals.
#include "app/dialog.h"
#include "dialogdriver.h"
#include "protocol/frame.h"
#include "ptypair.h"
#include "serial/linktest.h"
#include "serial/linktestcsv.h"
#include "serial/modulelink.h"
#include "virtualmodule.h"
#include "widgets/linktestpanel.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using vmodule::VirtualModule;

namespace {

// A device path that a module can be unplugged from and another plugged in at, as a USB
// adapter's path under /dev/serial/by-id comes back with it.
struct Socket
{
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("adapter"));
    std::unique_ptr<VirtualModule> module;

    bool plugIn()
    {
        module = std::make_unique<VirtualModule>();
        return module->start() && QFile::link(module->terminalPath(), path);
    }
    void pull()
    {
        module->hangUp();
        QFile::remove(path);
    }
};

// A record's lines after the header, each checked against the columns; the number of sends and
// of gaps, and the sequence numbers run on without a hole.
struct CsvCheck
{
    int sends = 0;
    int gaps = 0;
    qint64 missed = 0;
    QString fault;
};

CsvCheck checkCsv(const QString &path)
{
    CsvCheck check;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0, 0, QStringLiteral("cannot read ") + path};
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.value(0) != "time,sequence,target,status,latency_ms")
        return {0, 0, 0, QStringLiteral("header ") + QString::fromLatin1(lines.value(0))};
    if (!lines.last().isEmpty())
        return {0, 0, 0, QStringLiteral("a line cut short: ") + QString::fromLatin1(lines.last())};
    static const QRegularExpression send(QStringLiteral(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3},(\d+),[0-9a-f]{4},(0x[0-9a-f]{2},\d+\.\d\d|no reply,)$)"));
    static const QRegularExpression gap(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3},(\d+),[0-9a-f]{4},gap,\d+$)"));
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        const QString line = QString::fromLatin1(lines[i]);
        if (const auto m = send.match(line); m.hasMatch()) {
            if (m.captured(1).toInt() != ++check.sends)
                check.fault = QStringLiteral("sequence out of step: ") + line;
        } else if (const auto g = gap.match(line); g.hasMatch()) {
            ++check.gaps;
            check.missed += g.captured(1).toLongLong();
        } else {
            check.fault = QStringLiteral("unreadable: ") + line;
        }
    }
    return check;
}

} // namespace

class LinkTestRunTest : public QObject
{
    Q_OBJECT

    struct Result
    {
        int status = -1;
        QString out;
        QString err;
    };

    // Starts rfcfg; `whileRunning` plays the bench while the event loop serves the modules.
    Result rfcfg(const QStringList &args, const std::function<void(QProcess &)> &whileRunning = {})
    {
        keepDescriptorsFromChildren();
        QProcess process;
        process.start(QStringLiteral(RFCFG_BINARY), args);
        if (!process.waitForStarted())
            return {};
        if (whileRunning)
            whileRunning(process);
        QElapsedTimer waited;
        waited.start();
        while (process.state() != QProcess::NotRunning && waited.elapsed() < 90000)
            QTest::qWait(20);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // The window on a module at `path`, repeated sending to 1234 set up and recorded in `folder`.
    struct Window
    {
        Window(const QString &path, const QString &folder) : ui(dialog)
        {
            dialog.findChild<LinkTestView *>()->setRecordFolder(folder);
            ui.openPort(path);
            ui.setText("lineEdit_dataDstAddr", "1234");
            dialog.resize(900, 700);
            dialog.show();
        }
        LinkTestPanel *panel() const { return dialog.findChild<LinkTestPanel *>(); }
        QString figure(const char *name) const
        {
            return panel() ? panel()->figure(name) : QString();
        }
        int sent() const { return panel() ? panel()->stats().sent() : 0; }
        QCheckBox *repeating() const { return ui.widget<QCheckBox>("checkBox_continueSend"); }
        QString record() const { return dialog.findChild<LinkTestView *>()->recordPath(); }

        Dialog dialog;
        DialogDriver ui;
    };

private slots:
    // The window's run over a pulled cable: paused while the port is away, taken up again on
    // the reopened port, the gap in the panel and in the record written as it went.
    void windowOverAGap()
    {
        Socket socket;
        QVERIFY(socket.plugIn());
        QTemporaryDir folder;
        Window w(socket.path, folder.path());
        QVERIFY(w.ui.portShownOpen());
        w.repeating()->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(w.sent() >= 2, 20000);
        QVERIFY2(w.figure("linkTestRecordFile").contains(folder.path()),
                 qPrintable(w.figure("linkTestRecordFile")));
        socket.pull();
        QTRY_VERIFY_WITH_TIMEOUT(w.figure("linkTestStatus").contains("等待重新连接"), 10000);
        QVERIFY(w.repeating()->isChecked());
        QTest::qWait(1200); // two ticks of 500 ms fall in the gap
        QVERIFY(socket.plugIn());
        QTRY_VERIFY_WITH_TIMEOUT(socket.module->requestsHandled() >= 2, 20000);
        QVERIFY2(w.figure("linkTestStatus").contains("继续发送"),
                 qPrintable(w.figure("linkTestStatus")));
        QVERIFY2(w.figure("linkTestGaps").startsWith("1 次"), qPrintable(w.figure("linkTestGaps")));
        w.repeating()->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT(w.figure("linkTestStatus").contains("已停止"), 10000);

        const CsvCheck record = checkCsv(w.record());
        QVERIFY2(record.fault.isEmpty(), qPrintable(record.fault));
        QCOMPARE(record.gaps, 1);
        QVERIFY(record.missed >= 2);
        QCOMPARE(record.sends, w.sent());
        QCOMPARE(w.panel()->gaps().size(), size_t(1));
        // The export holds the same gap among the sends.
        const QString exported = folder.filePath("export.csv");
        QVERIFY(w.panel()->exportCsv(exported));
        const CsvCheck again = checkCsv(exported);
        QVERIFY2(again.fault.isEmpty(), qPrintable(again.fault));
        QCOMPARE(again.gaps, 1);
        QCOMPARE(again.sends, record.sends);
    }

    // The window's limits end the run, uncheck repeated sending and say why.
    void windowLimits_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("said");
        QTest::newRow("count") << 3 << 0 << "达到发送次数 3";
        QTest::newRow("duration") << 0 << 2 << "达到发送时长 2 秒";
        QTest::newRow("count first") << 2 << 600 << "达到发送次数 2";
    }
    void windowLimits()
    {
        QFETCH(int, count);
        QFETCH(int, seconds);
        QFETCH(QString, said);
        VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir folder;
        Window w(module.devicePath(), folder.path());
        w.ui.widget<QSpinBox>("spinBox_sendCount")->setValue(count);
        w.ui.widget<QSpinBox>("spinBox_sendDuration")->setValue(seconds);
        w.repeating()->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(!w.repeating()->isChecked(), 30000);
        QVERIFY2(w.figure("linkTestStatus").contains(said), qPrintable(w.figure("linkTestStatus")));
        if (count > 0)
            QCOMPARE(w.sent(), count);
        else
            QVERIFY(w.sent() >= 1 && w.sent() <= seconds * 2);
        QTRY_COMPARE_WITH_TIMEOUT(module.requestsHandled(), quint64(w.sent()), 10000);
        QCOMPARE(checkCsv(w.record()).sends, w.sent());
    }

    // A file chosen for the next run takes that run's lines, written afresh; the run after it
    // gets a file of its own beside it. Without a choice, runs go to the record folder.
    void windowRecordsToChosenFile_data()
    {
        QTest::addColumn<QString>("chosen");    // relative to a folder of the test's, "" for none
        QTest::addColumn<QByteArray>("before"); // what the chosen file held
        QTest::addColumn<QString>("recorded");  // the file the first run went to
        QTest::newRow("none chosen") << "" << QByteArray() << "";
        QTest::newRow("chosen") << "bench/mine.csv" << QByteArray() << "bench/mine.csv";
        QTest::newRow("typed without extension")
            << "bench/mine" << QByteArray() << "bench/mine.csv";
        QTest::newRow("an old file replaced")
            << "bench/old.csv" << QByteArray("an old run\n1,2,3\n") << "bench/old.csv";
    }
    void windowRecordsToChosenFile()
    {
        QFETCH(QString, chosen);
        QFETCH(QByteArray, before);
        QFETCH(QString, recorded);
        VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir folder;
        QTemporaryDir elsewhere;
        QVERIFY(QDir(elsewhere.path()).mkpath("bench"));
        if (!before.isEmpty()) {
            QFile old(elsewhere.filePath(recorded));
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(before) == before.size());
        }
        Window w(module.devicePath(), folder.path());
        auto *view = w.dialog.findChild<LinkTestView *>();
        if (!chosen.isEmpty())
            view->recordNextRunTo(elsewhere.filePath(chosen));
        w.ui.widget<QSpinBox>("spinBox_sendCount")->setValue(2);
        QStringList records; // each run's file
        for (int run = 0; run < 2; ++run) {
            w.repeating()->setChecked(true);
            QTRY_VERIFY_WITH_TIMEOUT(!w.repeating()->isChecked(), 30000);
            records << w.record();
        }
        const QString first = records[0];
        const QString second = records[1];
        if (recorded.isEmpty())
            QCOMPARE(QFileInfo(first).absolutePath(), folder.path());
        else
            QCOMPARE(first, elsewhere.filePath(recorded));
        QVERIFY(second != first);
        QCOMPARE(QFileInfo(second).absolutePath(), QFileInfo(first).absolutePath());
        QVERIFY2(w.figure("linkTestRecordFile").contains(second),
                 qPrintable(w.figure("linkTestRecordFile")));
        for (const QString &path : {first, second}) {
            const CsvCheck record = checkCsv(path);
            QVERIFY2(record.fault.isEmpty(), qPrintable(record.fault));
            QCOMPARE(record.sends, 2);
        }
    }

    // With failures only logged, a run's healthy sends stay out of both boxes and a failed one
    // shows; the panel counts them all.
    void windowLogsFailuresOnly_data()
    {
        QTest::addColumn<bool>("failuresOnly");
        QTest::newRow("failures only") << true;
        QTest::newRow("everything") << false;
    }
    void windowLogsFailuresOnly()
    {
        QFETCH(bool, failuresOnly);
        VirtualModule module;
        QVERIFY(module.start());
        connect(&module, &VirtualModule::requestReceived, this, [&] {
            if (module.requestsHandled() == 1) // the third send fails
                module.failNextDataSend(0x01);
        });
        QTemporaryDir folder;
        Window w(module.devicePath(), folder.path());
        w.ui.widget<QCheckBox>("checkBox_logFailuresOnly")->setChecked(failuresOnly);
        w.ui.widget<QSpinBox>("spinBox_sendCount")->setValue(4);
        w.repeating()->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(!w.repeating()->isChecked(), 30000);
        w.ui.receiveTick();
        QCOMPARE(w.sent(), 4);
        QCOMPARE(w.panel()->stats().failed(), 1);
        const int sendLines = int(w.ui.sendText().count("send->"));
        const int successes = int(w.ui.receiveText().count("SUCCESS!"));
        QCOMPARE(sendLines, failuresOnly ? 1 : 4);
        QCOMPARE(successes, failuresOnly ? 0 : 3);
        QCOMPARE(int(w.ui.receiveText().count("FAILUER!")), 1);
    }

    // A taller window gives the chart most of the added height.
    void chartGrowsWithTheWindow()
    {
        VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir folder;
        Window w(module.devicePath(), folder.path());
        w.ui.widget<QSpinBox>("spinBox_sendCount")->setValue(1);
        w.repeating()->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(!w.repeating()->isChecked(), 30000);
        auto *chart = w.panel()->findChild<QWidget *>("linkTestChart");
        w.dialog.resize(900, 700);
        QTRY_VERIFY(chart->isVisible());
        const int before = chart->height();
        w.dialog.resize(900, 1100);
        QTRY_VERIFY_WITH_TIMEOUT(chart->height() >= before + 100, 5000);
    }

    // The engine pauses when its device goes, counts the ticks it missed and goes on once the
    // same link opens again; a device that stays away ends the run as lost, with its gap.
    void engineOverAGap_data()
    {
        QTest::addColumn<bool>("comesBack");
        QTest::newRow("comes back") << true;
        QTest::newRow("stays away") << false;
    }
    void engineOverAGap()
    {
        QFETCH(bool, comesBack);
        Socket socket;
        QVERIFY(socket.plugIn());
        serial::ModuleLink link;
        QVERIFY(!link.open(socket.path, {}));
        serial::LinkTest test(&link);
        QTemporaryDir dir;
        serial::LinkTestCsv csv;
        QVERIFY(csv.open(dir.filePath("run.csv")));
        csv.follow(&test, [] { return quint16(0x1234); });
        QSignalSpy paused(&test, &serial::LinkTest::paused);
        QSignalSpy gaps(&test, &serial::LinkTest::gapClosed);
        QSignalSpy finished(&test, &serial::LinkTest::finished);
        serial::LinkTest::Plan plan;
        plan.intervalMs = 50;
        plan.count = 20;
        plan.reconnectWaitMs = comesBack ? 30000 : 300;
        const QByteArray frame =
            protocol::commandFrame(protocol::group::network, protocol::code::sendData,
                                   QByteArray::fromHex("341200070101aa"));
        test.start(plan, [&] { return std::optional<QByteArray>(frame); });

        QTRY_VERIFY_WITH_TIMEOUT(test.stats().sent() >= 5, 10000);
        socket.pull();
        QTRY_COMPARE_WITH_TIMEOUT(paused.count(), 1, 10000);
        QVERIFY(test.isRunning());
        if (comesBack) {
            QTest::qWait(300); // a few ticks fall in the gap
            QVERIFY(socket.plugIn());
            QVERIFY(!link.open(socket.path, {}));
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        QCOMPARE(gaps.count(), 1);
        const auto gap = gaps[0][0].value<serial::LinkTest::Gap>();
        QCOMPARE(gap.resumed, comesBack);
        QVERIFY2(gap.missed >= 300 / plan.intervalMs - 1 && gap.missed <= gap.lengthMs / 50,
                 qPrintable(QString::number(gap.missed)));
        QCOMPARE(test.stats().gaps(), 1);
        QCOMPARE(test.stats().missed(), gap.missed);
        QCOMPARE(finished[0][0].value<serial::LinkTest::End>(),
                 comesBack ? serial::LinkTest::End::CountReached : serial::LinkTest::End::Lost);
        if (comesBack)
            QVERIFY(socket.module->requestsHandled() > 0);

        const CsvCheck record = checkCsv(csv.path());
        QVERIFY2(record.fault.isEmpty(), qPrintable(record.fault));
        QCOMPARE(record.sends, test.stats().sent());
        QCOMPARE(record.gaps, 1);
        QCOMPARE(record.missed, gap.missed);
    }

    // rfcfg over a pulled cable: the device back at its path within --reconnect and the test
    // goes on to its count, the gap in the summary and the record; or not back, and the test
    // ends as a lost port does, saying it waited.
    void rfcfgOverAGap_data()
    {
        QTest::addColumn<bool>("comesBack");
        QTest::newRow("comes back") << true;
        QTest::newRow("stays away") << false;
    }
    void rfcfgOverAGap()
    {
        QFETCH(bool, comesBack);
        Socket socket;
        QVERIFY(socket.plugIn());
        QTemporaryDir dir;
        const QString csvPath = dir.filePath("run.csv");
        quint64 beforePull = 0;
        const Result r =
            rfcfg({"-p", socket.path, "send", "1234", "0102", "--count", "30", "--interval", "50",
                   "--reconnect", comesBack ? "30" : "1", "--csv", csvPath},
                  [&](QProcess &) {
                      QTRY_VERIFY_WITH_TIMEOUT(socket.module->requestsHandled() >= 5, 20000);
                      beforePull = socket.module->requestsHandled();
                      socket.pull();
                      if (comesBack) {
                          QTest::qWait(500);
                          QVERIFY(socket.plugIn());
                      }
                  });
        const CsvCheck record = checkCsv(csvPath);
        QVERIFY2(record.fault.isEmpty(), qPrintable(record.fault));
        QCOMPARE(record.gaps, 1);
        QVERIFY2(r.err.contains(QStringLiteral("lost the port %1").arg(socket.path)),
                 qPrintable(r.err));
        if (comesBack) {
            // The send in flight when the cable went may count as unanswered.
            QVERIFY2(r.status == 0 || r.status == 4, qPrintable(r.err));
            QVERIFY2(r.err.contains("is back after"), qPrintable(r.err));
            QVERIFY2(r.out.contains("sent 30, ") && r.out.contains("gaps: 1 ("), qPrintable(r.out));
            QCOMPARE(record.sends, 30);
            // The send on the line when it went never reached the module.
            const quint64 reached = beforePull + socket.module->requestsHandled();
            QVERIFY2(reached == 29 || reached == 30, qPrintable(QString::number(reached)));
        } else {
            QCOMPARE(r.status, 3);
            QVERIFY2(r.err.contains("it did not come back within 1 s"), qPrintable(r.err));
            QVERIFY(quint64(record.sends) == beforePull || quint64(record.sends) == beforePull + 1);
        }
    }

    // Whichever limit comes first ends the test, and the summary says which.
    void rfcfgLimits_data()
    {
        QTest::addColumn<QStringList>("limits");
        QTest::addColumn<QString>("ended");
        QTest::addColumn<int>("sends"); // exactly, or at most for a duration
        QTest::newRow("count") << QStringList{"--count", "7"}
                               << "ended: the count of 7 sends was reached" << 7;
        QTest::newRow("duration") << QStringList{"--duration", "2"}
                                  << "ended: the duration of 2 s was reached" << 2000 / 100 + 1;
        QTest::newRow("count before duration") << QStringList{"--count", "3", "--duration", "600"}
                                               << "ended: the count of 3 sends was reached" << 3;
        QTest::newRow("duration before count")
            << QStringList{"--count", "100000", "--duration", "1"}
            << "ended: the duration of 1 s was reached" << 1000 / 100 + 1;
    }
    void rfcfgLimits()
    {
        QFETCH(QStringList, limits);
        QFETCH(QString, ended);
        QFETCH(int, sends);
        VirtualModule module;
        QVERIFY(module.start());
        QElapsedTimer clock;
        clock.start();
        const Result r = rfcfg(QStringList{"-p", module.devicePath(), "send", "1234", "01",
                                           "--interval", "100", "--json"} +
                               limits);
        QCOMPARE(r.status, 0);
        const QJsonObject doc = QJsonDocument::fromJson(r.out.toUtf8()).object();
        const bool byCount = ended.contains("count");
        QCOMPARE(doc.value("ended").toString(), byCount ? "count" : "duration");
        if (byCount)
            QCOMPARE(doc.value("sent").toInt(), sends);
        else
            QVERIFY2(doc.value("sent").toInt() >= 1 && doc.value("sent").toInt() <= sends,
                     qPrintable(r.out));
        QCOMPARE(module.requestsHandled(), quint64(doc.value("sent").toInt()));
        if (!byCount)
            QVERIFY(clock.elapsed() >= limits.last().toInt() * 1000);
        limits.removeAll("--json");
        const Result text = rfcfg(
            QStringList{"-p", module.devicePath(), "send", "1234", "01", "--interval", "100"} +
            limits);
        QVERIFY2(text.out.contains(ended), qPrintable(text.out));
    }

    // Killed without warning, rfcfg leaves a record whose every line reads, one line per send the
    // module saw but the one in flight.
    void csvSurvivesSigkill()
    {
        VirtualModule module;
        QVERIFY(module.start());
        QTemporaryDir dir;
        const QString csvPath = dir.filePath("run.csv");
        rfcfg({"-p", module.devicePath(), "send", "1234", "0102", "--count", "1000000",
               "--interval", "2", "--csv", csvPath},
              [&](QProcess &process) {
                  QTRY_VERIFY_WITH_TIMEOUT(module.requestsHandled() >= 200, 30000);
                  ::kill(pid_t(process.processId()), SIGKILL);
                  QVERIFY(process.waitForFinished(10000));
              });
        QTest::qWait(100); // the last request may still be on the line
        const CsvCheck record = checkCsv(csvPath);
        QVERIFY2(record.fault.isEmpty(), qPrintable(record.fault));
        const qint64 seen = qint64(module.requestsHandled());
        QVERIFY2(record.sends == seen || record.sends == seen - 1,
                 qPrintable(QStringLiteral("%1 lines, %2 sends").arg(record.sends).arg(seen)));
    }

    // A record that cannot be written stops; the test runs to its end and says so.
    void csvWriteErrorStopsOnlyTheRecord()
    {
        VirtualModule module;
        QVERIFY(module.start());
        const Result r = rfcfg({"-p", module.devicePath(), "send", "1234", "01", "--count", "5",
                                "--interval", "20", "--csv", "/dev/full"});
        QCOMPARE(r.status, 5);
        QCOMPARE(module.requestsHandled(), quint64(5));
        QVERIFY2(r.out.contains("sent 5, acknowledged 5"), qPrintable(r.out));
        QVERIFY2(r.err.contains("recording to /dev/full stopped: No space left on device; the "
                                "test goes on"),
                 qPrintable(r.err));
    }
};

QTEST_MAIN(LinkTestRunTest)
#include "tst_linktestrun.moc"
