#pragma once

#include "protocol/configfields.h"

#include <QByteArray>
#include <QString>

namespace protocol {

// A configuration profile: one JSON file that the window exports and imports and rfcfg reads
// (config set --from, provision --from). Version 1:
//
//   {"format": 1, "lora": BOOL, "config": {KEY: VALUE, ...}}
//
// KEY and VALUE are those of config get (values are strings; a key of whole numbers also takes
// a JSON number of its list; unknown(N) is the raw field value N). Keys left out are left as the
// module holds them. What config get --json prints is a profile: its "command" and notes about
// unsolicited frames are ignored, as is the derived lora_bit_rate; a document without "format"
// is read as version 1, and without "config" its keys may stand at the top.
constexpr int profileFormat = 1;
// A profile is a few hundred bytes; anything larger is not one.
constexpr qint64 maxProfileBytes = 1024 * 1024;

struct Profile
{
    bool lora = false;
    ConfigValues values; // in config get's key order, each value as config get spells it
    QString name;        // the file's base name
    QString sha256;      // of the file's bytes, hex
};

// Reads a regular file of at most maxProfileBytes; devices, pipes and directories are refused
// before anything is read, as they may never end. The error names the file.
QString readProfileFile(const QString &path, QByteArray *contents);

// The first key that stands twice in one object of `json`, as its path from the top
// (config.channel, unsolicited[1].hex), keys compared as JSON reads them (\u0061 is a); empty
// when there is none. `json` must be JSON that QJsonDocument accepts, which keeps only the last
// of two equal keys without a word.
QString duplicateJsonKey(const QByteArray &json);

// Checks the whole document: a key given twice, any unknown key, value not allowed or value of the
// wrong type refuses it, naming the key; `profile` is only filled when everything is right.
// `loraModel` takes the LoRa keys also when the document does not say "lora": true.
QString parseProfile(const QByteArray &json, Profile *profile, bool loraModel = false);

// Both of the above, and the name and checksum; errors start with the file's name.
QString loadProfile(const QString &path, Profile *profile, bool loraModel = false);

// The file the window exports: every key of `values`, indented, keys sorted, so the same values
// always give the same bytes.
QByteArray profileJson(const ConfigValues &values, bool lora);

} // namespace protocol
