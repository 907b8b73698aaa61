#include "protocol/configfields.h"

#include <QLocale>
#include <QRegularExpression>

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

struct ListField
{
    const char *key;
    int ModuleConfig::*member;
    QStringList items;
    bool lora;
    int offset = 0;    // the raw field value of the list's first item
    int maxRaw = 0xff; // the largest raw value the field's bits hold
};

// The window's lists in their order: the record carries list positions.
const QList<ListField> &listFields()
{
    static const QList<ListField> fields = {
        {"channel", &ModuleConfig::channel, numbers(0, 31), false},
        {"power",
         &ModuleConfig::rfPower,
         {"20dBm", "17dBm", "15dBm", "13dBm", "11dBm", "9dBm", "7dBm", "5dBm"},
         false},
        {"device_type", &ModuleConfig::deviceType, {"slave", "master"}, false},
        {"interface_mode", &ModuleConfig::userMode, {"hex-command", "transparent"}, false},
        {"uart_baud",
         &ModuleConfig::uartBaud,
         {"1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400", "57600", "76800",
          "115200", "230400"},
         false,
         1,
         0x0f},
        {"uart_parity", &ModuleConfig::uartParity, {"none", "odd", "even"}, false, 0, 0x03},
        {"uart_stop_bits", &ModuleConfig::uartStopBits, {"1", "2"}, false, 0, 0x01},
        {"rf_data_rate", &ModuleConfig::rfDataRate, {"1200", "4800", "9600", "38400"}, false, 1},
        {"bandwidth", &ModuleConfig::bandwidth, {"7", "8", "9"}, true, 7},
        {"spreading_factor", &ModuleConfig::spreadFactor, numbers(7, 12), true, 7},
    };
    return fields;
}

const ListField *listField(const QString &key)
{
    for (const ListField &f : listFields()) {
        if (key == QLatin1String(f.key))
            return &f;
    }
    return nullptr;
}

const QStringList onOff = {QStringLiteral("off"), QStringLiteral("on")};

QString itemText(const ListField &field, int index)
{
    // A module value outside the list shows as the field's raw value, so nothing is hidden and
    // the text names what config set writes back for it.
    return index >= 0 && index < field.items.size()
               ? field.items[index]
               : QStringLiteral("unknown(%1)").arg(index + field.offset);
}

