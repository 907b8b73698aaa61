#pragma once

#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <optional>

namespace serial {

// Items of the three line-setting lists, in list order, and the item current at start-up.
QStringList baudRateItems();
constexpr int defaultBaudRateIndex = 5; // "9600"
QStringList parityItems();
QStringList stopBitsItems();

// Each list text maps to one setting; any other text leaves the setting as it is.
std::optional<qint32> baudRateFromText(const QString &text);
std::optional<QSerialPort::Parity> parityFromText(const QString &text);
std::optional<QSerialPort::StopBits> stopBitsFromText(const QString &text);

// The command buttons' port state is decided by these errors: the device is gone or can no
// longer be read. A refused line setting is not a lost device.
bool isDeviceLost(QSerialPort::SerialPortError error);

// Milliseconds that `bytes` characters take on the line: a start bit, 8 data bits, the parity
// bit and the stop bits each, rounded up. A rate of 0 or less counts as 300 baud, the slowest.
int lineTimeMs(qint64 bytes, qint32 baudRate, QSerialPort::Parity parity,
               QSerialPort::StopBits stopBits);

} // namespace serial
