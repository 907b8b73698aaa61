#include "protocol/datatext.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

namespace protocol {

QValidator::State dataTextState(const QString &text)
{
    static const QRegularExpressionValidator validator(
        QRegularExpression(QStringLiteral("([0-9A-Fa-f]{2} )+")));
    QString copy = text;
    int pos = 0;
    return validator.validate(copy, pos);
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
