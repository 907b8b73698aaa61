#include "portaccess.h"

#include "serial/devicelock.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace rfcfg {

namespace {

QString inUse(const QString &portName, const QString &reason)
{
    return QStringLiteral("cannot open %1: the port is in use by another program (%2); end it, "
                          "or pick another port (rfcfg ports lists the ports)")
        .arg(portName, reason);
}

} // namespace

// The lock is held until rfcfg ends. False only when another program holds it: a device that
// cannot be locked is still used, and opening it tells why.
bool lockDevice(const QString &portName, QString *reason)
{
    static std::vector<std::pair<QString, serial::DeviceLock>> held;
    // A device reopened after it came back: the lock on its earlier self goes first (a lock of
    // this process on the same device would count as held elsewhere).
    held.erase(std::remove_if(held.begin(), held.end(),
                              [&](const auto &h) { return h.first == portName; }),
               held.end());
    serial::DeviceLock lock(portName);
    if (lock.heldElsewhere()) {
        *reason = lock.reason();
        return false;
    }
    if (lock.isLocked())
        held.emplace_back(portName, std::move(lock));
    return true;
}

QString openPort(serial::ModuleLink &link, const QString &portName,
                 const serial::LineSettings &settings)
{
    QString reason;
    if (!lockDevice(portName, &reason))
        return inUse(portName, reason);
    // A path too long for the port's lock file opens as the device it leads to.
    const auto failure = link.open(portName, settings);
    if (!failure)
        return {};
    if (serial::portInUse(*failure))
        return inUse(portName, failure->systemText);
    return QStringLiteral("cannot open %1: %2; check the path and that no other program holds "
                          "the port (rfcfg ports lists the ports)")
        .arg(portName, failure->systemText);
}

} // namespace rfcfg
