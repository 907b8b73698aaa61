#pragma once

#include "protocol/frame.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace protocol {

constexpr int configRecordSize = 16;
constexpr quint8 configMarker = 0xA5;
using ConfigRecord = std::array<quint8, configRecordSize>;

// The module's radio and serial parameters as the front ends show them. Most fields
// are list positions: the record carries the index of each fixed list, not its value.
// configFields() tells each one's key, items and bits.
struct ModuleConfig
{
    int channel = 0;       // the channel number itself
    int rfPower = 0;       // power step (0 = 20dBm ... 7 = 5dBm)
    int userMode = 0;      // interface mode's position in its list
    int deviceType = 0;    // device type's position in its list
    HexWord networkId;     // network ID
    HexWord moduleAddress; // the module's own address
    bool whitelistEnabled = false;
    int rfDataRate = 0;   // position in the RF data-rate list
    int uartBaud = 0;     // position in the module's own rate list
    int uartParity = 0;   // position in the module's parity list
    int uartStopBits = 0; // position in the module's stop-bit list
    int bandwidth = 0;    // position in the LoRa bandwidth list
    int spreadFactor = 0; // position in the spreading-factor list
};

struct EncodedConfig
{
    ConfigRecord record{};
    // Keys of the fields whose value is no position of their list, in record order; the record
    // must not be sent then.
    QStringList outOfRange;
    bool isValid() const { return outOfRange.isEmpty(); }
};

// The write command's payload, field by field as configFields() lays them out. Bandwidth and
// spreading factor are sent only for the LoRa model; otherwise both bytes are zero and not
// checked. Each value is masked to the bits of its own field, so no value ever reaches a
// neighbour's bits; values outside their lists are listed.
EncodedConfig encodeConfigRecord(const ModuleConfig &config, bool loraModel);

// Decodes record bytes as the module returns them. Indexes are not range-checked: a value
// outside its list comes back as an index outside the list.
ModuleConfig decodeConfigRecord(const quint8 *record);

// Bit rate text for the LoRa model, or nothing when an index is outside the table.
std::optional<QString> loraBitRateText(int bandwidthIndex, int spreadFactorIndex);

} // namespace protocol