// The list position of unknown(N), or nothing when `value` is no such text or N does not fit
// the field's bits.
std::optional<int> unknownIndex(const ListField &field, const QString &value)
{
    static const QRegularExpression pattern(QStringLiteral("^unknown\\(([0-9]{1,3})\\)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(value);
    if (!m.hasMatch() || m.captured(1).toInt() > field.maxRaw)
        return std::nullopt;
    return m.captured(1).toInt() - field.offset;
}

template <typename Config>
auto wordField(Config &config, const QString &key) -> decltype(&config.networkId)
{
    if (key == QLatin1String("network_id"))
        return &config.networkId;
    if (key == QLatin1String("address"))
        return &config.moduleAddress;
    return nullptr;
}

// Where each key's bits lie in the record (the whitelist: any bit of its byte reads as on).
// Bits no key names (byte 11, bit 3 of byte 13, and without --lora bytes 14 and 15) are the
// module's own and are written back as read.
struct KeyBits
{
    const char *key;
    int byte;
    quint8 mask;
};
const KeyBits keyBits[] = {
    {"channel", 2, 0xff},         {"power", 3, 0xff},      {"interface_mode", 4, 0xff},
    {"device_type", 5, 0xff},     {"network_id", 6, 0xff}, {"network_id", 7, 0xff},
    {"address", 8, 0xff},         {"address", 9, 0xff},    {"whitelist", 10, 0xff},
    {"rf_data_rate", 12, 0xff},   {"uart_baud", 13, 0xf0}, {"uart_parity", 13, 0x06},
    {"uart_stop_bits", 13, 0x01}, {"bandwidth", 14, 0xff}, {"spreading_factor", 15, 0xff},
};

QString unknownKeyError(const QString &key, bool lora)
{
    const QString hint = listField(key) && listField(key)->lora
                             ? QStringLiteral(" (a LoRa key: add --lora)")
                             : QString();
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

QStringList configKeys(bool lora)
{
    QStringList keys = {"channel",        "power",          "device_type", "network_id",
                        "address",        "interface_mode", "uart_baud",   "uart_parity",
                        "uart_stop_bits", "rf_data_rate",   "whitelist"};
    if (lora)
        keys << "bandwidth"
             << "spreading_factor";
    return keys;
}

QStringList allowedValues(const QString &key)
{
    if (key == QLatin1String("whitelist"))
        return onOff;
    const ListField *f = listField(key);
    return f ? f->items : QStringList();
}

ConfigValues configValues(const ModuleConfig &config, bool lora)
{
    ConfigValues values;
    for (const QString &key : configKeys(lora)) {
        QString text;
        if (const ListField *f = listField(key))
            text = itemText(*f, config.*(f->member));
        else if (key == QLatin1String("whitelist"))
            text = onOff[config.whitelistEnabled ? 1 : 0];
        else
            text = formatHexWord(*wordField(config, key));
        values.append({key, text});
    }
    return values;
}

QString setConfigValue(ModuleConfig &config, const QString &key, const QString &value, bool lora)
{
    if (!configKeys(lora).contains(key))
        return unknownKeyError(key, lora);
    if (HexWord *word = wordField(config, key)) {
        const auto parsed = hexWordFromText(value);
        if (!parsed)
            return QStringLiteral("%1: '%2' is not an address; use exactly four hex digits, "
                                  "such as 00a1")
                .arg(key, value);
        *word = *parsed;
        return {};
    }
    const QStringList items = allowedValues(key);
    int index = -1;
    for (int i = 0; i < items.size() && index < 0; ++i) {
        if (items[i].compare(value, Qt::CaseInsensitive) == 0)
            index = i;
    }
    const ListField *field = listField(key);
    if (index < 0 && field) {
        if (const auto raw = unknownIndex(*field, value)) {
            config.*(field->member) = *raw;
            return {};
        }
    }
    if (index < 0)
        return QStringLiteral("%1: '%2' is not allowed; use one of %3")
            .arg(key, value, items.join(QLatin1String(", ")));
    if (key == QLatin1String("whitelist"))
        config.whitelistEnabled = index == 1;
    else
        config.*(listField(key)->member) = index;
    return {};
}

QStringList keysOutsideLists(const ModuleConfig &config, bool lora, const QStringList &except)
{
    QStringList keys;
    for (const auto &[key, value] : configValues(config, lora)) {
        if (!except.contains(key) && !allowedValues(key).isEmpty() &&
            !allowedValues(key).contains(value))
            keys << key;
    }
    return keys;
}

QString configTextFromJson(const QString &key, const QJsonValue &value, bool lora, QString *text)
{
    if (!configKeys(lora).contains(key))
        return unknownKeyError(key, lora);
    if (value.isString()) {
        *text = value.toString();
        return {};
    }
    const QStringList items = allowedValues(key);
    if (items.isEmpty())
        return QStringLiteral("%1: %2 is not an address; write exactly four hex digits as a "
                              "string, such as \"00a1\"")
            .arg(key, jsonText(value));
    bool numbersOnly = true;
    for (const QString &item : items) {
        bool isNumber = false;
        item.toInt(&isNumber);
        numbersOnly = numbersOnly && isNumber;
    }
    const QString choices = items.join(QLatin1String(", "));
    if (!value.isDouble() || !numbersOnly)
        return QStringLiteral("%1: %2 is not allowed; write one of %3 as a string")
            .arg(key, jsonText(value), choices);
    // Every listed number is small: anything beyond that range cannot be one of them, and a
    // conversion would wrap it into one.
    const double number = value.toDouble();
    if (number != std::trunc(number) || std::abs(number) > 1e9 ||
        !items.contains(QString::number(qint64(number))))
        return QStringLiteral("%1: %2 is not allowed; use one of %3")
            .arg(key, jsonText(value), choices);
    *text = QString::number(qint64(number));
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
    for (const KeyBits &bits : keyBits) {
        if (!keys.contains(QLatin1String(bits.key)))
            continue;
        quint8 &byte = record[size_t(bits.byte)];
        if (bits.key == QLatin1String("whitelist")) {
            // The module reads any set bit as on: the byte changes only when the value does.
            if ((byte != 0) != config.whitelistEnabled)
                byte = config.whitelistEnabled ? 1 : 0;
        } else {
            byte = quint8((byte & ~bits.mask) | (values[size_t(bits.byte)] & bits.mask));
        }
    }
    return record;
}

QList<RecordDifference> recordDifferences(const ConfigRecord &written, const ConfigRecord &readBack,
                                          bool lora)
{
    QList<RecordDifference> differences;
    const ConfigValues w = configValues(decodeConfigRecord(written.data()), lora);
    const ConfigValues r = configValues(decodeConfigRecord(readBack.data()), lora);
    ConfigRecord explained{};
    for (qsizetype i = 0; i < w.size(); ++i) {
        if (w[i].second == r[i].second)
            continue;
        differences.append({w[i].first, -1, w[i].second, r[i].second});
        for (const KeyBits &bits : keyBits) {
            if (w[i].first == QLatin1String(bits.key))
                explained[size_t(bits.byte)] |= bits.mask;
        }
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

QString loraBitRate(const ModuleConfig &config)
{
    return loraBitRateText(config.bandwidth, config.spreadFactor).value_or(QString());
}

} // namespace protocol
