#include "widgets/lastfolder.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

bool settingsNamed()
{
    return !QCoreApplication::organizationName().isEmpty();
}

QString folderKey(const QString &kind)
{
    return QStringLiteral("folders/") + kind;
}

} // namespace

QString lastFolder(const QString &kind)
{
    if (!settingsNamed())
        return {};
    const QSettings settings;
    return settings.value(folderKey(kind)).toString();
}

void setLastFolder(const QString &kind, const QString &folder)
{
    if (!settingsNamed())
        return;
    QSettings settings;
    settings.setValue(folderKey(kind), folder);
}
