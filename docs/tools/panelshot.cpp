// The README's picture of the link-test panel: the demo's window and virtual module, repeated
// sending at 500 ms for SECONDS, a reply delay that wanders like a radio link's, one send failed
// and one reply dropped by the fault switches; then the window is grabbed into OUT.PNG.
// With "config" instead of SECONDS: the README's demo window, right after "读配置".
// With "gap" after SECONDS: the module's device is pulled at 40 % of the run and another one
// plugged in at the same path 8 s later, which the window reopens and the run goes on over.
//   panelshot OUT.PNG [SECONDS [gap] | config]  (any Qt platform; offscreen needs no display)
#include "app/buildvariant.h"
#include "app/dialog.h"
#include "app/language.h"
#include "virtualmodule.h"
#include "widgets/linktestview.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: panelshot OUT.PNG [SECONDS | config]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const bool configRead = argc > 2 && qstrcmp(argv[2], "config") == 0;
    const int seconds = argc > 2 && !configRead ? std::atoi(argv[2]) : 90;
    const bool gap = argc > 3 && qstrcmp(argv[3], "gap") == 0;
    const QLocale locale = QLocale::system();
    const Translations translations(uiLanguageFor(locale), locale);
    auto plugged = std::make_unique<vmodule::VirtualModule>();
    if (!plugged->start())
        return 1;
    vmodule::VirtualModule *current = plugged.get();
    // The device path the window opens, which a pull removes and a plug brings back.
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("adapter"));
    QFile::link(plugged->terminalPath(), socket);
    Dialog dialog;
    const BuildVariant variant = plainBuild();
    dialog.setWindowTitle(variant.windowTitle +
                          QCoreApplication::translate("Demo", "（虚拟模块演示）"));
    dialog.setModuleModelLabel(variant.moduleModelLabel);
    dialog.show();
    dialog.findChild<LinkTestView *>()->setRecordFolder(dir.path());
    if (!dialog.openPort(socket))
        return 1;
    const auto grabLater = [&](int ms) {
        QTimer::singleShot(ms, [&] {
            dialog.grab().save(out);
            app.quit();
        });
    };
    if (configRead) {
        dialog.findChild<QPushButton *>(QStringLiteral("pushButton_readCfg"))->click();
        grabLater(1500);
        return app.exec();
    }
    dialog.setDataSend(QStringLiteral("00ab"), QStringLiteral("0102ff"));

    int sends = 0;
    const auto play = [&](vmodule::VirtualModule *module) {
        QObject::connect(
            module, &vmodule::VirtualModule::requestReceived, [&, module](const QByteArray &) {
                ++sends;
                // 30-60 ms with a slow swell, a burst of slow replies in the middle.
                const double swell = 15 * std::sin(sends / 12.0);
                int delay = 40 + int(swell) + int(QRandomGenerator::global()->bounded(12));
                if (sends > seconds && sends < seconds + 8)
                    delay += 120;
                module->setReplyDelay(delay);
                if (sends == seconds / 2)
                    module->failNextDataSend(0x02);
                if (sends == (3 * seconds) / 2)
                    module->dropNextReply();
            });
    };
    play(current);
    if (gap) {
        dialog.resize(dialog.width(), 900); // room for the chart
        QTimer::singleShot(seconds * 400, [&] {
            current->hangUp();
            QFile::remove(socket);
        });
        QTimer::singleShot(seconds * 400 + 8000, [&] {
            plugged = std::make_unique<vmodule::VirtualModule>();
            current = plugged.get();
            if (current->start() && QFile::link(current->terminalPath(), socket))
                play(current);
        });
    }
    dialog.setRepeatedSending(true);
    QTimer::singleShot(seconds * 1000, [&] {
        dialog.setRepeatedSending(false);
        // The last report and the refresh of the figures come in before the picture.
        grabLater(1500);
    });
    return app.exec();
}
