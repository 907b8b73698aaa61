#pragma once

#include <QByteArray>
#include <QString>

namespace protocol {

// Application data are typed as hex bytes, two digits each, written together ("0102ff") or
// with single blanks between bytes ("01 02 ff", a blank after the last one allowed). Acceptable
// when the whole text is such a run, Intermediate when it is the empty text or the start of
// one that waits for the second digit of its last byte ("01 0", "0102f"), Invalid otherwise;
// checked in one pass, so text of any length gets its true answer.
enum class DataTextState { Invalid, Intermediate, Acceptable };
DataTextState dataTextState(const QString &text);

// Where an Invalid text first goes wrong (a character index); -1 for any other text.
qsizetype dataTextErrorAt(const QString &text);

// The bytes of the text: each pair of hex digits in a run between blanks is one byte, and a
// lone last digit of a run is one byte of its own ("12 3" gives 12 03). Characters that are no
// hex digit count as the digit 0, so that every text converts.
QByteArray dataTextBytes(const QString &text);

// The number of bytes that dataTextBytes converts.
int dataTextByteCount(const QString &text);

// The count as the data label shows it: at least two digits.
inline QString byteCountText(int count)
{
    return QString::asprintf("%02d", count);
}

} // namespace protocol
