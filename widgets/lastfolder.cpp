#include "widgets/lastfolder.h"

#include "protocol/frame.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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

QString suggestedFileName(const QString &prefix, const QString &address, const QDate &date,
                          const QString &suffix)
{
    QStringList parts{prefix};
    if (const auto word = protocol::hexWordFromText(address))
        parts << protocol::formatHexWord(*word);
    parts << date.toString(Qt::ISODate);
    return parts.join(QLatin1Char('-')) + QLatin1Char('.') + suffix;
}

QString withDefaultSuffix(const QString &path, const QString &suffix)
{
    // As the file dialog itself adds it: only to a name without any dot.
    const QStringView name = QStringView(path).mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name.contains(QLatin1Char('.')))
        return path;
    return path + QLatin1Char('.') + suffix;
}

QString askSavePath(QWidget *parent, const QString &caption, const QString &kind,
                    const QString &suggestedName, const QString &filter, const QString &suffix)
{
    const QString folder = lastFolder(kind);
    QFileDialog dialog(parent, caption,
                       folder.isEmpty() ? suggestedName : QDir(folder).filePath(suggestedName),
                       filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The dialog's own question about replacing a file then asks about the whole name.
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QString path = withDefaultSuffix(dialog.selectedFiles().value(0), suffix);
    if (!path.isEmpty())
        setLastFolder(kind, QFileInfo(path).absolutePath());
    return path;
}
