#include "app/windowsettings.h"

#include "app/dialog.h"
#include "widgets/logview.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

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

// The window writes a few hundred bytes.
constexpr qint64 maxSettingsBytes = 64 * 1024;

// Where QSettings() looks, as useUserSettings set it.
QString settingsFolder;

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

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The byte offset in `ini` where a value starts with @Variant( once QSettings' reader has read
// its escapes, or -1. The reading is that reader's, loosened so that it finds more, never less:
// \x and octal escapes give 16 bits as there, and quotes, blanks, escaped line breaks and
// unknown escapes are left out, wherever they stand. An @@ is an escaped @, as the window's own
// port path writes one, and starts no value.
qsizetype variantValueOffset(const QByteArray &ini)
{
    static const char plainEscapes[] = "abfnrtv\"?'\\";
    static const char plainMeanings[] = "\a\b\f\n\r\t\v\"?'\\";
    QByteArray read;           // ASCII as read, 0x80 standing for any other character
    std::vector<qsizetype> at; // where each byte of `read` came from
    auto put = [&](uint c, qsizetype from) {
        read += c < 0x80 ? char(c) : char(0x80);
        at.push_back(from);
    };
    for (qsizetype i = 0; i < ini.size();) {
        const qsizetype from = i;
        const char c = ini[i++];
        if (c == ' ' || c == '\t' || c == '"')
            continue;
        if (c != '\\' || i == ini.size()) {
            put(uchar(c), from);
            continue;
        }
        const char e = ini[i++];
        if (const char *plain = std::strchr(plainEscapes, e); plain && e) {
            put(uchar(plainMeanings[plain - plainEscapes]), from);
        } else if (e == 'x' || (e >= '0' && e <= '7')) {
            const int base = e == 'x' ? 16 : 8;
            quint16 value = e == 'x' ? 0 : quint16(e - '0');
            bool digits = e != 'x';
            for (; i < ini.size() && hexDigit(ini[i]) >= 0 && hexDigit(ini[i]) < base; ++i) {
                value = quint16(value * base + hexDigit(ini[i]));
                digits = true;
            }
            if (digits)
                put(value, from);
        } else if ((e == '\n' || e == '\r') && i < ini.size() &&
                   (ini[i] == '\n' || ini[i] == '\r') && ini[i] != e) {
            ++i;
        }
    }
    static const QByteArray variant("@Variant(");
    for (qsizetype p = read.indexOf(variant); p >= 0; p = read.indexOf(variant, p + 1)) {
        if (p == 0 || read[p - 1] != '@')
            return at[size_t(p)];
    }
    return -1;
}

} // namespace

void useUserSettings(const QString &application, const QString &folder)
{
    QCoreApplication::setOrganizationName(organisation);
    QCoreApplication::setApplicationName(application);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    // Set here, so that settingsFilePath need not ask QSettings, which would read the file.
    settingsFolder = folder.isEmpty()
                         ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                         : folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder);
}

QString settingsFilePath()
{
    return QDir(settingsFolder)
        .filePath(QCoreApplication::organizationName() + u'/' +
                  QCoreApplication::applicationName() + QStringLiteral(".ini"));
}

QString settingsFileProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    const QString tooLarge =
        QStringLiteral("it is larger than 64 KiB, and the window writes a few hundred bytes");
    if (info.size() > maxSettingsBytes)
        return tooLarge;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {}; // nor can QSettings read it
    const QByteArray contents = file.read(maxSettingsBytes + 1);
    if (contents.size() > maxSettingsBytes)
        return tooLarge;
    if (const qsizetype offset = variantValueOffset(contents); offset >= 0)
        return QStringLiteral("line %1 holds an @Variant value, which the window never writes")
            .arg(contents.left(offset).count('\n') + 1);
    return {};
}

SettingsFileCheck setAsideDamagedSettings()
{
    const QString path = settingsFilePath();
    const QString problem = settingsFileProblem(path);
    if (problem.isEmpty())
        return {};
    SettingsFileCheck check;
    const QString aside = path + QStringLiteral(".damaged");
    QFile::remove(aside);
    QFile file(path);
    if (file.rename(aside)) {
        check.notice = QStringLiteral("%1: ignored the settings file %2: %3; moved it to %4, "
                                      "this run starts from the defaults and saves a new file "
                                      "at exit")
                           .arg(QCoreApplication::applicationName(), path, problem, aside);
    } else {
        check.usable = false;
        // No organisation, no settings: lastFolder leaves them alone too.
        QCoreApplication::setOrganizationName(QString());
        check.notice =
            QStringLiteral("%1: ignored the settings file %2: %3; it could not be moved aside "
                           "(%4), so this run neither reads nor saves settings")
                .arg(QCoreApplication::applicationName(), path, problem, file.errorString());
    }
    std::fprintf(stderr, "%s\n", qPrintable(check.notice));
    return check;
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
