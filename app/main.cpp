#include "app/buildvariant.h"
#include "app/dialog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
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
