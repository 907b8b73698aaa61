#include "protocol/configrecord.h"

namespace protocol {

ConfigRecord encodeConfigRecord(const ModuleConfig &config, bool loraModel)
{
    // List indexes go out in 8 bits; unsigned arithmetic keeps any index, even one no list has,
    // well defined.
    auto byte = [](int index, unsigned offset = 0) { return quint8(unsigned(index) + offset); };
    ConfigRecord r{};
    r[0] = configMarker;
    r[1] = configMarker;
    r[2] = byte(config.channel);
    r[3] = byte(config.rfPower);
    r[4] = byte(config.userMode);
    r[5] = byte(config.deviceType);
    r[6] = config.networkId.low;
    r[7] = config.networkId.high;
    r[8] = config.moduleAddress.low;
    r[9] = config.moduleAddress.high;
    r[10] = config.whitelistEnabled ? 1 : 0;
    r[11] = 0;
    r[12] = byte(config.rfDataRate, 1);
    r[13] = quint8(((unsigned(config.uartBaud) + 1) << 4) | (unsigned(config.uartParity) << 1) |
                   unsigned(config.uartStopBits));
    r[14] = loraModel ? byte(config.bandwidth, 7) : 0;
    r[15] = loraModel ? byte(config.spreadFactor, 7) : 0;
    return r;
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
