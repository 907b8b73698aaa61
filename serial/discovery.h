#pragma once

#include "protocol/replyframe.h"
#include "serial/modulelink.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace serial {

struct Outcome;

// The serial settings a module leaves the factory with (protocol::factoryConfig()).
LineSettings factorySettings();

// Every setting a module can be given (its own rates, three parities, two stop bits), most
// likely first: the factory settings, 9600 and 115200 without parity, then the rest by stop
// bits, rate and parity. `quick` keeps only those first three.
QList<LineSettings> discoveryOrder(bool quick);

// How long a request waits at these settings while searching (without one, the version
// request): the request's and its reply's time on the line and a short turnaround. A missing
// module costs this per setting, far less than the second an ordinary request grants.
int probeDeadlineMs(const LineSettings &settings, QByteArrayView request = {});

bool sameSettings(const LineSettings &a, const LineSettings &b);

// The serial settings a configuration gives the module, or nothing when a position lies
// outside its list.
std::optional<LineSettings> moduleSerialSettings(const protocol::ModuleConfig &config);

// "9600 NONE 1", as the window's lists spell the settings.
QString settingsText(const LineSettings &settings);

// What the search found on one port.
struct PortFinding
{
    QString port;
    // Where a configuration read confirmed the module; nothing: not found.
    std::optional<LineSettings> settings;
    protocol::ModuleVersion version;
    int tried = 0;     // settings tried on this port
    QString failure;   // the port could not be opened or was lost
    bool busy = false; // another program holds the device: it was left alone
};

// Searches ports for a module, many at the same time in the caller's event loop: each port has
// its own link and session that try the settings in order with version requests. A setting
// whose version request is answered is taken only once a configuration read at it is answered
// too: a module that sends version frames unasked answers a version request at any setting, but
// nothing answers the read there. A port another program holds (its device locked) is not
// touched. As many ports are searched at once as the descriptors allow, the next one starting
// when one ends.
class Discovery : public QObject
{
    Q_OBJECT

public:
    Discovery(const QStringList &ports, const QList<LineSettings> &order,
              QObject *parent = nullptr);
    ~Discovery() override;

    // Ports searched at the same time; 0 (the default): as many as the process's descriptors
    // allow when the search starts. Fewer are taken while the system runs short.
    void setMaxOpen(int ports) { maxOpen = ports; }

    // Runs in the caller's event loop. finished() comes once every port is done: from within
    // start() when all of them end at once (none given, all held or failing to open).
    void start();
    // Ends the search at once; the ports still searched count as not found.
    void cancel();
    bool isRunning() const { return running; }
    bool wasCancelled() const { return cancelled; }
    // In the order the ports were given.
    const QList<PortFinding> &findings() const { return results; }
    int triesMade() const;
    int triesInAll() const { return int(ports.size() * order.size()); }

signals:
    void trying(const QString &port, const serial::LineSettings &settings, int number, int count);
    void portFinished(const serial::PortFinding &finding);
    void finished();

private:
    struct Search;
    // A version request at a setting; the configuration read that confirms its answer; the same
    // read at the setting before, whose version reply may have come too late.
    enum class Step { Probe, Confirm, StepBack };
    // Starts waiting searches while fewer than the limit are open; ends the search when all
    // ports are done.
    void startWaiting();
    void begin(Search &search);
    void tryNext(Search &search);
    bool ask(Search &search, Step step, int setting);
    void onOutcome(Search &search, const Outcome &outcome);
    void finish(Search &search, const QString &failure = {});

    QStringList ports;
    QList<LineSettings> order;
    QList<PortFinding> results;
    QList<Search *> searches;
    QList<Search *> waiting;
    int limit = 0;
    int maxOpen = 0;
    int openNow = 0; // searches with their port open
    int doneCount = 0;
    bool starting = false;
    bool running = false;
    bool cancelled = false;
};

} // namespace serial

Q_DECLARE_METATYPE(serial::LineSettings)
Q_DECLARE_METATYPE(serial::PortFinding)
