#include "ptypair.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    int slaveFd = -1;
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = -1;
        return;
    }
    termios raw{};
    tcgetattr(slaveFd, &raw);
    cfmakeraw(&raw);
    tcsetattr(slaveFd, TCSANOW, &raw);
    slaveKeepFd = slaveFd;
    slave = QString::fromLocal8Bit(name);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    // A unique name: serial-port lock files are named after it.
    link = linkDir.filePath(QFileInfo(linkDir.path()).fileName() + QStringLiteral(".tty"));
    if (!linkDir.isValid() || !QFile::link(slave, link))
        hangUp();
}

PtyPair::~PtyPair()
{
    hangUp();
}

void PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (masterFd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (errno != EAGAIN && errno != EINTR)
            break;
        else
            QThread::msleep(1);
    }
}

QByteArray PtyPair::read(int count, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        char buffer[4096];
        const ssize_t n = masterFd >= 0 ? ::read(masterFd, buffer, sizeof buffer) : -1;
        if (n > 0)
            got.append(buffer, n);
        else
            QThread::msleep(1);
    }
    return got;
}

QByteArray PtyPair::readFor(int ms)
{
    return read(INT_MAX, ms);
}

void PtyPair::hangUp()
{
    if (!link.isEmpty())
        QFile::remove(link);
    if (slaveKeepFd >= 0)
        ::close(slaveKeepFd);
    slaveKeepFd = -1;
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}

int PtyPair::fillLine()
{
    // Written on the slave side through our own descriptor (the tool holds the device
    // exclusively), without blocking, until the terminal refuses even a single byte.
    const int flags = fcntl(slaveKeepFd, F_GETFL);
    fcntl(slaveKeepFd, F_SETFL, flags | O_NONBLOCK);
    const QByteArray chunk(4096, '\xee');
    int filled = 0;
    // The kernel moves bytes on to the far end's read buffer a moment later, which makes room
    // again: the line is full once a round after a pause takes nothing.
    for (int round = 0;; ++round) {
        int taken = 0;
        for (qsizetype size = chunk.size(); size > 0; size /= 2) {
            ssize_t n;
            while ((n = ::write(slaveKeepFd, chunk.constData(), size_t(size))) > 0)
                taken += int(n);
        }
        filled += taken;
        if (taken == 0 && round > 0)
            break;
        QThread::msleep(50);
    }
    fcntl(slaveKeepFd, F_SETFL, flags);
    return filled;
}

double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

void keepDescriptorsFromChildren()
{
    const QStringList fds =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : fds) {
        const int fd = name.toInt();
        if (fd > 2)
            ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    }
}
