#include "protocol/datatext.h"

#include "protocol/frame.h"

#include <QStringList>

namespace protocol {

DataTextState dataTextState(const QString &text)
{
    // One pass over the text, whatever its length: a hex digit at positions 0 and 1 of every
    // group of three characters, a single blank at position 2.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool fits = i % 3 == 2 ? text[i] == u' ' : isHexDigit(text[i]);
        if (!fits)
            return DataTextState::Invalid;
    }
    return !text.isEmpty() && text.size() % 3 == 0 ? DataTextState::Acceptable
                                                   : DataTextState::Intermediate;
}

static QStringList dataTextParts(const QString &text)
{
    QString normalized = text.trimmed();
    normalized.replace(QLatin1Char(' '), QLatin1Char(','));
    return normalized.split(QLatin1Char(','), Qt::SkipEmptyParts);
}

QByteArray dataTextBytes(const QString &text)
{
    const QStringList parts = dataTextParts(text);
    QByteArray bytes;
    bytes.reserve(parts.size());
    for (const QString &part : parts) {
        bool ok = false;
        const qulonglong value = part.trimmed().toULongLong(&ok, 16);
        bytes.append(ok ? char(value & 0xff) : '\0');
    }
    return bytes;
}

int dataTextByteCount(const QString &text)
{
    return int(dataTextParts(text).size());
}

} // namespace protocol
