#pragma once

#include <QByteArray>
#include <QString>

namespace protocol {

// Application data are typed as groups of two hex digits, each followed by one blank.
// Acceptable when the whole text is such a run, Intermediate when it is the start of one
// (the empty text included), Invalid otherwise, as a whole-text validator on that pattern
// judges it; checked in one pass, so text of any length gets its true answer.
enum class DataTextState { Invalid, Intermediate, Acceptable };
DataTextState dataTextState(const QString &text);

// Splits at blanks, skips empty parts and takes each part's value as hex (low 8 bits);
// a part that is not a hex number gives 0x00.
QByteArray dataTextBytes(const QString &text);

// The number of parts that dataTextBytes converts.
int dataTextByteCount(const QString &text);

// The count as the data label shows it: at least two digits.
inline QString byteCountText(int count)
{
    return QString::asprintf("%02d", count);
}

} // namespace protocol
