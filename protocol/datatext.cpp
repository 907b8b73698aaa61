#include "protocol/datatext.h"

#include <QRegularExpression>
#include <QStringList>

namespace protocol {

DataTextState dataTextState(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("([0-9A-Fa-f]{2} )+")));
    if (text.isEmpty())
        return DataTextState::Intermediate;
    const QRegularExpressionMatch match =
        pattern.match(text, 0, QRegularExpression::PartialPreferCompleteMatch);
    if (match.hasMatch())
        return DataTextState::Acceptable;
    return match.hasPartialMatch() ? DataTextState::Intermediate : DataTextState::Invalid;
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
