#include "protocol/frame.h"

#include <QStringList>

#include <cstring>

namespace protocol {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

quint8 xorOf(const quint8 *bytes, int length)
{
    quint8 x = 0;
    for (int i = 0; i < length; ++i)
        x ^= bytes[i];
    return x;
}

quint8 buildCommandFrame(quint8 *out, quint8 group, quint8 code, const quint8 *payload,
                         quint8 length)
{
    out[0] = group;
    out[1] = 0x00;
    out[2] = code;
    out[3] = length;
    if (length > 0)
        std::memcpy(out + 4, payload, length);
    out[4 + length] = xorOf(out, 4 + length);
    return quint8(frameOverhead + length);
}

QByteArray commandFrame(quint8 group, quint8 code, QByteArrayView payload)
{
    const auto length = quint8(qMin<qsizetype>(payload.size(), maxPayloadLength));
    QByteArray frame(frameOverhead + length, Qt::Uninitialized);
    buildCommandFrame(reinterpret_cast<quint8 *>(frame.data()), group, code,
                      reinterpret_cast<const quint8 *>(payload.data()), length);
    return frame;
}

QString hexLine(QByteArrayView bytes)
{
    QString text;
    appendHexLine(text, bytes);
    return text;
}

void appendHexLine(QString &text, QByteArrayView bytes)
{
    static const char digits[] = "0123456789abcdef";
    // Written in place: a chunk can be half a megabyte when a module streams.
    const qsizetype at = text.size();
    text.resize(at + bytes.size() * 3 + 1);
    QChar *out = text.data() + at;
    for (char c : bytes) {
        const auto b = quint8(c);
        *out++ = QLatin1Char(digits[b >> 4]);
        *out++ = QLatin1Char(digits[b & 0x0f]);
        *out++ = QLatin1Char(' ');
    }
    *out = QLatin1Char('\n');
}

bool checksumMatches(QByteArrayView chunk)
{
    if (chunk.isEmpty())
        return false;
    const auto *bytes = reinterpret_cast<const quint8 *>(chunk.data());
    return xorOf(bytes, int(chunk.size() - 1)) == bytes[chunk.size() - 1];
}

HexWord parseHexField(const QString &text)
{
    // The first two characters form one piece and the rest another; the high byte comes first.
    QString padded = text.trimmed();
    while (padded.size() < 2)
        padded += QLatin1Char(' ');
    padded.insert(2, QLatin1Char(','));

    quint8 bytes[2] = {0, 0};
    int stored = 0;
    const QStringList pieces = padded.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString &piece : pieces) {
        if (piece.isEmpty())
            continue;
        if (stored == 2)
            break;
        bool ok = false;
        const qulonglong value = piece.trimmed().toULongLong(&ok, 16);
        bytes[stored++] = ok ? quint8(value & 0xff) : 0;
    }
    return HexWord{bytes[0], bytes[1]};
}

std::optional<HexWord> hexWordFromText(const QString &text)
{
    const bool logged =
        text.size() == 6 && text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QStringView digits = QStringView(text).mid(logged ? 2 : 0);
    if (digits.size() != 4)
        return std::nullopt;
    for (const QChar c : digits) {
        if (!isHexDigit(c))
            return std::nullopt;
    }
    const uint value = digits.toUInt(nullptr, 16);
    return HexWord{quint8(value >> 8), quint8(value & 0xff)};
}

QList<int> incompleteHexWords(const QStringList &texts)
{
    QList<int> positions;
    for (int i = 0; i < texts.size(); ++i) {
        if (!hexWordFromText(texts[i]))
            positions << i;
    }
    return positions;
}

QString formatHexWord(HexWord word)
{
    return QString::asprintf("%02x%02x", word.high, word.low);
}

} // namespace protocol
