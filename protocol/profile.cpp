#include "protocol/profile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace protocol {

namespace {

// Keys of a config get --json document that are no configuration.
bool isDocumentNote(const QString &key)
{
    return key == QLatin1String("command") || key == QLatin1String("unsolicited") ||
           key == QLatin1String("unsolicited_total");
}

// The JSON string whose opening quote is at `i`, its escapes read; leaves `i` past its closing
// quote.
QString jsonString(const QByteArray &json, qsizetype &i)
{
    QString text;
    qsizetype run = ++i;
    auto takeRun = [&] { text += QString::fromUtf8(json.constData() + run, i - run); };
    while (i < json.size() && json[i] != '"') {
        if (json[i] != '\\') {
            ++i;
            continue;
        }
        takeRun();
        const char escaped = i + 1 < json.size() ? json[i + 1] : '\0';
        i += 2;
        switch (escaped) {
        case 'b':
            text += QChar(u'\b');
            break;
        case 'f':
            text += QChar(u'\f');
            break;
        case 'n':
            text += QChar(u'\n');
            break;
        case 'r':
            text += QChar(u'\r');
            break;
        case 't':
            text += QChar(u'\t');
            break;
        case 'u':
            // A surrogate pair comes as two of these, each one half.
            text += QChar(char16_t(json.mid(i, 4).toUShort(nullptr, 16)));
            i = qMin(i + 4, json.size());
            break;
        default: // \" \\ \/
            text += QLatin1Char(escaped);
        }
        run = i;
    }
    takeRun();
    ++i;
    return text;
}

} // namespace

QString duplicateJsonKey(const QByteArray &json)
{
    // One per object or array the scan is in; the text is valid JSON, so brackets and quotes
    // outside strings are structure.
    struct Level
    {
        bool object = false;
        QString path;        // of this object or array
        QSet<QString> keys;  // an object's keys so far
        QString keyPath;     // of an object's last key
        bool keyNext = true; // in an object, the next string is a key
        qsizetype index = 0; // in an array, the item the scan is in
    };
    std::vector<Level> levels;
    for (qsizetype i = 0; i < json.size();) {
        const char c = json[i];
        if (c == '"') {
            const QString text = jsonString(json, i);
            if (!levels.empty() && levels.back().object && levels.back().keyNext) {
                Level &level = levels.back();
                level.keyPath = level.path.isEmpty() ? text : level.path + u'.' + text;
                if (level.keys.contains(text))
                    return level.keyPath;
                level.keys.insert(text);
                level.keyNext = false;
            }
            continue;
        }
        if (c == '{' || c == '[') {
            Level inner;
            inner.object = c == '{';
            if (!levels.empty()) {
                const Level &outer = levels.back();
                inner.path = outer.object
                                 ? outer.keyPath
                                 : QStringLiteral("%1[%2]").arg(outer.path).arg(outer.index);
            }
            levels.push_back(inner);
        } else if ((c == '}' || c == ']') && !levels.empty()) {
            levels.pop_back();
        } else if (c == ',' && !levels.empty()) {
            Level &level = levels.back();
            if (level.object)
                level.keyNext = true;
            else
                ++level.index;
        }
        ++i;
    }
    return {};
}

QString readProfileFile(const QString &path, QByteArray *contents)
{
    const QString notRegular = QStringLiteral("%1 is not a regular file").arg(path);
    const QString tooLarge = QStringLiteral("%1 is larger than 1 MiB").arg(path);
    auto cannotRead = [&](const QString &reason) {
        return QStringLiteral("cannot read %1: %2").arg(path, reason);
    };
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0)
        return cannotRead(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(info.st_mode))
        return notRegular;
    if (info.st_size > maxProfileBytes)
        return tooLarge;
    // Not blocking on open, and the opened file checked again: the name may have been replaced
    // by a pipe since.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return cannotRead(QString::fromLocal8Bit(std::strerror(errno)));
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return notRegular;
    // The file may grow after the check; read no more than the limit allows.
    *contents = file.read(maxProfileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return cannotRead(file.errorString());
    if (contents->size() > maxProfileBytes)
        return tooLarge;
    return {};
}

