#pragma once

#include <QSerialPort>
#include <QString>

namespace serial {

// Why an open failed, as the port and the system tell it.
struct OpenFailure
{
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QString systemText;  // the port's own error text
    int accessError = 0; // errno of a read-write access check on the device, 0 when allowed
    QString deviceGroup; // the group that owns the device node, if known
};

// Gathers the reason from the port that just failed to open.
OpenFailure probeOpenFailure(const QSerialPort &port);

// The failure box's third line: the reason in words, and for a permission problem on Linux
// how to get access.
QString openFailureReason(const OpenFailure &failure);

} // namespace serial
