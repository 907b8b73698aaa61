// A cable pulled and plugged back, a hundred times in one session.
#include "app/dialog.h"
#include "dialogdriver.h"
#include "ptypair.h"
#include "virtualmodule.h"

#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

} // namespace

class CablePullTest : public QObject
{
    Q_OBJECT

private slots:
    void hundredPullsAndReopens()
    {
        Dialog dialog;
        DialogDriver ui(dialog);
        auto *ports = ui.widget<QComboBox>("comboBox_comList");
        const int filesBefore = openFileCount();
        const double cpuBefore = processCpuMs();
        constexpr int cycles = 100;

        for (int cycle = 0; cycle < cycles; ++cycle) {
            vmodule::VirtualModule module; // a fresh module on a fresh device each time
            QVERIFY(module.start());
            QSignalSpy replies(&module, &vmodule::VirtualModule::replySent);
            ports->clear();
            ui.openPort(module.devicePath());
            QVERIFY2(ui.portShownOpen(), qPrintable(QStringLiteral("reopen %1").arg(cycle)));

            ui.click("pushButton_readVersion");
            QTRY_VERIFY_WITH_TIMEOUT(replies.count() == 1, 2000);
            QTest::qWait(10);
            ui.receiveTick();
            QVERIFY(ui.receiveText().endsWith(QStringLiteral("发布日期：2014-03-25\n")));

            module.hangUp();
            QTRY_VERIFY_WITH_TIMEOUT(!ui.portShownOpen(), 2000);
            QVERIFY(!ui.widget<QTimer>("readTimer")->isActive());
            QVERIFY(!ui.widget<QPushButton>("pushButton_readVersion")->isEnabled());
            ui.widget<LogView>("ReceiveOutBrowser")->clear();
        }

        // Nothing spins after the last pull and no descriptor was left behind.
        const double cpuLoop = processCpuMs() - cpuBefore;
        const double idleStart = processCpuMs();
        QTest::qWait(1000);
        const double idle = processCpuMs() - idleStart;
        qInfo("%d pulls: %.0f ms CPU in all, %.1f ms CPU in the second after", cycles, cpuLoop,
              idle);
        QVERIFY2(idle < 100, qPrintable(QString::number(idle)));
        QCOMPARE(openFileCount(), filesBefore);
    }
};

QTEST_MAIN(CablePullTest)
#include "tst_cablepull.moc"
