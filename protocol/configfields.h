#pragma once

#include "protocol/configrecord.h"

#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace protocol {

// One field of the module's configuration. Which member of ModuleConfig it has tells its kind,
// and with it how its text is read and how a refusal is worded:
// - a list (`position`): one of `items`, ignoring case, or unknown(N) for the raw value N;
// - an address (`word`): hexWordFromText's four hex digits, refused in notAnAddress's words;
// - a switch (`flag`): off or on; any set bit of its byte reads as on.
struct ConfigFieldSpec
{
    const char *key;      // as rfcfg and profiles name it
    int byte;             // its record byte; an address also takes the next, low byte first
    quint8 mask;          // its bits in that byte
    int offset;           // the raw value of the list's first item
    QStringList items;    // as the command line spells them, in list order
    QList<qint32> values; // each item's number, when every item is one
    bool lora;            // carried only in the LoRa model's record
    QString factory;      // what a module leaves the factory with, spelled as config set takes it
    int ModuleConfig::*position = nullptr;
    HexWord ModuleConfig::*word = nullptr;
    bool ModuleConfig::*flag = nullptr;
};

// Every field in the order the command line and profiles list them. Bits no field has (byte 11,
// bit 3 of byte 13, and without the LoRa model bytes 14 and 15) are the module's own.
const QList<ConfigFieldSpec> &configFields();
// The field named `key`, or null.
const ConfigFieldSpec *configField(const QString &key);
// Its bits across the record.
ConfigRecord fieldBits(const ConfigFieldSpec &field);
// False only for a list field whose position is no item of its list.
bool holdsItem(const ModuleConfig &config, const ConfigFieldSpec &field);
// What a module leaves the factory with.
ModuleConfig factoryConfig();
// rfcfg's and the profiles' words for a value that is no address, as "KEY: " + these; `shown`
// is the value as the user gave it, a text in quotes.
QString notAnAddress(const QString &shown);

// The configuration as the command line names it: one key per field, each value a text. The
// same keys and texts are read by `config set` and written by `config get`, in this order.
using ConfigValues = QList<QPair<QString, QString>>;

// Every key, the LoRa keys (bandwidth, spreading factor) only for the LoRa model.
QStringList configKeys(bool lora);

// The values a list key takes, in list order; empty for the four-hex-digit keys.
QStringList allowedValues(const QString &key);

ConfigValues configValues(const ModuleConfig &config, bool lora);
// One key's text; a value outside its list is unknown(N), N the raw value.
QString configValue(const ModuleConfig &config, const QString &key);

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

// A key whose value differs between two configurations, as config get spells the values.
struct FieldChange
{
    QString key;
    QString before;
    QString after;
};
QList<FieldChange> configChanges(const ModuleConfig &before, const ModuleConfig &after, bool lora);

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

} // namespace protocol
