// Arbitrary widget inputs through the conversions and payload builders: address text, data text,
// list indexes inside and outside their lists, relay lists of any length.
#include "protocol/configrecord.h"
#include "protocol/datatext.h"
#include "protocol/frame.h"
#include "protocol/payloads.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

QString text(FuzzedDataProvider &in)
{
    const std::string bytes = in.ConsumeRandomLengthString(300);
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace protocol;
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: { // address fields and whitelist
        QStringList fields;
        for (int n = 0; n < 5; ++n)
            fields << text(in);
        parseHexField(fields[0]);
        check(incompleteHexWords(fields).size() <= fields.size());
        const auto payload = whitelistPayload(fields);
        // Refused exactly when some field is neither empty nor four hex digits.
        check(payload.has_value() == invalidWhitelistEntries(fields).isEmpty());
        if (payload)
            check(commandFrame(0x04, 0x01,
                               QByteArrayView(payload->data(), qsizetype(payload->size())))
                      .size() == 20);
        break;
    }
    case 1: { // data text
        const QString t = text(in);
        const auto word = hexWordFromText(t);
        if (word)
            check(parseHexField(t.right(4)) == *word); // the digits, without a 0x in front
        const QByteArray bytes = dataTextBytes(t);
        check(bytes.size() == dataTextByteCount(t));
        // An acceptable text is its bytes' digits and the blanks between them.
        if (dataTextState(t) == DataTextState::Acceptable)
            check(bytes.size() * 2 + t.count(QLatin1Char(' ')) == t.size());
        check((dataTextState(t) == DataTextState::Invalid) == (dataTextErrorAt(t) >= 0));
        break;
    }
    case 2: { // data send with any indexes, counts and relay lists
        DataSendRequest r;
        r.target = parseHexField(text(in));
        r.ackRequested = in.ConsumeBool();
        r.hopIndex = in.ConsumeIntegral<int>();
        r.routeMode = in.ConsumeIntegral<int>();
        const int relayCount = in.ConsumeIntegralInRange<int>(0, 10);
        for (int k = 0; k < relayCount; ++k)
            r.relays << parseHexField(text(in));
        r.declaredLength = in.ConsumeIntegral<int>();
        r.data = dataTextBytes(text(in));
        const auto payload = dataSendPayload(r);
        if (payload) {
            check(payload->size() <= dataSendArea);
            const QByteArray frame = commandFrame(0x05, 0x01, *payload);
            check(checksumMatches(frame));
            check(frame.size() == payload->size() + frameOverhead);
        }
        break;
    }
    case 3: { // route search
        const auto payload = routeSearchPayload(parseHexField(text(in)), in.ConsumeIntegral<int>());
        check(payload[3] == 0x03);
        break;
    }
    case 4: { // configuration from any list indexes, and back
        ModuleConfig c;
        for (int *field :
             {&c.channel, &c.rfPower, &c.userMode, &c.deviceType, &c.rfDataRate, &c.uartBaud,
              &c.uartParity, &c.uartStopBits, &c.bandwidth, &c.spreadFactor})
            *field = in.ConsumeIntegral<int>();
        c.networkId = parseHexField(text(in));
        const bool lora = in.ConsumeBool();
        const EncodedConfig encoded = encodeConfigRecord(c, lora);
        const ModuleConfig back = decodeConfigRecord(encoded.record.data());
        check(back.networkId == c.networkId);
        // Every field keeps to its own bits: values in their lists come back as they went.
        if (encoded.isValid()) {
            check(back.uartBaud == c.uartBaud && back.uartParity == c.uartParity &&
                  back.uartStopBits == c.uartStopBits && back.channel == c.channel);
            check(!lora || (back.bandwidth == c.bandwidth && back.spreadFactor == c.spreadFactor));
        }
        loraBitRateText(back.bandwidth, back.spreadFactor);
        loraBitRateText(c.bandwidth, c.spreadFactor);
        break;
    }
    }
    return 0;
}
