#include "serial/portnames.h"

#include "serial/portlist.h"

#include <QFile>
#include <QFileInfo>

namespace serial {

QStringList portListEntries(const QList<PortFacts> &ports)
{
    QStringList entries;
    entries.reserve(ports.size());
    for (const PortFacts &port : ports)
        entries << (port.name.isEmpty() ? unreadablePortText() : port.name);
    return entries;
}

QString windowsDevicePath(const QString &listText)
{
    // The number after the first three characters ("COM"); a short text is read whole.
    const QString tail = listText.size() < 3 ? listText : listText.mid(3);
    bool ok = false;
    const int number = tail.toInt(&ok, 10);
    if (ok && number > 9)
        return QStringLiteral("\\\\.\\") + listText;
    return listText;
}

QString portNameForOpen(const QString &listText)
{
#ifdef Q_OS_WIN
    return windowsDevicePath(listText);
#else
    return listText;
#endif
}

QString systemLocation(const QString &portName)
{
    const bool path = portName.startsWith(QLatin1Char('/')) ||
                      portName.startsWith(QLatin1String("./")) ||
                      portName.startsWith(QLatin1String("../"));
    return path ? portName : QStringLiteral("/dev/") + portName;
}

bool tooLongToLock(const QString &portName)
{
#ifdef Q_OS_UNIX
    constexpr qsizetype maxFileNameBytes = 255;
    const QString location = systemLocation(portName);
    const QString lockedName =
        location.startsWith(QLatin1String("/dev/")) ? location.mid(5) : location;
    return QFile::encodeName(QStringLiteral("LCK..") + lockedName).size() > maxFileNameBytes;
#else
    Q_UNUSED(portName);
    return false;
#endif
}

QString lockablePortName(const QString &portName)
{
    if (!tooLongToLock(portName))
        return portName;
    // Long paths are links (by-id names, links in deep folders); the device behind one has a
    // short name of its own.
    const QString device = QFileInfo(systemLocation(portName)).canonicalFilePath();
    return device.isEmpty() || tooLongToLock(device) ? portName : device;
}

} // namespace serial
