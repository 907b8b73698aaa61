#include "serial/replug.h"

#include "serial/portnames.h"

#include <QDir>
#include <QFileInfo>

namespace serial {

PortIdentity identifyPort(const QString &path, const QList<PortFacts> &ports,
                          const QString &byIdDir)
{
    PortIdentity identity{path, {}, {}};
    const QString device = QFileInfo(systemLocation(path)).canonicalFilePath();
    for (const PortFacts &p : ports) {
        if (QFileInfo(p.location).canonicalFilePath() == device)
            identity.serialNumber = p.serialNumber;
    }
    const QFileInfoList links = QDir(byIdDir).entryInfoList(QDir::System | QDir::Files);
    for (const QFileInfo &link : links) {
        if (!device.isEmpty() && link.canonicalFilePath() == device)
            identity.byIdPath = link.absoluteFilePath();
    }
    return identity;
}

std::optional<QString> returnedPort(const PortIdentity &identity, const QList<PortFacts> &ports)
{
    const auto present = [](const QString &name) {
        return !name.isEmpty() && QFileInfo::exists(systemLocation(name));
    };
    if (identity.serialNumber.isEmpty()) {
        if (present(identity.byIdPath))
            return identity.byIdPath;
        if (present(identity.path))
            return identity.path;
        return std::nullopt;
    }
    // A path that is back is the same adapter only when the system reports it with the same
    // serial number: another adapter may have been plugged in where this one was. The names
    // it was known by come first.
    const auto serialAt = [&](const QString &name) -> std::optional<QString> {
        const QString device = QFileInfo(systemLocation(name)).canonicalFilePath();
        for (const PortFacts &p : ports) {
            if (p.name == name || p.location == systemLocation(name) ||
                (!device.isEmpty() && QFileInfo(p.location).canonicalFilePath() == device))
                return p.serialNumber;
        }
        return std::nullopt;
    };
    for (const QString &name : {identity.byIdPath, identity.path}) {
        if (present(name) && serialAt(name) == identity.serialNumber)
            return name;
    }
    for (const PortFacts &p : ports) {
        if (p.serialNumber == identity.serialNumber)
            return p.name;
    }
    return std::nullopt;
}

ReplugWatch::ReplugWatch(Enumerator enumerator, Reopen reopen, QObject *parent)
    : QObject(parent), enumerator(std::move(enumerator)), reopen(std::move(reopen))
{
    timer.setInterval(pollMs);
    connect(&timer, &QTimer::timeout, this, &ReplugWatch::poll);
}

void ReplugWatch::watch(const PortIdentity &id)
{
    identity = id;
    since.start();
    timer.start();
}

void ReplugWatch::poll()
{
    if (since.elapsed() > window) {
        timer.stop();
        return;
    }
    // Only the serial number needs the platform's list; the paths are looked at directly.
    const QList<PortFacts> ports =
        identity.serialNumber.isEmpty() ? QList<PortFacts>{} : enumerator();
    if (const auto name = returnedPort(identity, ports)) {
        if (reopen(*name))
            timer.stop();
    }
}

} // namespace serial
