#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace serial {

struct PortFacts;

// The text shown for a port whose name cannot be read.
inline QString unreadablePortText()
{
    return QStringLiteral("nokey");
}

// The port list as the platform reports it, in its order: each port's name as a user picks it.
QStringList portListEntries(const QList<PortFacts> &ports);

// Windows opens COM ports numbered above 9 only through the device path \\.\COMnn.
QString windowsDevicePath(const QString &listText);

// The name handed to the port for a list entry on this platform.
QString portNameForOpen(const QString &listText);

// The device path the port opens for a name, as QSerialPort reads it on Unix: a path stays as
// it is, a bare name (or one with a slash further on) is a device in /dev.
QString systemLocation(const QString &portName);

// QSerialPort locks a device on Unix with a file named "LCK.." and the device's path (less
// /dev/, slashes as underscores); a path that makes that name longer than a file name may be
// cannot be opened as it is, however real the device.
bool tooLongToLock(const QString &portName);

// The name to open a port by: the name itself, or for one too long to lock, the device it
// leads to when that device's own path is short enough.
QString lockablePortName(const QString &portName);

} // namespace serial
