#include "portaccess.h"

#include "serial/portnames.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace rfcfg {

namespace {

QString inUse(const QString &portName, const QString &reason)
{
    return QStringLiteral("cannot open %1: the port is in use by another program (%2); end it, "
                          "or pick another port (rfcfg ports lists the ports)")
        .arg(portName, reason);
}

} // namespace

// Two names of one device (a link and its target) pass any check by name, so the lock is on
// the device itself, taken before the port is opened and its line settings changed under the
// holder. Its descriptor stays open, and the lock held, until rfcfg ends. False only when
// another program holds the lock: a device that cannot be locked is still used.
bool lockDevice(const QString &portName, QString *reason)
{
    const QByteArray path = QFile::encodeName(serial::systemLocation(portName));
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true; // opening the port tells why
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return true;
    *reason = QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return false;
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
