#include "app/buildvariant.h"
#include "app/dialog.h"
#include "app/language.h"
#include "app/windowsettings.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    useUnhintedText();
    const QLocale locale = QLocale::system();
    const Translations translations(uiLanguageFor(locale), locale);
#ifdef RFCFGTOOL_BRANDED
    useUserSettings(QStringLiteral("rfcfgtool-oem"));
    const BuildVariant variant = brandedBuild();
#else
    useUserSettings(QStringLiteral("rfcfgtool"));
    const BuildVariant variant = plainBuild();
#endif
    // Before anything reads the settings.
    const SettingsFileCheck settingsCheck = setAsideDamagedSettings();
    Dialog dialog;
    dialog.setWindowTitle(variant.windowTitle);
    dialog.setModuleModelLabel(variant.moduleModelLabel);
    if (settingsCheck.usable) {
        QSettings settings;
        restoreWindowSettings(dialog, settings);
    }
    dialog.show();
    dialog.readPortListInBackground();
    const int exitCode = app.exec();
    if (settingsCheck.usable) {
        QSettings settings;
        saveWindowSettings(dialog, settings);
    }
    return exitCode;
}
