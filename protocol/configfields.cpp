#include "protocol/configfields.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace protocol {

namespace {

QStringList numbers(int from, int to)
{
    QStringList list;
    for (int n = from; n <= to; ++n)
        list << QString::number(n);
    return list;
}

ConfigFieldSpec list(const char *key, int ModuleConfig::*position, int byte, quint8 mask,
                     int offset, const QStringList &items, const char *factory)
{
    ConfigFieldSpec field{key, byte, mask, offset, items, {}, false, QLatin1String(factory)};
    field.position = position;
    for (const QString &item : items) {
        bool isNumber = false;
        field.values << item.toInt(&isNumber);
        if (!isNumber) {
            field.values.clear();
            break;
        }
    }
    return field;
}

ConfigFieldSpec address(const char *key, HexWord ModuleConfig::*word, int byte, const char *factory)
{
    ConfigFieldSpec field{key, byte, 0xff, 0, {}, {}, false, QLatin1String(factory)};
    field.word = word;
    return field;
}

ConfigFieldSpec onOff(const char *key, bool ModuleConfig::*flag, int byte, const char *factory)
{
    ConfigFieldSpec field{key, byte, 0xff, 0, {"off", "on"}, {}, false, QLatin1String(factory)};
    field.flag = flag;
    return field;
}

ConfigFieldSpec lora(ConfigFieldSpec field)
{
    field.lora = true;
    return field;
}

// The list position of unknown(N), or nothing when `value` is no such text or N does not fit
// the field's bits.
std::optional<int> unknownIndex(const ConfigFieldSpec &field, const QString &value)
{
    static const QRegularExpression pattern(QStringLiteral("^unknown\\(([0-9]{1,3})\\)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(value);
    const int raw = m.captured(1).toInt();
    if (!m.hasMatch() || raw > field.mask >> qCountTrailingZeroBits(field.mask))
        return std::nullopt;
    return raw - field.offset;
}

// The field a key names for this model, or null.
const ConfigFieldSpec *keyField(const QString &key, bool lora)
{
    const ConfigFieldSpec *field = configField(key);
    return field && (lora || !field->lora) ? field : nullptr;
}

QString fieldText(const ModuleConfig &config, const ConfigFieldSpec &field)
{
    if (field.word)
        return formatHexWord(config.*field.word);
    if (field.flag)
        return field.items[config.*field.flag ? 1 : 0];
    // A module value outside the list shows as the field's raw value, so nothing is hidden and
    // the text names what config set writes back for it.
    const int position = config.*field.position;
    return holdsItem(config, field) ? field.items[position]
                                    : QStringLiteral("unknown(%1)").arg(position + field.offset);
}

QString unknownKeyError(const QString &key, bool lora)
{
    const ConfigFieldSpec *field = configField(key);
    const QString hint =
        field && field->lora ? QStringLiteral(" (a LoRa key: add --lora)") : QString();
    return QStringLiteral("unknown key '%1'%2; keys: %3")
        .arg(key, hint, configKeys(lora).join(QLatin1String(", ")));
}

QString jsonText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return QStringLiteral("null");
    }
}

} // namespace

