#pragma once

#include <QString>

namespace serial {

// An exclusive lock (flock) on the device a port name leads to, held while the object lives.
// Two names of one device (a link and its target) pass any check by name, so the lock is on
// the device itself, and taken before the port is opened and its settings changed under a
// program that holds it.
class DeviceLock
{
public:
    DeviceLock() = default;
    explicit DeviceLock(const QString &portName);
    ~DeviceLock();
    DeviceLock(DeviceLock &&other) noexcept;
    DeviceLock &operator=(DeviceLock &&other) noexcept;
    DeviceLock(const DeviceLock &) = delete;
    DeviceLock &operator=(const DeviceLock &) = delete;

    bool isLocked() const { return fd >= 0; }
    // Another program holds the device: it must be left alone.
    bool heldElsewhere() const { return held; }
    // The process (or the system) has no descriptor left to open the device with.
    bool outOfDescriptors() const;
    // errno of the open or the lock that failed, 0 when locked. A device that could not be
    // opened for another reason is not locked, and opening the port tells why.
    int error() const { return errorNumber; }
    QString reason() const;
    void release();

private:
    int fd = -1;
    int errorNumber = 0;
    bool held = false;
};

// What tells two names of one device apart from two devices: the device's own path, or the
// device path the name stands for when it leads nowhere.
QString deviceOf(const QString &portName);

// Descriptors one port takes while it is searched: the device lock, the port's lock file and the
// port itself.
constexpr int descriptorsPerPort = 3;

// How many ports fit in the descriptors this process has left, beside a margin for the rest of
// the program; at least one.
int portsOpenAtOnce();

} // namespace serial
