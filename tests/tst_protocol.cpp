#include "protocol/configfields.h"
#include "protocol/configrecord.h"
#include "protocol/datatext.h"
#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "protocol/replies.h"
#include "protocol/replyframe.h"
#include "testbytes.h"

#include <QtTest>

using namespace protocol;

namespace {

// The typed reply's values in one line, so that a table row can name them all.
QString valuesOf(const ReplyFrame &r)
{
    QStringList parts;
    if (r.status)
        parts << QString::asprintf("status=%02x", *r.status);
    if (r.target)
        parts << QStringLiteral("target=") + formatHexWord(*r.target);
    if (r.version)
        parts << QString::asprintf("version=%x.%02x date=%02x%02x%02x", r.version->main,
                                   r.version->sub, r.version->year, r.version->month,
                                   r.version->day);
    if (r.record)
        parts << QStringLiteral("record=") +
                     QString::fromLatin1(
                         QByteArray(reinterpret_cast<const char *>(r.record->data()),
                                    configRecordSize)
                             .toHex());
    if (r.config)
        parts << QStringLiteral("address=") + formatHexWord(r.config->moduleAddress);
    if (!r.whitelist.isEmpty()) {
        QStringList entries;
        for (const HexWord entry : r.whitelist)
            entries << formatHexWord(entry);
        parts << QStringLiteral("whitelist=") + entries.join(QLatin1Char(','));
    }
    if (r.relayCount) {
        QStringList relays;
        for (const HexWord relay : r.relays)
            relays << formatHexWord(relay);
        parts << QStringLiteral("relays=%1:").arg(*r.relayCount) + relays.join(QLatin1Char(','));
    }
    return parts.join(QLatin1Char(' '));
}

QByteArray bytes(const quint8 *data, int size)
{
    return QByteArray(reinterpret_cast<const char *>(data), size);
}

ModuleConfig exampleConfig()
{
    ModuleConfig c; // channel 0, 20dBm, hex-command mode, Slave, whitelist off
    c.networkId = parseHexField(QStringLiteral("1234"));
    c.moduleAddress = parseHexField(QStringLiteral("0001"));
    c.rfDataRate = 0;   // 1200
    c.uartBaud = 3;     // 9600
    c.uartParity = 2;   // even
    c.uartStopBits = 0; // one
    c.bandwidth = 1;    // "8"
    c.spreadFactor = 5; // "12"
    return c;
}

} // namespace

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void fixedRequestsCarryTheirChecksum_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("read configuration") << 0x01 << 0x02 << hex("0100020003");
        QTest::newRow("read version") << 0x01 << 0x06 << hex("0100060007");
        QTest::newRow("reset") << 0x01 << 0x07 << hex("0100070006");
        QTest::newRow("read whitelist") << 0x04 << 0x02 << hex("0400020006");
    }
    void fixedRequestsCarryTheirChecksum()
    {
        QFETCH(int, group);
        QFETCH(int, code);
        QFETCH(QByteArray, frame);
        quint8 out[txFrameCapacity];
        const quint8 length = buildCommandFrame(out, quint8(group), quint8(code), nullptr, 0);
        QCOMPARE(bytes(out, length), frame);
        QCOMPARE(commandFrame(quint8(group), quint8(code)), frame);
    }

    void largestPayloadFillsTheBufferExactly()
    {
        std::array<quint8, txFrameCapacity + 1> out;
        out.fill(0xEE);
        QByteArray payload(maxPayloadLength, '\x5a');
        const quint8 length = buildCommandFrame(out.data(), 0x05, 0x01,
                                                reinterpret_cast<const quint8 *>(payload.data()),
                                                quint8(payload.size()));
        QCOMPARE(int(length), txFrameCapacity);
        QCOMPARE(out[3], quint8(maxPayloadLength));
        QCOMPARE(out[txFrameCapacity], quint8(0xEE)); // nothing past the buffer
        QVERIFY(checksumMatches(bytes(out.data(), length)));
    }

    void hexLineShowsEveryByteLowerCase()
    {
        QCOMPARE(hexLine(hex("0100020003")), QStringLiteral("01 00 02 00 03 \n"));
        QCOMPARE(hexLine(hex("ABff00")), QStringLiteral("ab ff 00 \n"));
        QCOMPARE(hexLine(QByteArray()), QStringLiteral("\n"));
    }

    void checksumTestOnChunks()
    {
        QVERIFY(checksumMatches(hex("010081010081")));
        QVERIFY(!checksumMatches(hex("010081010080")));
        QVERIFY(!checksumMatches(QByteArray()));
        QVERIFY(checksumMatches(hex("00"))); // a lone zero passes: its "others" XOR to 0
        QVERIFY(!checksumMatches(hex("07")));
    }

    // parseHexField reads what it can; a command takes an address only when it is complete.
    void parseHexFieldTakesHighThenLow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("low");
        QTest::addColumn<bool>("complete");
        QTest::newRow("four digits") << "1234" << 0x12 << 0x34 << true;
        QTest::newRow("two digits") << "12" << 0x12 << 0x00 << false;
        QTest::newRow("three digits") << "123" << 0x12 << 0x03 << false;
        QTest::newRow("one digit") << "5" << 0x05 << 0x00 << false;
        QTest::newRow("empty") << "" << 0x00 << 0x00 << false;
        QTest::newRow("upper case") << "ABCD" << 0xab << 0xcd << true;
        QTest::newRow("blanks around") << "  abcd " << 0xab << 0xcd << false;
        QTest::newRow("longer text keeps the low 8 bits") << "12345" << 0x12 << 0x45 << false;
        QTest::newRow("not hex") << "zz12" << 0x00 << 0x12 << false;
    }
    void parseHexFieldTakesHighThenLow()
    {
        QFETCH(QString, text);
        QFETCH(int, high);
        QFETCH(int, low);
        QFETCH(bool, complete);
        const HexWord word = parseHexField(text);
        QCOMPARE(int(word.high), high);
        QCOMPARE(int(word.low), low);
        QCOMPARE(hexWordFromText(text).has_value(), complete);
        if (complete)
            QCOMPARE(*hexWordFromText(text), word);
        QCOMPARE(incompleteHexWords({"beef", text}), complete ? QList<int>() : QList<int>{1});
    }

    void configRecordEncodesTheWidgets()
    {
        const ModuleConfig c = exampleConfig();
        const ConfigRecord plain = encodeConfigRecord(c, false).record;
        QCOMPARE(bytes(plain.data(), configRecordSize), hex("A5A50000000034120100000001440000"));
        const ConfigRecord lora = encodeConfigRecord(c, true).record;
        QCOMPARE(bytes(lora.data(), configRecordSize), hex("A5A5000000003412010000000144080C"));

        ModuleConfig other = c;
        other.channel = 31;
        other.rfPower = 7;
        other.userMode = 1;
        other.deviceType = 1;
        other.whitelistEnabled = true;
        other.rfDataRate = 3;
        other.uartBaud = 11;
        other.uartParity = 1;
        other.uartStopBits = 1;
        const EncodedConfig encoded = encodeConfigRecord(other, false);
        QVERIFY(encoded.isValid());
        const ConfigRecord r = encoded.record;
        QCOMPARE(bytes(r.data(), configRecordSize), hex("A5A51F070101341201000100 04C30000"));
        QCOMPARE(r[13], quint8(0xC3));
    }

    void configRecordDecodesTheModulesValues()
    {
        // As the module returns it: markers and reserved byte are not examined.
        const QByteArray record = hex("000005030101 0BA0 3412 07 FF 04 44 09 07");
        const ModuleConfig c = decodeConfigRecord(reinterpret_cast<const quint8 *>(record.data()));
        QCOMPARE(c.channel, 5);
        QCOMPARE(c.rfPower, 3);
        QCOMPARE(c.userMode, 1);
        QCOMPARE(c.deviceType, 1);
        QCOMPARE(formatHexWord(c.networkId), QStringLiteral("a00b"));
        QCOMPARE(formatHexWord(c.moduleAddress), QStringLiteral("1234"));
        QVERIFY(c.whitelistEnabled); // any non-zero value is on
        QCOMPARE(c.rfDataRate, 3);
        QCOMPARE(c.uartBaud, 3); // 0x44: 9600, even parity, one stop bit
        QCOMPARE(c.uartParity, 2);
        QCOMPARE(c.uartStopBits, 0);
        QCOMPARE(c.bandwidth, 2);
        QCOMPARE(c.spreadFactor, 0);

        const QByteArray other = hex("00000000000000000000000000 C3 0000");
        const ModuleConfig d = decodeConfigRecord(reinterpret_cast<const quint8 *>(other.data()));
        QCOMPARE(d.uartBaud, 11); // 0xC3: 230400, odd parity, two stop bits
        QCOMPARE(d.uartParity, 1);
        QCOMPARE(d.uartStopBits, 1);
        QCOMPARE(d.rfDataRate, -1); // zeros land outside the lists
        QCOMPARE(d.bandwidth, -7);
        QCOMPARE(d.spreadFactor, -7);
        QVERIFY(!d.whitelistEnabled);
    }

    void configRecordRoundTrips()
    {
        ModuleConfig c = exampleConfig();
        const ConfigRecord r = encodeConfigRecord(c, true).record;
        const ModuleConfig back = decodeConfigRecord(r.data());
        QCOMPARE(back.networkId, c.networkId);
        QCOMPARE(back.moduleAddress, c.moduleAddress);
        QCOMPARE(back.uartBaud, c.uartBaud);
        QCOMPARE(back.uartParity, c.uartParity);
        QCOMPARE(back.bandwidth, c.bandwidth);
        QCOMPARE(back.spreadFactor, c.spreadFactor);
        QCOMPARE(back.rfDataRate, c.rfDataRate);
    }

    // Every item of every field lands in that field's bits alone and reads back as itself, with
    // every other field as it was; a record for another model leaves each LoRa field's bits zero.
    void everyFieldItemKeepsToItsBits_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("item");
        for (const ConfigFieldSpec &field : configFields()) {
            const QStringList items =
                field.word ? QStringList{"0000", "12ab", "ffff"} : field.items;
            for (const QString &item : items)
                QTest::addRow("%s %s", field.key, qPrintable(item)) << field.key << item;
        }
    }
    void everyFieldItemKeepsToItsBits()
    {
        QFETCH(QString, key);
        QFETCH(QString, item);
        const ModuleConfig factory = factoryConfig();
        ModuleConfig config = factory;
        QCOMPARE(setConfigValue(config, key, item, true), QString());
        const EncodedConfig encoded = encodeConfigRecord(config, true);
        QVERIFY(encoded.isValid());
        const ConfigRecord before = encodeConfigRecord(factory, true).record;
        const ConfigRecord bits = fieldBits(*configField(key));
        for (size_t b = 0; b < before.size(); ++b)
            QCOMPARE((encoded.record[b] ^ before[b]) & ~bits[b], 0);
        // Read back, every field is as written: no item reaches another field's bits.
        const ConfigValues back = configValues(decodeConfigRecord(encoded.record.data()), true);
        QCOMPARE(back, configValues(config, true));
        QVERIFY(back.contains({key, item}));

        const ConfigRecord plain = encodeConfigRecord(config, false).record;
        for (const ConfigFieldSpec &field : configFields()) {
            const ConfigRecord loraBits = field.lora ? fieldBits(field) : ConfigRecord{};
            for (size_t b = 0; b < plain.size(); ++b)
                QCOMPARE(plain[b] & loraBits[b], 0);
        }
    }

    void indexesOutsideTheirListsEncodeInEightBits()
    {
        ModuleConfig c;
        c.channel = -1; // a list without a current item
        c.rfDataRate = -1;
        c.uartBaud = INT_MAX; // never a list index; must still be well defined
        c.uartParity = INT_MIN;
        c.bandwidth = -1;
        c.spreadFactor = INT_MAX;
        const EncodedConfig encoded = encodeConfigRecord(c, true);
        QCOMPARE(encoded.outOfRange, QStringList({"channel", "rf_data_rate", "uart_baud",
                                                  "uart_parity", "bandwidth", "spreading_factor"}));
        const ConfigRecord &r = encoded.record;
        QCOMPARE(r[2], quint8(0xff));
        QCOMPARE(r[12], quint8(0x00));
        QCOMPARE(r[13], quint8(0x00)); // (0x7fffffff + 1) << 4 | 0 | 0, low 8 bits
        QCOMPARE(r[14], quint8(0x06));
        QCOMPARE(r[15], quint8(0x06));
        QCOMPARE(routeSearchPayload(HexWord{}, INT_MAX)[2], quint8(0x00));
    }

    // A value outside its list is reported and stays inside its own bits: the serial byte
    // keeps 9600 (baud nibble 4), even parity and one stop bit except where the value lands.
    void serialByteFieldsAreMaskedAndReported_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<int>("byte13");
        QTest::addColumn<bool>("valid");
        QTest::newRow("all in their lists") << 3 << 2 << 0 << 0x44 << true;
        QTest::newRow("largest of each list") << 11 << 2 << 1 << 0xC5 << true;
        QTest::newRow("parity list blank") << 3 << -1 << 0 << 0x46 << false;
        QTest::newRow("parity bits 3") << 3 << 3 << 0 << 0x46 << false;
        QTest::newRow("stop-bit list blank") << 3 << 2 << -1 << 0x45 << false;
        QTest::newRow("stop bits 2") << 3 << 2 << 2 << 0x44 << false;
        QTest::newRow("baud list blank") << -1 << 2 << 0 << 0x04 << false;
        QTest::newRow("baud beyond its nibble") << 15 << 2 << 0 << 0x04 << false;
    }
    void serialByteFieldsAreMaskedAndReported()
    {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(int, byte13);
        QFETCH(bool, valid);
        ModuleConfig c = exampleConfig();
        c.uartBaud = baud;
        c.uartParity = parity;
        c.uartStopBits = stopBits;
        const EncodedConfig encoded = encodeConfigRecord(c, false);
        QCOMPARE(int(encoded.record[13]), byte13);
        QCOMPARE(encoded.isValid(), valid);
        QCOMPARE(encoded.outOfRange.size(), valid ? 0 : 1);
        // Its neighbours in the record are untouched.
        QCOMPARE(int(encoded.record[12]), 0x01);
        QCOMPARE(int(encoded.record[14]), 0x00);
    }

    void loraBitRateTable()
    {
        QCOMPARE(*loraBitRateText(2, 0), QStringLiteral("21.88kbps"));
        QCOMPARE(*loraBitRateText(0, 5), QStringLiteral("0.293kbps"));
        QCOMPARE(*loraBitRateText(1, 3), QStringLiteral("1.954kbps"));
        QVERIFY(!loraBitRateText(-7, 0));
        QVERIFY(!loraBitRateText(0, 6));
        QVERIFY(!loraBitRateText(3, 0));
    }

    void routeSearchRequests()
    {
        auto p = routeSearchPayload(parseHexField(QStringLiteral("1234")), 6);
        QCOMPARE(commandFrame(0x05, 0x08, QByteArrayView(p.data(), 4)), hex("050008043412070 32b"));
        p = routeSearchPayload(parseHexField(QStringLiteral("ABCD")), 0);
        QCOMPARE(commandFrame(0x05, 0x08, QByteArrayView(p.data(), 4)), hex("05000804cdab01036d"));
        p = routeSearchPayload(parseHexField(QString()), 2);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(p.data()), 4), hex("00000303"));
    }

    void whitelistRequests()
    {
        auto p = whitelistPayload({"", "", "", "", ""});
        QCOMPARE(commandFrame(0x04, 0x01, QByteArrayView(p->data(), 15)),
                 hex("0400010F FFFF00FFFF00FFFF00FFFF00FFFF00 0A"));
        p = whitelistPayload({"abcd", "", "", "", ""});
        QCOMPARE(commandFrame(0x04, 0x01, QByteArrayView(p->data(), 15)),
                 hex("0400010F CDAB00FFFF00FFFF00FFFF00FFFF00 6C"));
        p = whitelistPayload({"", "1234", "", "ffff", "0001"});
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(p->data()), 15),
                 hex("FFFF00 341200 FFFF00 FFFF00 010000"));
        // Anything but empty or four hex digits is refused, never guessed at.
        const QStringList typed = {"12", "1234", "0x", "ffff", "12345"};
        QCOMPARE(invalidWhitelistEntries(typed), QList<int>({0, 2, 4}));
        QVERIFY(!whitelistPayload(typed));
    }

    void dataSendFrames()
    {
        DataSendRequest r;
        r.target = parseHexField(QStringLiteral("1234"));
        r.hopIndex = 6;
        r.routeMode = 1;
        r.declaredLength = 3;
        r.data = hex("010203");
        QCOMPARE(commandFrame(0x05, 0x01, *dataSendPayload(r)),
                 hex("050001093412000701030102032e"));

        r.routeMode = 3;
        r.ackRequested = true;
        r.relays = {parseHexField("0001"), parseHexField("0002")};
        r.declaredLength = 1;
        r.data = hex("aa");
        QCOMPARE(commandFrame(0x05, 0x01, *dataSendPayload(r)),
                 hex("0500010c34120107030201000200 01aa81"));

        r = DataSendRequest{};
        r.target = parseHexField(QStringLiteral("1234"));
        r.hopIndex = 6;
        r.routeMode = 1;
        QCOMPARE(commandFrame(0x05, 0x01, *dataSendPayload(r)), hex("0500010634120007010022"));
    }

    void relaysTravelOnlyInSourceRouting()
    {
        DataSendRequest r;
        r.routeMode = 3; // source routing with no relay still carries the count
        QCOMPARE(*dataSendPayload(r), hex("0000000103 00 00"));
        r.routeMode = 2;
        r.relays = {parseHexField("0001")}; // ignored outside source routing
        QCOMPARE(*dataSendPayload(r), hex("0000000102 00"));
    }

    void dataThatDoNotFitAreRefused()
    {
        QCOMPARE(dataSendCapacity(1, 0), 114);
        QCOMPARE(dataSendCapacity(3, 0), 113);
        QCOMPARE(dataSendCapacity(3, 6), 101);

        DataSendRequest r;
        r.routeMode = 1;
        r.declaredLength = 114;
        r.data = QByteArray(114, '\x11');
        QCOMPARE(dataSendPayload(r)->size(), 120); // exactly the area
        r.declaredLength = 115;
        QVERIFY(!dataSendPayload(r));
        r.declaredLength = 256; // its low 8 bits would pass as 0: the full count is checked
        QVERIFY(!dataSendPayload(r));

        r.routeMode = 3;
        r.relays = QList<HexWord>(6);
        r.declaredLength = 101;
        r.data = QByteArray(101, '\x22');
        QCOMPARE(dataSendPayload(r)->size(), 120);
        r.declaredLength = 102;
        QVERIFY(!dataSendPayload(r));
        r.relays = QList<HexWord>(7);
        r.declaredLength = 0;
        QVERIFY(!dataSendPayload(r));
    }

    void missingDataBytesGoOutAsZero()
    {
        DataSendRequest r;
        r.routeMode = 0;
        r.declaredLength = 3;
        r.data = hex("ab");
        QCOMPARE(dataSendPayload(r)->right(4), hex("03ab0000"));
        r.declaredLength = 1;
        r.data = hex("aabbcc"); // more converted bytes than announced: only the first L go
        QCOMPARE(dataSendPayload(r)->right(2), hex("01aa"));
    }

    void dataTextValidation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        const int ok = int(DataTextState::Acceptable), part = int(DataTextState::Intermediate),
                  bad = int(DataTextState::Invalid);
        QTest::newRow("empty") << "" << part;
        QTest::newRow("one digit") << "1" << part;
        QTest::newRow("byte without blank") << "12" << ok;
        QTest::newRow("byte") << "12 " << ok;
        QTest::newRow("two bytes, last open") << "12 3" << part;
        QTest::newRow("both cases") << "aB Cd " << ok;
        QTest::newRow("unspaced") << "0102ff" << ok;
        QTest::newRow("unspaced, last open") << "0102f" << part;
        QTest::newRow("mixed") << "0102 ff03 " << ok;
        QTest::newRow("blank inside a byte") << "010 2" << bad;
        QTest::newRow("leading blank") << " 12" << bad;
        QTest::newRow("two blanks") << "12  " << bad;
        QTest::newRow("comma") << "12,34" << bad;
        QTest::newRow("tab") << "12\t" << bad;
        QTest::newRow("line break") << "12\n" << bad;
        QTest::newRow("not hex") << "1g" << bad;
        QTest::newRow("not an ASCII digit") << QString::fromUtf8("１2 ") << bad;
        const QString longText = QStringLiteral("ab ").repeated(23334); // 70,002 characters
        QTest::newRow("longer than 65,535 characters") << longText << ok;
        QTest::newRow("long, last group open") << longText + "c" << part;
        QTest::newRow("long, last character wrong") << longText.chopped(1) + "x" << bad;
    }
    void dataTextValidation()
    {
        QFETCH(QString, text);
        QFETCH(int, state);
        QCOMPARE(int(dataTextState(text)), state);
    }

    void dataTextConversionAndCount_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("errorAt");
        QTest::newRow("empty") << "" << QByteArray() << -1;
        QTest::newRow("spaced") << "12 34" << hex("1234") << -1;
        QTest::newRow("spaced, last blank") << "12 34 " << hex("1234") << -1;
        QTest::newRow("lone last digit") << "12 3" << hex("1203") << -1;
        QTest::newRow("unspaced") << "0102ff" << hex("0102ff") << -1;
        QTest::newRow("unspaced, lone last digit") << "0102f" << hex("01020f") << -1;
        QTest::newRow("mixed") << "0102 ff" << hex("0102ff") << -1;
        QTest::newRow("blank inside a byte") << "010 2" << hex("010002") << 3;
        QTest::newRow("not hex") << "hello" << hex("0e0000") << 0;
    }
    void dataTextConversionAndCount()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, errorAt);
        QCOMPARE(dataTextBytes(text), bytes);
        QCOMPARE(dataTextByteCount(text), bytes.size());
        QCOMPARE(dataTextErrorAt(text), errorAt);
    }

    void byteCounts()
    {
        QCOMPARE(byteCountText(0), QStringLiteral("00"));
        QCOMPARE(byteCountText(7), QStringLiteral("07"));
        QCOMPARE(byteCountText(114), QStringLiteral("114"));
    }

    void replyTexts_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        using K = Reply::Kind;
        QTest::newRow("configuration written") << hex("010081010081") << int(K::ConfigWritten)
                                               << QStringLiteral("配置结果：SUCCESS!\n");
        QTest::newRow("configuration refused") << hex("010081010283") << int(K::ConfigWritten)
                                               << QStringLiteral("配置结果：FAILUER!\n");
        QTest::newRow("version") << withChecksum("0100860700100200250314") << int(K::Version)
                                 << QStringLiteral("模块程序版本：V10.02 发布日期：2014-03-25\n");
        QTest::newRow("version, date not BCD")
            << withChecksum("01008607001002002a0f14") << int(K::Version)
            << QStringLiteral("模块程序版本：V10.02 发布日期：2014-0f-2a\n");
        QTest::newRow("reset ok") << withChecksum("0100870100") << int(K::Reset)
                                  << QStringLiteral("模块复位：SUCCESS!\n");
        QTest::newRow("reset failed") << withChecksum("0100870109") << int(K::Reset)
                                      << QStringLiteral("模块复位：FAILUER!\n");
        QTest::newRow("whitelist written") << withChecksum("0400810100") << int(K::WhitelistWritten)
                                           << QStringLiteral("配置结果：SUCCESS!\n");
        QTest::newRow("whitelist write failed")
            << withChecksum("0400810101") << int(K::WhitelistWritten)
            << QStringLiteral("配置结果：FAILUER!\n");
        QTest::newRow("whitelist read")
            << withChecksum("0400820fCDAB00FFFF0034120001000000FF00") << int(K::WhitelistRead)
            << QStringLiteral("读白名单表成功！\n");
        QTest::newRow("data sent") << withChecksum("05008103ab0000") << int(K::DataSent)
                                   << QStringLiteral("向节点0x00ab发送数据SUCCESS!\n");
        QTest::newRow("data not sent")
            << withChecksum("05008103cdab02") << int(K::DataSent)
            << QStringLiteral("向节点0xabcd发送数据FAILUER! 错误码为：0x02\n");
        QTest::newRow("route with relays")
            << withChecksum("05008809341200000201000200") << int(K::RouteFound)
            << QStringLiteral("找节点0x1234的路由SUCCESS! 中继数：02\n中继节点：0x0001 0x0002 \n");
        QTest::newRow("route direct")
            << withChecksum("050088053412000000") << int(K::RouteFound)
            << QStringLiteral("找节点0x1234的路由SUCCESS! 中继数：00\n\n");
        QTest::newRow("route failed")
            << withChecksum("05008803341205") << int(K::RouteFound)
            << QStringLiteral("找节点0x1234的路由FAILUER! 错误码为：0x05\n");
        QTest::newRow("route failure ignores relay bytes")
            << withChecksum("050088093412ff00020100020000") << int(K::RouteFound)
            << QStringLiteral("找节点0x1234的路由FAILUER! 错误码为：0xff\n");
        QTest::newRow("route to abcd, ten relays")
            << withChecksum("05008817cdab00000a 0100020003000400050006000700080009000a00")
            << int(K::RouteFound)
            << QStringLiteral(
                   "找节点0xabcd的路由SUCCESS! 中继数：0a\n中继节点：0x0001 0x0002 0x0003 "
                   "0x0004 0x0005 0x0006 0x0007 0x0008 0x0009 0x000a \n");
    }
    void replyTexts()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(int, kind);
        QFETCH(QString, text);
        const Reply r = decodeReply(chunk);
        QCOMPARE(int(r.kind), kind);
        QCOMPARE(r.text, text);
        QCOMPARE(receiveLogText(chunk, r), QStringLiteral("Recv->") + hexLine(chunk) + text);
    }

    void typedReplyCarriesValuesAndFaults_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("faults");
        QTest::addColumn<QString>("values");
        using K = ReplyKind;
        using F = ReplyFault;
        QByteArray oversize = withChecksum("010081010000");
        oversize.insert(6, QByteArray(rxBufferCapacity - 6, '\0'));
        QTest::newRow("configuration written")
            << hex("010081010081") << int(K::ConfigWritten) << 0 << "status=00";
        QTest::newRow("configuration read")
            << withChecksum("01008210 A5A5 05030101 0BA0 3412 01 00 02 C3 09 0C")
            << int(K::ConfigRead) << 0 << "record=a5a5050301010ba03412010002c3090c address=1234";
        QTest::newRow("version") << withChecksum("0100860700100200250314") << int(K::Version) << 0
                                 << "version=10.02 date=140325";
        QTest::newRow("reset failed")
            << withChecksum("0100870109") << int(K::Reset) << 0 << "status=09";
        QTest::newRow("whitelist written")
            << withChecksum("0400810100") << int(K::WhitelistWritten) << 0 << "status=00";
        QTest::newRow("whitelist read")
            << withChecksum("0400820fCDAB00FFFF0034120001000000FF00") << int(K::WhitelistRead) << 0
            << "whitelist=abcd,ffff,1234,0001,ff00";
        QTest::newRow("data sent")
            << withChecksum("05008103ab0000") << int(K::DataSent) << 0 << "status=00 target=00ab";
        QTest::newRow("route with relays")
            << withChecksum("05008809341200000201000200") << int(K::RouteFound) << 0
            << "status=00 target=1234 relays=2:0001,0002";
        QTest::newRow("route failed: no relays")
            << withChecksum("05008803341205") << int(K::RouteFound) << 0 << "status=05 target=1234";
        QTest::newRow("bad checksum")
            << hex("010081010080") << int(K::ConfigWritten) << int(F::BadChecksum) << "status=00";
        QTest::newRow("no header")
            << hex("0100") << int(K::Unrecognised) << int(F::NoHeader | F::BadChecksum) << "";
        QTest::newRow("unknown group")
            << withChecksum("0200810100") << int(K::Unrecognised) << int(F::UnknownReply) << "";
        QTest::newRow("request code, not reply")
            << withChecksum("0100010100") << int(K::Unrecognised) << int(F::UnknownReply) << "";
        QTest::newRow("reserved byte set") << withChecksum("0101810100") << int(K::ConfigWritten)
                                           << int(F::ReservedByteSet) << "status=00";
        QTest::newRow("configuration result without status")
            << withChecksum("01008100") << int(K::ConfigWritten) << int(F::ShortForKind) << "";
        QTest::newRow("configuration read one byte short")
            << withChecksum("0100820fA5A505030101 0BA03412010002C309") << int(K::ConfigRead)
            << int(F::ShortForKind) << "";
        QTest::newRow("route success without relay count")
            << withChecksum("0500880334 1200") << int(K::RouteFound) << int(F::ShortForKind)
            << "status=00 target=1234";
        QTest::newRow("data result without status")
            << withChecksum("05008102ab00") << int(K::DataSent) << int(F::ShortForKind)
            << "target=00ab";
        QTest::newRow("fewer relays than announced")
            << withChecksum("050088073412000003 0100") << int(K::RouteFound)
            << int(F::MissingRelays) << "status=00 target=1234 relays=3:0001";
        QTest::newRow("date not BCD") << withChecksum("01008607001002002a0f14") << int(K::Version)
                                      << int(F::DateNotBcd) << "version=10.02 date=140f2a";
        QTest::newRow("length byte disagrees")
            << withChecksum("0100810200") << int(K::ConfigWritten) << int(F::LengthMismatch)
            << "status=00";
        QTest::newRow("two frames taken as one")
            << withChecksum("0100870100") + withChecksum("0400810101") << int(K::Reset)
            << int(F::LengthMismatch) << "status=00";
        QTest::newRow("longer than the receive buffer")
            << oversize << int(K::ConfigWritten) << int(F::TooLong | F::LengthMismatch)
            << "status=00";
    }
    void typedReplyCarriesValuesAndFaults()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, kind);
        QFETCH(int, faults);
        QFETCH(QString, values);
        const ReplyFrame r = decodeReplyFrame(frame);
        QCOMPARE(int(r.kind), kind);
        QCOMPARE(replyFaultText(r.faults), replyFaultText(ReplyFaults::fromInt(faults)));
        QCOMPARE(r.isWellFormed(), faults == 0);
        QCOMPARE(valuesOf(r), values);
    }

    void replyAnswersItsRequest_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("answers");
        const QByteArray route = hex("050008043412070 32b");
        QTest::newRow("version") << hex("0100060007") << withChecksum("0100860700100200250314")
                                 << true;
        QTest::newRow("the request's own echo") << hex("0100060007") << hex("0100060007") << false;
        QTest::newRow("another code") << hex("0100060007") << withChecksum("0100870100") << false;
        QTest::newRow("another group") << hex("0400020006") << withChecksum("0100820100") << false;
        QTest::newRow("route, same target") << route << withChecksum("05008803341205") << true;
        QTest::newRow("route, another target") << route << withChecksum("05008803cdab05") << false;
        QTest::newRow("route reply without its target")
            << route << withChecksum("0500880134") << false;
        QTest::newRow("data, same target")
            << hex("0500010634120007010022") << withChecksum("05008103341200") << true;
        QTest::newRow("not a frame") << hex("0100060007") << hex("0100") << false;
    }
    void replyAnswersItsRequest()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, answers);
        QCOMPARE(protocol::answers(request, reply), answers);
    }

    void whitelistReadFillsFiveFields()
    {
        const Reply r = decodeReply(withChecksum("0400820fCDAB00FFFF0034120001000000FF00"));
        QCOMPARE(r.whitelist, QStringList({"abcd", "ffff", "1234", "0001", "ff00"}));
    }

    void configReadCarriesTheRecord()
    {
        const Reply r =
            decodeReply(withChecksum("01008210 A5A5 05030101 0BA0 3412 01 00 02 C3 09 0C"));
        QCOMPARE(int(r.kind), int(Reply::Kind::ConfigRead));
        QCOMPARE(r.text, QStringLiteral("读参数成功！\n"));
        QCOMPARE(r.config.channel, 5);
        QCOMPARE(formatHexWord(r.config.networkId), QStringLiteral("a00b"));
        QCOMPARE(r.config.uartBaud, 11);
        QCOMPARE(r.config.spreadFactor, 5);
    }

    void chunksThatAreNotRepliesShowAsHexOnly_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::newRow("bad checksum") << hex("010081010080");
        QTest::newRow("one byte") << hex("00");
        QTest::newRow("unknown group") << withChecksum("0200810100");
        QTest::newRow("request code, not reply") << withChecksum("0100010100");
        QTest::newRow("configuration result too short") << withChecksum("01008101");
        QTest::newRow("configuration read one byte short")
            << withChecksum("01008210A5A505030101 0BA03412010002C309");
        QTest::newRow("version one byte short") << withChecksum("01008607001002002503");
        QTest::newRow("whitelist read one byte short")
            << withChecksum("0400820fCDAB00FFFF0034120001000000FF");
        QTest::newRow("data result without status") << withChecksum("05008103ab00");
        QTest::newRow("route success without relay count") << withChecksum("0500880934120000");
        QTest::newRow("route failure without status") << withChecksum("0500880334");
    }
    void chunksThatAreNotRepliesShowAsHexOnly()
    {
        QFETCH(QByteArray, chunk);
        const Reply r = decodeReply(chunk);
        QCOMPARE(int(r.kind), int(Reply::Kind::Unrecognised));
        QVERIFY(r.text.isEmpty());
        QCOMPARE(receiveLogText(chunk, r), QStringLiteral("Recv->") + hexLine(chunk));
    }

    void smallestRepliesAreInterpreted()
    {
        QCOMPARE(minimumReplyLength(0x05, 0x88, 0), 10);
        QCOMPARE(minimumReplyLength(0x05, 0x88, 1), 8);
        QCOMPARE(int(decodeReply(withChecksum("0500880934120000")).kind),
                 int(Reply::Kind::Unrecognised));
        QCOMPARE(int(decodeReply(withChecksum("050088093412000000")).kind),
                 int(Reply::Kind::RouteFound));
    }

    void routeShowsOnlyRelaysThatArrived()
    {
        // Three relays announced, one and a half carried: the count as sent, one relay shown.
        const Reply r = decodeReply(withChecksum("050088093412000003010002"));
        QCOMPARE(r.text,
                 QStringLiteral("找节点0x1234的路由SUCCESS! 中继数：03\n中继节点：0x0001 \n"));
    }

    void oversizeChunkIsNeverInterpreted()
    {
        QByteArray chunk = withChecksum("010081010000");
        chunk.insert(6, QByteArray(rxBufferCapacity - 6, '\0')); // XOR unchanged
        QCOMPARE(chunk.size(), rxBufferCapacity + 1);
        QVERIFY(checksumMatches(chunk));
        const Reply r = decodeReply(chunk);
        QCOMPARE(int(r.kind), int(Reply::Kind::Unrecognised));
        const QString log = receiveLogText(chunk, r);
        QCOMPARE(log.size(), 6 + 3 * chunk.size() + 1); // every byte shown, nothing more
        QVERIFY(log.startsWith(QStringLiteral("Recv->01 00 81 01 00 00 00 ")));

        chunk.remove(6, 1); // exactly the buffer: interpreted
        QCOMPARE(int(decodeReply(chunk).kind), int(Reply::Kind::ConfigWritten));
    }

    void twoRepliesInOneChunkInterpretTheFirst()
    {
        const QByteArray chunk = withChecksum("0100870100") + withChecksum("0400810101");
        const Reply r = decodeReply(chunk);
        QCOMPARE(int(r.kind), int(Reply::Kind::Reset));
        QCOMPARE(r.text, QStringLiteral("模块复位：SUCCESS!\n"));
    }
};

QTEST_GUILESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
