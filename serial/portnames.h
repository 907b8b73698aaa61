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

} // namespace serial
