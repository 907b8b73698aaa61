#include "protocol/configrecord.h"

#include "protocol/configfields.h"

#include <QtAlgorithms>

#include <algorithm>

namespace protocol {

EncodedConfig encodeConfigRecord(const ModuleConfig &config, bool loraModel)
{
    EncodedConfig encoded;
    ConfigRecord &r = encoded.record;
    r[0] = r[1] = configMarker;
    for (const ConfigFieldSpec &field : configFields()) {
        if (field.lora && !loraModel)
            continue;
        quint8 &byte = r[size_t(field.byte)];
        if (field.word) {
            byte = (config.*field.word).low;
            r[size_t(field.byte) + 1] = (config.*field.word).high;
        } else if (field.flag) {
            byte = config.*field.flag ? 1 : 0;
        } else {
            if (!holdsItem(config, field))
                encoded.outOfRange << field.key;
            // Unsigned arithmetic keeps any position, even one no list has, well defined; the
            // mask keeps it inside its own bits.
            const unsigned raw = unsigned(config.*field.position) + unsigned(field.offset);
            byte |= quint8(raw << qCountTrailingZeroBits(field.mask) & field.mask);
        }
    }
    std::stable_sort(encoded.outOfRange.begin(), encoded.outOfRange.end(),
                     [](const QString &a, const QString &b) {
                         return configField(a)->byte < configField(b)->byte;
                     });
    return encoded;
}

ModuleConfig decodeConfigRecord(const quint8 *r)
{
    ModuleConfig c;
    for (const ConfigFieldSpec &field : configFields()) {
        const quint8 byte = r[field.byte];
        if (field.word)
            c.*field.word = HexWord{r[field.byte + 1], byte};
        else if (field.flag)
            c.*field.flag = byte != 0;
        else
            c.*field.position =
                int((byte & field.mask) >> qCountTrailingZeroBits(field.mask)) - field.offset;
    }
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
