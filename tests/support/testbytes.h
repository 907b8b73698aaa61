#pragma once

#include <QByteArray>

// Bytes written as hex text; blanks and other non-hex characters are skipped.
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The same with the XOR checksum of all its bytes appended, as a frame carries it.
inline QByteArray withChecksum(const char *text)
{
    QByteArray frame = hex(text);
    char x = 0;
    for (char c : frame)
        x ^= c;
    return frame + x;
}
