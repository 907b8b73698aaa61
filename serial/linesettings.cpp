#include "serial/linesettings.h"

namespace serial {

QStringList baudRateItems()
{
    // Every rate of the module's own list can be opened; the port's first eleven items keep
    // their order and the module's other rates join among them by rate.
    return {QStringLiteral("300"),   QStringLiteral("600"),    QStringLiteral("1200"),
            QStringLiteral("2400"),  QStringLiteral("4800"),   QStringLiteral("9600"),
            QStringLiteral("14400"), QStringLiteral("19200"),  QStringLiteral("28800"),
            QStringLiteral("38400"), QStringLiteral("56000"),  QStringLiteral("57600"),
            QStringLiteral("76800"), QStringLiteral("115200"), QStringLiteral("230400")};
}

QStringList parityItems()
{
    return {QStringLiteral("NONE"), QStringLiteral("ODD"), QStringLiteral("EVEN")};
}

QStringList stopBitsItems()
{
    return {QStringLiteral("1"), QStringLiteral("2")};
}

std::optional<qint32> baudRateFromText(const QString &text)
{
    bool ok = false;
    const int rate = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    for (const QString &item : baudRateItems()) {
        if (item.toInt() == rate)
            return rate;
    }
    return std::nullopt;
}

std::optional<QSerialPort::Parity> parityFromText(const QString &text)
{
    if (text == QLatin1String("NONE"))
        return QSerialPort::NoParity;
    if (text == QLatin1String("ODD"))
        return QSerialPort::OddParity;
    if (text == QLatin1String("EVEN"))
        return QSerialPort::EvenParity;
    return std::nullopt;
}

std::optional<QSerialPort::StopBits> stopBitsFromText(const QString &text)
{
    if (text == QLatin1String("1"))
        return QSerialPort::OneStop;
    if (text == QLatin1String("2"))
        return QSerialPort::TwoStop;
    return std::nullopt;
}

bool isDeviceLost(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
}

int lineTimeMs(qint64 bytes, qint32 baudRate, QSerialPort::Parity parity,
               QSerialPort::StopBits stopBits)
{
    const qint64 bitsPerCharacter = 1 + 8 + (parity == QSerialPort::NoParity ? 0 : 1) +
                                    (stopBits == QSerialPort::TwoStop ? 2 : 1);
    const qint64 rate = baudRate > 0 ? baudRate : 300;
    return int((bytes * bitsPerCharacter * 1000 + rate - 1) / rate);
}

} // namespace serial
