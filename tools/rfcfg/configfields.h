#pragma once

#include "protocol/configrecord.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace rfcfg {

// The configuration as the command line names it: one key per field, each value a text. The
// same keys and texts are read by `config set` and written by `config get`, in this order.
using ConfigValues = QList<QPair<QString, QString>>;

// Every key, the LoRa keys (bandwidth, spreading factor) only for the LoRa model.
QStringList configKeys(bool lora);

// The values a list key takes, in list order; empty for the four-hex-digit keys.
QStringList allowedValues(const QString &key);

ConfigValues configValues(const protocol::ModuleConfig &config, bool lora);

// Sets one field from its text. A list value is matched by its text, ignoring case; an
// address or network ID must be exactly four hex digits. On failure returns a one-line
// error that names the key and the values allowed, and leaves `config` as it was.
QString setConfigValue(protocol::ModuleConfig &config, const QString &key, const QString &value,
                       bool lora);

// The LoRa bit rate for the current bandwidth and spreading factor, or nothing.
QString loraBitRate(const protocol::ModuleConfig &config);

} // namespace rfcfg
