#include "serial/devicelock.h"

#include "serial/portnames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace serial {

namespace {

// Left for what the program opens beside the ports: the window's fonts and files, a pipe.
constexpr int spareDescriptors = 20;

} // namespace

DeviceLock::DeviceLock(const QString &portName)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(systemLocation(portName));
    fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        errorNumber = errno;
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return;
    errorNumber = errno;
    held = errorNumber == EWOULDBLOCK;
    ::close(fd);
    fd = -1;
#else
    Q_UNUSED(portName);
#endif
}

DeviceLock::~DeviceLock()
{
    release();
}

DeviceLock::DeviceLock(DeviceLock &&other) noexcept
    : fd(std::exchange(other.fd, -1)), errorNumber(other.errorNumber), held(other.held)
{
}

DeviceLock &DeviceLock::operator=(DeviceLock &&other) noexcept
{
    if (this != &other) {
        release();
        fd = std::exchange(other.fd, -1);
        errorNumber = other.errorNumber;
        held = other.held;
    }
    return *this;
}

bool DeviceLock::outOfDescriptors() const
{
#ifdef Q_OS_UNIX
    return errorNumber == EMFILE || errorNumber == ENFILE;
#else
    return false;
#endif
}

QString DeviceLock::reason() const
{
    return errorNumber == 0 ? QString() : QString::fromLocal8Bit(std::strerror(errorNumber));
}

void DeviceLock::release()
{
#ifdef Q_OS_UNIX
    if (fd >= 0)
        ::close(fd); // closing the last descriptor drops the lock
#endif
    fd = -1;
}

QString deviceOf(const QString &portName)
{
    const QString location = systemLocation(portName);
    const QString device = QFileInfo(location).canonicalFilePath();
    return device.isEmpty() ? location : device;
}

int portsOpenAtOnce()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return INT_MAX;
    const qint64 allowed = qint64(std::min<rlim_t>(limit.rlim_cur, INT_MAX));
    // Counted where the system lists them; elsewhere every number below the limit is asked.
    qint64 open = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (fds.exists()) {
        open = fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files | QDir::Dirs).size();
    } else {
        for (int n = 0; n < std::min<qint64>(allowed, 65536); ++n)
            open += ::fcntl(n, F_GETFD) != -1;
    }
    return int(std::max<qint64>(1, (allowed - open - spareDescriptors) / descriptorsPerPort));
#else
    return INT_MAX;
#endif
}

} // namespace serial