const QList<ConfigFieldSpec> &configFields()
{
    // Key, member, record byte, mask, raw value of the first item, items, factory value.
    static const QList<ConfigFieldSpec> fields = {
        list("channel", &ModuleConfig::channel, 2, 0xff, 0, numbers(0, 31), "0"),
        list("power", &ModuleConfig::rfPower, 3, 0xff, 0,
             {"20dBm", "17dBm", "15dBm", "13dBm", "11dBm", "9dBm", "7dBm", "5dBm"}, "20dBm"),
        list("device_type", &ModuleConfig::deviceType, 5, 0xff, 0, {"slave", "master"}, "slave"),
        address("network_id", &ModuleConfig::networkId, 6, "1234"),
        address("address", &ModuleConfig::moduleAddress, 8, "0001"),
        list("interface_mode", &ModuleConfig::userMode, 4, 0xff, 0, {"hex-command", "transparent"},
             "hex-command"),
        list("uart_baud", &ModuleConfig::uartBaud, 13, 0xf0, 1,
             {"1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400", "57600", "76800",
              "115200", "230400"},
             "9600"),
        list("uart_parity", &ModuleConfig::uartParity, 13, 0x06, 0, {"none", "odd", "even"},
             "even"),
        list("uart_stop_bits", &ModuleConfig::uartStopBits, 13, 0x01, 0, {"1", "2"}, "1"),
        list("rf_data_rate", &ModuleConfig::rfDataRate, 12, 0xff, 1,
             {"1200", "4800", "9600", "38400"}, "9600"),
        onOff("whitelist", &ModuleConfig::whitelistEnabled, 10, "off"),
        lora(list("bandwidth", &ModuleConfig::bandwidth, 14, 0xff, 7, {"7", "8", "9"}, "7")),
        lora(list("spreading_factor", &ModuleConfig::spreadFactor, 15, 0xff, 7, numbers(7, 12),
                  "7")),
    };
    return fields;
}

const ConfigFieldSpec *configField(const QString &key)
{
    for (const ConfigFieldSpec &field : configFields()) {
        if (key == QLatin1String(field.key))
            return &field;
    }
    return nullptr;
}

ConfigRecord fieldBits(const ConfigFieldSpec &field)
{
    ConfigRecord bits{};
    bits[size_t(field.byte)] = field.mask;
    if (field.word)
        bits[size_t(field.byte) + 1] = 0xff;
    return bits;
}

bool holdsItem(const ModuleConfig &config, const ConfigFieldSpec &field)
{
    return !field.position ||
           (config.*field.position >= 0 && config.*field.position < field.items.size());
}

ModuleConfig factoryConfig()
{
    ModuleConfig config;
    for (const ConfigFieldSpec &field : configFields())
        setConfigValue(config, field.key, field.factory, true);
    return config;
}

QString notAnAddress(const QString &shown)
{
    return QStringLiteral("%1 is not an address; use exactly four hex digits, such as 00a1")
        .arg(shown);
}

QStringList configKeys(bool lora)
{
    QStringList keys;
    for (const ConfigFieldSpec &field : configFields()) {
        if (lora || !field.lora)
            keys << field.key;
    }
    return keys;
}

QStringList allowedValues(const QString &key)
{
    const ConfigFieldSpec *field = configField(key);
    return field ? field->items : QStringList();
}

ConfigValues configValues(const ModuleConfig &config, bool lora)
{
    ConfigValues values;
    for (const ConfigFieldSpec &field : configFields()) {
        if (lora || !field.lora)
            values.append({field.key, fieldText(config, field)});
    }
    return values;
}

QString configValue(const ModuleConfig &config, const QString &key)
{
    const ConfigFieldSpec *field = configField(key);
    return field ? fieldText(config, *field) : QString();
}

QString setConfigValue(ModuleConfig &config, const QString &key, const QString &value, bool lora)
{
    const ConfigFieldSpec *field = keyField(key, lora);
    if (!field)
        return unknownKeyError(key, lora);
    if (field->word) {
        const auto word = hexWordFromText(value);
        if (!word)
            return key + QStringLiteral(": ") + notAnAddress(QStringLiteral("'%1'").arg(value));
        config.*field->word = *word;
        return {};
    }
    const auto item =
        std::find_if(field->items.cbegin(), field->items.cend(),
                     [&](const QString &i) { return i.compare(value, Qt::CaseInsensitive) == 0; });
    if (item != field->items.cend()) {
        const int index = int(item - field->items.cbegin());
        if (field->flag)
            config.*field->flag = index == 1;
        else
            config.*field->position = index;
        return {};
    }
    if (const auto raw = field->position ? unknownIndex(*field, value) : std::nullopt) {
        config.*field->position = *raw;
        return {};
    }
    return QStringLiteral("%1: '%2' is not allowed; use one of %3")
        .arg(key, value, field->items.join(QLatin1String(", ")));
}

