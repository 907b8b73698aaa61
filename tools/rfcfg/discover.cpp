#include "discover.h"

#include "replywords.h"

#include "serial/devicelock.h"
#include "serial/discovery.h"

#include <QCoreApplication>
#include <QHash>
#include <QSerialPortInfo>
#include <QTimer>

#include <unistd.h>

namespace rfcfg {

namespace {

QString parityWord(QSerialPort::Parity parity)
{
    return parity == QSerialPort::OddParity    ? QStringLiteral("ODD")
           : parity == QSerialPort::EvenParity ? QStringLiteral("EVEN")
                                               : QStringLiteral("NONE");
}

} // namespace

int discover(Run &run, QStringList ports, bool quick)
{
    if (ports.isEmpty()) {
        for (const QSerialPortInfo &p : QSerialPortInfo::availablePorts())
            ports << p.systemLocation();
    }
    ports.removeDuplicates();
    if (ports.isEmpty())
        return run.fail(noReply, QStringLiteral("no serial ports to search; name one with -p "
                                                "PATH (rfcfg ports lists the ports)"));

    // Each device is searched once, under the first name it was given: its other names (a link
    // and its target) are the same port, and a second search would find the first one's lock.
    QStringList searched;
    QHash<QString, QString> firstName; // by device
    QHash<QString, QString> sameAs;    // a later name: the first
    for (const QString &port : std::as_const(ports)) {
        const QString device = serial::deviceOf(port);
        if (const auto first = firstName.constFind(device); first != firstName.cend()) {
            sameAs.insert(port, *first);
            continue;
        }
        firstName.insert(device, port);
        searched << port;
    }

    serial::Discovery discovery(searched, serial::discoveryOrder(quick));
    const bool live = ::isatty(STDERR_FILENO);
    if (live) {
        QObject::connect(&discovery, &serial::Discovery::trying, &discovery,
                         [](const QString &port, const serial::LineSettings &s, int n, int of) {
                             print(stderr, QStringLiteral("\r\033[Ktrying %1 at %2 (%3/%4)")
                                               .arg(port, serial::settingsText(s))
                                               .arg(n)
                                               .arg(of));
                         });
    }
    // The search runs in the application's event loop; Ctrl+C and SIGTERM end it.
    QObject::connect(&discovery, &serial::Discovery::finished, &discovery,
                     [] { QCoreApplication::exit(); });
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &discovery, [&discovery] {
        if (stopRequested())
            discovery.cancel();
    });
    stopPoll.start(50);
    discovery.start();
    if (discovery.isRunning())
        QCoreApplication::exec();
    stopPoll.stop();
    if (live)
        print(stderr, QStringLiteral("\r\033[K"));

    QJsonArray found, notFound;
    QJsonObject sameDevice;
    bool allFound = true;
    for (const QString &port : std::as_const(ports)) {
        if (sameAs.contains(port)) {
            sameDevice.insert(port, sameAs.value(port));
            run.text(QStringLiteral("%1  same device as %2\n").arg(port, sameAs.value(port)));
            continue;
        }
        const serial::PortFinding &finding = discovery.findings().at(searched.indexOf(port));
        if (!finding.settings) {
            allFound = false;
            notFound.append(port);
            QString why;
            if (finding.busy)
                why = QStringLiteral(" (in use by another program)");
            else if (!finding.failure.isEmpty())
                why = QStringLiteral(" (%1)").arg(finding.failure);
            run.text(QStringLiteral("%1  not found%2\n").arg(port, why));
            continue;
        }
        const serial::LineSettings &s = *finding.settings;
        const VersionInfo v = versionOf(finding.version);
        const int stop = s.stopBits == QSerialPort::TwoStop ? 2 : 1;
        found.append(QJsonObject{{"port", port},
                                 {"baud", s.baudRate},
                                 {"parity", parityWord(s.parity)},
                                 {"stop_bits", stop},
                                 {"firmware", v.version},
                                 {"date", v.releaseDate}});
        run.text(QStringLiteral("%1  %2 %3 %4  firmware %5, released %6\n")
                     .arg(port)
                     .arg(s.baudRate)
                     .arg(parityWord(s.parity))
                     .arg(stop)
                     .arg(v.version, v.releaseDate));
    }
    run.doc.insert(QStringLiteral("found"), found);
    run.doc.insert(QStringLiteral("not_found"), notFound);
    run.doc.insert(QStringLiteral("same_as"), sameDevice);
    run.doc.insert(QStringLiteral("tried"), discovery.triesMade());
    if (discovery.wasCancelled())
        return run.fail(noReply, QStringLiteral("the search was stopped"));
    return run.finish(allFound ? success : noReply);
}

} // namespace rfcfg
