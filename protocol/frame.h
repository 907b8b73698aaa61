#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace protocol {

// Command frame: group, reserved 0x00, code, payload length N, N payload bytes, XOR checksum.
constexpr int frameOverhead = 5;
constexpr int txFrameCapacity = 160;
constexpr int maxPayloadLength = txFrameCapacity - frameOverhead;
// The largest chunk the receive tick interprets; longer chunks are shown as hex only.
constexpr int rxBufferCapacity = 152;

// Reply codes carry the request code with bit 7 set.
constexpr quint8 replyBit = 0x80;

namespace group {
constexpr quint8 module = 0x01;
constexpr quint8 whitelist = 0x04;
constexpr quint8 network = 0x05;
} // namespace group

namespace code {
constexpr quint8 writeConfig = 0x01;
constexpr quint8 readConfig = 0x02;
constexpr quint8 readVersion = 0x06;
constexpr quint8 resetModule = 0x07;
constexpr quint8 writeWhitelist = 0x01;
constexpr quint8 readWhitelist = 0x02;
constexpr quint8 sendData = 0x01;
constexpr quint8 routeSearch = 0x08;
} // namespace code

// The raw bytes that ask the module to enter configuration mode (no header, no checksum).
inline QByteArray enterConfigModeBytes()
{
    return QByteArray("---", 3);
}

// 0-9, a-f, A-F only (no other script's digits).
bool isHexDigit(QChar c);

quint8 xorOf(const quint8 *bytes, int length);

// Writes the frame to `out`, which must hold frameOverhead + length bytes; returns its length.
// With a length of 0 the payload may be null.
quint8 buildCommandFrame(quint8 *out, quint8 group, quint8 code, const quint8 *payload,
                         quint8 length);

// Convenience for callers that do not keep a buffer of their own.
QByteArray commandFrame(quint8 group, quint8 code, QByteArrayView payload = {});

// "%02x " for every byte, then a line break.
QString hexLine(QByteArrayView bytes);
// The same text appended to a string that already holds its prefix.
void appendHexLine(QString &text, QByteArrayView bytes);

// True when the last byte is the XOR of all bytes before it (a single byte must be 0x00 to pass).
bool checksumMatches(QByteArrayView chunk);

// A 16-bit address as typed: the high byte from the first two digits, the low byte from the rest.
struct HexWord
{
    quint8 high = 0;
    quint8 low = 0;
    friend bool operator==(HexWord a, HexWord b) { return a.high == b.high && a.low == b.low; }
};

HexWord parseHexField(const QString &text);

// The one rule for an address: exactly four hex digits, also with 0x in front as the window logs
// addresses; nothing otherwise, so a command never sends an address nobody finished typing.
std::optional<HexWord> hexWordFromText(const QString &text);

// Positions of the texts that do not hold exactly four hex digits, in order.
QList<int> incompleteHexWords(const QStringList &texts);

// Four lower-case hex digits, high byte first.
QString formatHexWord(HexWord word);

} // namespace protocol
