// rfcfgtool-demo: the tool's own window with a virtual module started in-process, listed first
// among the serial ports, for trying every command without hardware.
#include "app/buildvariant.h"
#include "app/dialog.h"
#include "app/language.h"
#include "app/windowsettings.h"
#include "serial/portlist.h"
#include "virtualmodule.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    useUnhintedText();
    // A file of its own: the demo's port is a pseudo-terminal that is gone after the run.
    useUserSettings(QStringLiteral("rfcfgtool-demo"));
    // Before anything reads the settings.
    const SettingsFileCheck settingsCheck = setAsideDamagedSettings();
    const QLocale locale = QLocale::system();
    const Translations translations(uiLanguageFor(locale), locale);
    // A network of some size, so that the map and a scan have something to show.
    vmodule::VirtualModule module(vmodule::Network::random(20, 7));
    if (!module.start()) {
        QMessageBox::critical(nullptr, QCoreApplication::translate("Dialog", "错误"),
                              QCoreApplication::translate("Demo", "无法创建虚拟模块。"));
        return 1;
    }
    const BuildVariant variant = plainBuild();
    Dialog dialog;
    dialog.setWindowTitle(variant.windowTitle +
                          QCoreApplication::translate("Demo", "（虚拟模块演示）"));
    dialog.setModuleModelLabel(variant.moduleModelLabel);
    // The virtual module stays first in the list each time it is read again.
    serial::PortFacts virtualPort;
    virtualPort.name = virtualPort.location = module.terminalPath();
    virtualPort.description = QCoreApplication::translate("Demo", "虚拟模块");
    dialog.setPortEnumerator([virtualPort] {
        QList<serial::PortFacts> ports = serial::availablePortFacts();
        ports.prepend(virtualPort);
        return ports;
    });
    if (settingsCheck.usable) {
        QSettings settings;
        restoreWindowSettings(dialog, settings);
    }
    // The virtual module is picked whatever port was remembered.
    dialog.addPort(virtualPort);
    dialog.selectPort(virtualPort.name);
    dialog.show();
    dialog.readPortListInBackground();
    const int exitCode = app.exec();
    if (settingsCheck.usable) {
        QSettings settings;
        saveWindowSettings(dialog, settings);
    }
    return exitCode;
}
