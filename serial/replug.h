#pragma once

#include "serial/portlist.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace serial {

// What tells a device again after it was unplugged: its USB serial number, its path under
// /dev/serial/by-id/ (named after the adapter, not the order it was plugged in), its path.
struct PortIdentity
{
    QString path;
    QString serialNumber;
    QString byIdPath;
};

PortIdentity identifyPort(const QString &path, const QList<PortFacts> &ports,
                          const QString &byIdDir = QStringLiteral("/dev/serial/by-id"));

// The name to reopen when a device with this identity is present. With a serial number known,
// only a port the system reports with that number: the path or by-id path it was opened by when
// one of them leads to it, else the port's own name. Without one, the by-id path, then the path.
std::optional<QString> returnedPort(const PortIdentity &identity, const QList<PortFacts> &ports);

// After a lost port: looks for the device to come back, every half second for a minute, and
// hands its name to `reopen` until that succeeds.
class ReplugWatch : public QObject
{
    Q_OBJECT

public:
    using Enumerator = std::function<QList<PortFacts>()>;
    using Reopen = std::function<bool(const QString &name)>;
    ReplugWatch(Enumerator enumerator, Reopen reopen, QObject *parent = nullptr);

    static constexpr int windowMs = 60'000;
    static constexpr int pollMs = 500;

    // How long a watch looks (windowMs unless set).
    void setWindowMs(qint64 ms) { window = ms; }
    void watch(const PortIdentity &identity);
    void stop() { timer.stop(); }
    bool isWatching() const { return timer.isActive(); }

private:
    void poll();

    Enumerator enumerator;
    Reopen reopen;
    PortIdentity identity;
    QTimer timer;
    QElapsedTimer since;
    qint64 window = windowMs;
};

} // namespace serial
