#include "app/buildvariant.h"
#include "app/dialog.h"
#include "app/language.h"
#include "serial/portlist.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Under way while Qt connects to the display and loads its fonts.
    serial::startReadingPortFacts();
    QApplication app(argc, argv);
    const QLocale locale = QLocale::system();
    const Translations translations(uiLanguageFor(locale), locale);
#ifdef RFCFGTOOL_BRANDED
    const BuildVariant variant = brandedBuild();
#else
    const BuildVariant variant = plainBuild();
#endif
    Dialog dialog;
    dialog.setWindowTitle(variant.windowTitle);
    dialog.setModuleModelLabel(variant.moduleModelLabel);
    dialog.show();
    return app.exec();
}