QStringList keysOutsideLists(const ModuleConfig &config, bool lora, const QStringList &except)
{
    QStringList keys;
    for (const ConfigFieldSpec &field : configFields()) {
        if ((lora || !field.lora) && !holdsItem(config, field) && !except.contains(field.key))
            keys << field.key;
    }
    return keys;
}

QString configTextFromJson(const QString &key, const QJsonValue &value, bool lora, QString *text)
{
    const ConfigFieldSpec *field = keyField(key, lora);
    if (!field)
        return unknownKeyError(key, lora);
    if (value.isString()) {
        *text = value.toString();
        return {};
    }
    if (field->word)
        return key + QStringLiteral(": ") + notAnAddress(jsonText(value));
    const QString choices = field->items.join(QLatin1String(", "));
    if (!value.isDouble() || field->values.isEmpty())
        return QStringLiteral("%1: %2 is not allowed; write one of %3 as a string")
            .arg(key, jsonText(value), choices);
    // Every listed number is small: anything beyond that range cannot be one of them, and a
    // conversion would wrap it into one.
    const double number = value.toDouble();
    if (number != std::trunc(number) || std::abs(number) > 1e9 ||
        !field->values.contains(qint32(number)))
        return QStringLiteral("%1: %2 is not allowed; use one of %3")
            .arg(key, jsonText(value), choices);
    *text = QString::number(qint32(number));
    return {};
}

ConfigRecord withConfigKeys(const ConfigRecord &read, const ModuleConfig &config,
                            const QStringList &keys)
{
    // Encoded as the LoRa model so bandwidth and spreading factor have their bits too; only the
    // named keys' bits are taken from it.
    const ConfigRecord values = encodeConfigRecord(config, true).record;
    ConfigRecord record = read;
    record[0] = record[1] = configMarker;
    for (const ConfigFieldSpec &field : configFields()) {
        if (!keys.contains(QLatin1String(field.key)))
            continue;
        const ConfigRecord bits = fieldBits(field);
        // The module reads any set bit of the switch's byte as on: it changes only with the
        // value.
        if (field.flag && (record[size_t(field.byte)] != 0) == config.*field.flag)
            continue;
        for (size_t b = 0; b < record.size(); ++b)
            record[b] = quint8((record[b] & ~bits[b]) | (values[b] & bits[b]));
    }
    return record;
}

QList<FieldChange> configChanges(const ModuleConfig &before, const ModuleConfig &after, bool lora)
{
    QList<FieldChange> changes;
    for (const ConfigFieldSpec &field : configFields()) {
        const QString a = fieldText(before, field), b = fieldText(after, field);
        if ((lora || !field.lora) && a != b)
            changes.append({field.key, a, b});
    }
    return changes;
}

QList<RecordDifference> recordDifferences(const ConfigRecord &written, const ConfigRecord &readBack,
                                          bool lora)
{
    QList<RecordDifference> differences;
    ConfigRecord explained{};
    for (const FieldChange &change : configChanges(decodeConfigRecord(written.data()),
                                                   decodeConfigRecord(readBack.data()), lora)) {
        differences.append({change.key, -1, change.before, change.after});
        const ConfigRecord bits = fieldBits(*configField(change.key));
        for (size_t b = 0; b < explained.size(); ++b)
            explained[b] |= bits[b];
    }
    for (int b = 0; b < configRecordSize; ++b) {
        if (((written[size_t(b)] ^ readBack[size_t(b)]) & ~explained[size_t(b)]) != 0)
            differences.append(
                {QString(), b,
                 QStringLiteral("%1").arg(written[size_t(b)], 2, 16, QLatin1Char('0')),
                 QStringLiteral("%1").arg(readBack[size_t(b)], 2, 16, QLatin1Char('0'))});
    }
    return differences;
}

} // namespace protocol