QString parseProfile(const QByteArray &json, Profile *profile, bool loraModel)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull())
        return QStringLiteral("not JSON (%1 at byte %2)")
            .arg(parseError.errorString())
            .arg(parseError.offset);
    // Refused whole: which of the two the user meant is anyone's guess.
    if (const QString twice = duplicateJsonKey(json); !twice.isEmpty())
        return QStringLiteral("key '%1' is given twice").arg(twice);
    if (!doc.isObject())
        return QStringLiteral("holds no configuration: not a JSON object");
    const QJsonObject top = doc.object();
    if (top.contains(QStringLiteral("error")))
        return QStringLiteral("holds no configuration: it reports an error");

    const QJsonValue format = top.value(QStringLiteral("format"));
    if (!format.isUndefined() && format.toDouble(-1) != profileFormat)
        return QStringLiteral("format: not %1, the profile format this program reads")
            .arg(profileFormat);
    const QJsonValue loraFlag = top.value(QStringLiteral("lora"));
    if (!loraFlag.isUndefined() && !loraFlag.isBool())
        return QStringLiteral("lora is not true or false");
    const bool lora = loraFlag.toBool() || loraModel;

    QJsonObject config;
    const QJsonValue nested = top.value(QStringLiteral("config"));
    if (!nested.isUndefined()) {
        if (!nested.isObject())
            return QStringLiteral("config is not an object of KEY: VALUE");
        config = nested.toObject();
        for (auto it = top.begin(); it != top.end(); ++it) {
            const QString key = it.key();
            if (key != QLatin1String("config") && key != QLatin1String("format") &&
                key != QLatin1String("lora") && !isDocumentNote(key))
                return QStringLiteral("unknown key '%1' beside config").arg(key);
        }
    } else {
        for (auto it = top.begin(); it != top.end(); ++it) {
            if (it.key() != QLatin1String("format") && it.key() != QLatin1String("lora") &&
                !isDocumentNote(it.key()))
                config.insert(it.key(), it.value());
        }
    }

    ModuleConfig scratch;
    QStringList given;
    for (auto it = config.begin(); it != config.end(); ++it) {
        if (it.key() == QLatin1String("lora_bit_rate"))
            continue; // derived, not written
        QString text;
        QString error = configTextFromJson(it.key(), it.value(), lora, &text);
        if (error.isEmpty())
            error = setConfigValue(scratch, it.key(), text, lora);
        if (!error.isEmpty())
            return error;
        given << it.key();
    }
    if (given.isEmpty())
        return QStringLiteral("holds no configuration keys");

    Profile result;
    result.lora = lora;
    // Spelled as config get spells them, in its order.
    for (const auto &[key, value] : configValues(scratch, lora)) {
        if (given.contains(key))
            result.values.append({key, value});
    }
    *profile = result;
    return {};
}

QString loadProfile(const QString &path, Profile *profile, bool loraModel)
{
    QByteArray contents;
    QString error = readProfileFile(path, &contents);
    if (!error.isEmpty())
        return error;
    Profile loaded;
    error = parseProfile(contents, &loaded, loraModel);
    if (!error.isEmpty())
        return QStringLiteral("%1: %2").arg(path, error);
    loaded.name = QFileInfo(path).completeBaseName();
    loaded.sha256 =
        QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Sha256).toHex());
    *profile = loaded;
    return {};
}

QByteArray profileJson(const ConfigValues &values, bool lora)
{
    QJsonObject config;
    for (const auto &[key, value] : values)
        config.insert(key, value);
    const QJsonObject doc{{"format", profileFormat}, {"lora", lora}, {"config", config}};
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

} // namespace protocol
