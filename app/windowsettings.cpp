#include "app/windowsettings.h"

#include "app/dialog.h"
#include "widgets/logview.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QSettings>

#include <optional>
#include <utility>

namespace {

const QString organisation = QStringLiteral("rfcfgtool");

// Lists whose current item is remembered by its text, with their keys.
const std::pair<const char *, const char *> rememberedLists[] = {
    {"comboBox_baudList", "line/baudRate"},
    {"comboBox_parityList", "line/parity"},
    {"comboBox_StopBitsList", "line/stopBits"},
    {"comboBox_msTime", "send/repeatInterval"},
};

const std::pair<const char *, const char *> rememberedLogs[] = {
    {"ReceiveOutBrowser", "log/receiveTimeStamps"},
    {"SendOutBrowser", "log/sendTimeStamps"},
};

const char *const portField = "comboBox_comList";
const QString portKey = QStringLiteral("port/path");
const QString geometryKey = QStringLiteral("window/geometry");

template <typename T> T *child(const Dialog &dialog, const char *name)
{
    return dialog.findChild<T *>(QLatin1String(name));
}

// A switch reads back as a bool from this process's own writes and as the text "true" or
// "false" from the file; anything else counts as absent.
std::optional<bool> switchValue(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString();
    if (text == QLatin1String("true") || text == QLatin1String("false"))
        return text == QLatin1String("true");
    return std::nullopt;
}

} // namespace

void useUserSettings(const QString &application)
{
    QCoreApplication::setOrganizationName(organisation);
    QCoreApplication::setApplicationName(application);
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

void restoreWindowSettings(Dialog &dialog, QSettings &settings)
{
    // Qt reads what it can of a damaged file; none of it is trusted.
    if (settings.status() != QSettings::NoError)
        return;

    if (auto *ports = child<QComboBox>(dialog, portField)) {
        const QString path = settings.value(portKey).toString();
        if (!path.isEmpty()) {
            // A port that is gone stays in the field as typed text, as the list shows a
            // typed path; opening it is the user's click.
            const int index = ports->findText(path);
            ports->setCurrentIndex(index);
            if (index < 0)
                ports->setEditText(path);
        }
    }
    for (const auto &[name, key] : rememberedLists) {
        auto *list = child<QComboBox>(dialog, name);
        const QString text = settings.value(QLatin1String(key)).toString();
        const int index = list && !text.isEmpty() ? list->findText(text) : -1;
        if (index >= 0)
            list->setCurrentIndex(index);
    }
    for (const auto &[name, key] : rememberedLogs) {
        auto *log = child<LogView>(dialog, name);
        const std::optional<bool> on = switchValue(settings, QLatin1String(key));
        if (log && on)
            log->setTimeStamps(*on);
    }
    // Qt refuses geometry it does not recognise and keeps the window on the screens there are.
    dialog.restoreGeometry(settings.value(geometryKey).toByteArray());
}

void saveWindowSettings(const Dialog &dialog, QSettings &settings)
{
    if (const auto *ports = child<QComboBox>(dialog, portField))
        settings.setValue(portKey, ports->currentText());
    for (const auto &[name, key] : rememberedLists) {
        if (const auto *list = child<QComboBox>(dialog, name))
            settings.setValue(QLatin1String(key), list->currentText());
    }
    for (const auto &[name, key] : rememberedLogs) {
        if (const auto *log = child<LogView>(dialog, name))
            settings.setValue(QLatin1String(key), log->timeStamps());
    }
    settings.setValue(geometryKey, dialog.saveGeometry());
    settings.sync();
}
