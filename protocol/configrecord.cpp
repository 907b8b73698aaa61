#include "protocol/configrecord.h"

namespace protocol {

namespace {

// Positions in each list of the parameter box; the lists are part of the protocol.
int listSize(ConfigField field)
{
    switch (field) {
    case ConfigField::Channel:
        return 32;
    case ConfigField::RfPower:
        return 8;
    case ConfigField::UserMode:
    case ConfigField::DeviceType:
    case ConfigField::UartStopBits:
        return 2;
    case ConfigField::RfDataRate:
        return 4;
    case ConfigField::UartBaud:
        return 12;
    case ConfigField::UartParity:
    case ConfigField::Bandwidth:
        return 3;
    case ConfigField::SpreadFactor:
        return 6;
    }
    return 0;
}

} // namespace

EncodedConfig encodeConfigRecord(const ModuleConfig &config, bool loraModel)
{
    EncodedConfig encoded;
    // Unsigned arithmetic keeps any index, even one no list has, well defined; the mask keeps
    // it inside its own bits.
    auto field = [&](ConfigField which, int index, unsigned offset, unsigned mask) {
        if (index < 0 || index >= listSize(which))
            encoded.outOfRange << which;
        return (unsigned(index) + offset) & mask;
    };
    ConfigRecord &r = encoded.record;
    r[0] = configMarker;
    r[1] = configMarker;
    r[2] = quint8(field(ConfigField::Channel, config.channel, 0, 0xff));
    r[3] = quint8(field(ConfigField::RfPower, config.rfPower, 0, 0xff));
    r[4] = quint8(field(ConfigField::UserMode, config.userMode, 0, 0xff));
    r[5] = quint8(field(ConfigField::DeviceType, config.deviceType, 0, 0xff));
    r[6] = config.networkId.low;
    r[7] = config.networkId.high;
    r[8] = config.moduleAddress.low;
    r[9] = config.moduleAddress.high;
    r[10] = config.whitelistEnabled ? 1 : 0;
    r[11] = 0;
    r[12] = quint8(field(ConfigField::RfDataRate, config.rfDataRate, 1, 0xff));
    r[13] = quint8(field(ConfigField::UartBaud, config.uartBaud, 1, 0x0f) << 4 |
                   field(ConfigField::UartParity, config.uartParity, 0, 0x03) << 1 |
                   field(ConfigField::UartStopBits, config.uartStopBits, 0, 0x01));
    if (loraModel) {
        r[14] = quint8(field(ConfigField::Bandwidth, config.bandwidth, 7, 0xff));
        r[15] = quint8(field(ConfigField::SpreadFactor, config.spreadFactor, 7, 0xff));
    }
    return encoded;
}

ModuleConfig decodeConfigRecord(const quint8 *r)
{
    ModuleConfig c;
    c.channel = r[2];
    c.rfPower = r[3];
    c.userMode = r[4];
    c.deviceType = r[5];
    c.networkId = HexWord{r[7], r[6]};
    c.moduleAddress = HexWord{r[9], r[8]};
    c.whitelistEnabled = r[10] != 0;
    c.rfDataRate = r[12] - 1;
    c.uartBaud = (r[13] >> 4) - 1;
    c.uartParity = (r[13] >> 1) & 3;
    c.uartStopBits = r[13] & 1;
    c.bandwidth = r[14] - 7;
    c.spreadFactor = r[15] - 7;
    return c;
}

std::optional<QString> loraBitRateText(int bandwidthIndex, int spreadFactorIndex)
{
    // Raw LoRa bit rate SF * BW / 2^SF * 4/5 for 125, 250 and 500 kHz, as the module's
    // documentation rounds it.
    static const char *const table[3][6] = {
        {"5.47kbps", "3.125kbps", "1.758kbps", "0.977kbps", "0.537kbps", "0.293kbps"},
        {"10.94kbps", "6.25kbps", "3.516kbps", "1.954kbps", "1.074kbps", "0.586kbps"},
        {"21.88kbps", "12.5kbps", "7.032kbps", "3.908kbps", "2.148kbps", "1.172kbps"},
    };
    if (bandwidthIndex < 0 || bandwidthIndex > 2 || spreadFactorIndex < 0 || spreadFactorIndex > 5)
        return std::nullopt;
    return QString::fromLatin1(table[bandwidthIndex][spreadFactorIndex]);
}

} // namespace protocol
