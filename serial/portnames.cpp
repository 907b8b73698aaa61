#include "serial/portnames.h"

#include "serial/portlist.h"

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

} // namespace serial
