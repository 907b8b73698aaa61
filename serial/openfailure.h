#pragma once

#include <QSerialPort>
#include <QString>

namespace serial {

// Why an open failed, as the port and the system tell it.
struct OpenFailure
{
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QString systemText; // the port's own error text
    // errno of a read-write access check on the device, 0 when allowed; ENAMETOOLONG for a
    // device whose path is too long to lock.
    int accessError = 0;
    QString deviceGroup; // the group that owns the device node, if known
    bool noPortChosen = false;
    // EMFILE or ENFILE when the process or the system had no descriptor left for the port (the
    // port tells that as a permission error), else 0.
    int descriptorError = 0;
};

// Gathers the reason from the port that just failed to open. Where the device path tells more
// than the port (a missing device behind a path too long to lock), the path's reason and text
// stand.
OpenFailure probeOpenFailure(const QSerialPort &port);

// Another program holds the port: the system allows access, the port still refused.
bool portInUse(const OpenFailure &failure);

// The failure box's third line: the reason in words, and for a permission problem on Linux
// how to get access.
QString openFailureReason(const OpenFailure &failure);

} // namespace serial
