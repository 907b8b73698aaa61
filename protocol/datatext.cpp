#include "protocol/datatext.h"

#include "protocol/frame.h"

namespace protocol {

namespace {

int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return 0;
}

// Calls byte(value) for each byte of the text, in order.
template <typename Byte> void forEachByte(const QString &text, Byte byte)
{
    int digits = 0; // in the pair under way
    int value = 0;
    for (const QChar c : text) {
        if (c == u' ') {
            if (digits == 1)
                byte(value);
            digits = 0;
            continue;
        }
        value = digits == 0 ? digitValue(c) : value << 4 | digitValue(c);
        if (++digits == 2) {
            byte(value);
            digits = 0;
        }
    }
    if (digits == 1)
        byte(value);
}

} // namespace

qsizetype dataTextErrorAt(const QString &text)
{
    // A blank may follow only a whole byte, and only one in a row; the text may not begin with
    // one.
    qsizetype digits = 0; // in the current run between blanks
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u' ') {
            if (i == 0 || text[i - 1] == u' ' || digits % 2 != 0)
                return i;
            digits = 0;
        } else if (isHexDigit(c)) {
            ++digits;
        } else {
            return i;
        }
    }
    return -1;
}

DataTextState dataTextState(const QString &text)
{
    if (dataTextErrorAt(text) >= 0)
        return DataTextState::Invalid;
    if (text.isEmpty())
        return DataTextState::Intermediate;
    // The run after the last blank: an odd number of digits waits for one more.
    const qsizetype lastBlank = text.lastIndexOf(u' ');
    return (text.size() - lastBlank - 1) % 2 != 0 ? DataTextState::Intermediate
                                                  : DataTextState::Acceptable;
}

QByteArray dataTextBytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size() / 2 + 1);
    forEachByte(text, [&bytes](int value) { bytes.append(char(value)); });
    return bytes;
}

int dataTextByteCount(const QString &text)
{
    int count = 0;
    forEachByte(text, [&count](int) { ++count; });
    return count;
}

} // namespace protocol
