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
    if (!identity.serialNumber.isEmpty()) {
        for (const PortFacts &p : ports) {
            if (p.serialNumber == identity.serialNumber)
                return p.name;
        }
    }
    if (!identity.byIdPath.isEmpty() && QFileInfo::exists(identity.byIdPath))
        return identity.byIdPath;
    if (QFileInfo::exists(systemLocation(identity.path)))
        return identity.path;
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
    if (since.elapsed() > windowMs) {
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
