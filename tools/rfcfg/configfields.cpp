#include "configfields.h"

#include <QRegularExpression>

namespace rfcfg {

using protocol::ModuleConfig;

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
         false},
        {"uart_parity", &ModuleConfig::uartParity, {"none", "odd", "even"}, false},
        {"uart_stop_bits", &ModuleConfig::uartStopBits, {"1", "2"}, false},
        {"rf_data_rate", &ModuleConfig::rfDataRate, {"1200", "4800", "9600", "38400"}, false},
        {"bandwidth", &ModuleConfig::bandwidth, {"7", "8", "9"}, true},
        {"spreading_factor", &ModuleConfig::spreadFactor, numbers(7, 12), true},
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

QString itemText(const QStringList &items, int index)
{
    // A module value outside the list shows as its position, so nothing is hidden.
    return index >= 0 && index < items.size() ? items[index]
                                              : QStringLiteral("unknown(%1)").arg(index);
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
            text = itemText(f->items, config.*(f->member));
        else if (key == QLatin1String("whitelist"))
            text = onOff[config.whitelistEnabled ? 1 : 0];
        else
            text = protocol::formatHexWord(*wordField(config, key));
        values.append({key, text});
    }
    return values;
}

QString setConfigValue(ModuleConfig &config, const QString &key, const QString &value, bool lora)
{
    if (!configKeys(lora).contains(key)) {
        const QString hint = listField(key) && listField(key)->lora
                                 ? QStringLiteral(" (a LoRa key: add --lora)")
                                 : QString();
        return QStringLiteral("unknown key '%1'%2; keys: %3")
            .arg(key, hint, configKeys(lora).join(QLatin1String(", ")));
    }
    if (protocol::HexWord *word = wordField(config, key)) {
        static const QRegularExpression fourHexDigits(QStringLiteral("^[0-9A-Fa-f]{4}$"));
        if (!fourHexDigits.match(value).hasMatch())
            return QStringLiteral("%1: '%2' is not an address; use exactly four hex digits, "
                                  "such as 00a1")
                .arg(key, value);
        *word = protocol::parseHexField(value);
        return {};
    }
    const QStringList items = allowedValues(key);
    int index = -1;
    for (int i = 0; i < items.size() && index < 0; ++i) {
        if (items[i].compare(value, Qt::CaseInsensitive) == 0)
            index = i;
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

QString loraBitRate(const ModuleConfig &config)
{
    return protocol::loraBitRateText(config.bandwidth, config.spreadFactor).value_or(QString());
}

} // namespace rfcfg
