#pragma once

#include "protocol/configrecord.h"

#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace protocol {

// The configuration as the command line names it: one key per field, each value a text. The
// same keys and texts are read by `config set` and written by `config get`, in this order.
using ConfigValues = QList<QPair<QString, QString>>;

// Every key, the LoRa keys (bandwidth, spreading factor) only for the LoRa model.
QStringList configKeys(bool lora);

// The values a list key takes, in list order; empty for the four-hex-digit keys.
QStringList allowedValues(const QString &key);

ConfigValues configValues(const ModuleConfig &config, bool lora);

// Sets one field from its text. A list value is matched by its text, ignoring case; an
// address or network ID must be exactly four hex digits; unknown(N) sets the raw value N. On
// failure returns a one-line error that names the key and the values allowed, and leaves `config`
// as it was.
QString setConfigValue(ModuleConfig &config, const QString &key, const QString &value, bool lora);

// The keys whose value the module holds is no item of their list (config get shows
// unknown(N)), leaving out `except`: writing such a value back would send bits nobody chose.
QStringList keysOutsideLists(const ModuleConfig &config, bool lora, const QStringList &except);

// The text of one profile value (a config get --json document) for `key`, taken exactly: a
// string, or for a key whose values are all whole numbers an integral JSON number that is one of
// them. Any other type, a fraction or a number outside the list is refused with an error that
// names the key; the text itself is checked by setConfigValue.
QString configTextFromJson(const QString &key, const QJsonValue &value, bool lora, QString *text);

// `read` with only the bits of `keys` taken from `config`; every other bit stays as read. The
// markers are always set, as the module takes no record without them.
ConfigRecord withConfigKeys(const ConfigRecord &read, const ModuleConfig &config,
                            const QStringList &keys);

// One way a record read back differs from the one written: a key whose value differs, or a byte
// whose differing bits belong to no such key (then `key` is empty).
struct RecordDifference
{
    QString key;
    int byte = -1;
    QString written;
    QString readBack;
};
QList<RecordDifference> recordDifferences(const ConfigRecord &written, const ConfigRecord &readBack,
                                          bool lora);

// The LoRa bit rate for the current bandwidth and spreading factor, or nothing.
QString loraBitRate(const ModuleConfig &config);

} // namespace protocol
