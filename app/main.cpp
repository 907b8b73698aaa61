#include "app/buildvariant.h"
#include "app/dialog.h"
#include "app/language.h"

#include <QApplication>

int main(int argc, char *argv[])
{
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
