// The README's picture of the network map: the demo's window and virtual module (a mesh of 20
// nodes), a scan of every node, then one link taken away and the farthest node scanned again,
// so that the old hops show as contradicted; the map window is grabbed into OUT.PNG.
//   mapshot OUT.PNG                       (any Qt platform; offscreen needs no display)
#include "app/buildvariant.h"
#include "app/dialog.h"
#include "app/language.h"
#include "virtualmodule.h"
#include "widgets/networkmapwindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: mapshot OUT.PNG\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QLocale locale = QLocale::system();
    const Translations translations(uiLanguageFor(locale), locale);
    vmodule::Network network = vmodule::Network::random(20, 7);
    vmodule::VirtualModule module(network);
    if (!module.start())
        return 1;
    Dialog dialog;
    dialog.setWindowTitle(plainBuild().windowTitle);
    dialog.show();
    if (!dialog.openPort(module.terminalPath()))
        return 1;
    dialog.findChild<QPushButton *>(QStringLiteral("pushButton_networkMap"))->click();
    NetworkMapWindow *window = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<NetworkMapWindow *>(w))
            window = found;
    }
    if (!window)
        return 1;
    window->setMapFolder(QString()); // the picture keeps no map
    window->resize(900, 560);
    auto *targets = window->findChild<QLineEdit *>(QStringLiteral("lineEdit_scanTargets"));
    targets->setText(QStringLiteral("0002-0014 0020"));
    window->findChild<QPushButton *>(QStringLiteral("pushButton_scan"))->click();

    int step = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window->isScanning())
            return;
        if (step == 0) {
            // The farthest node that has another way loses its last hop and is found that way.
            QList<std::pair<int, quint16>> byHops;
            for (const network::Target &t : window->map().targets()) {
                if (t.hops())
                    byHops.append({*t.hops(), t.address});
            }
            std::sort(byHops.rbegin(), byHops.rend());
            quint16 far = 0;
            for (const auto &[hops, target] : byHops) {
                const QList<quint16> path = network.shortestPath(0x0001, target);
                QString text = network.toText();
                const quint16 last = path[path.size() - 2];
                text.remove(
                    QString::asprintf("link %04x %04x\n", qMin(last, target), qMax(last, target)));
                const auto cut = vmodule::Network::parse(text);
                if (!cut->shortestPath(0x0001, target).isEmpty()) {
                    module.behaviour().network = *cut;
                    far = target;
                    break;
                }
            }
            targets->setText(network::nodeName(far));
            window->findChild<QPushButton *>(QStringLiteral("pushButton_scan"))->click();
            ++step;
            return;
        }
        poll.stop();
        QTimer::singleShot(500, [&] {
            window->grab().save(out);
            app.quit();
        });
    });
    poll.start(100);
    return app.exec();
}
