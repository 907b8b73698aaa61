#pragma once

#include "protocol/replyframe.h"
#include "serial/modulelink.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace serial {

// The serial settings a module leaves the factory with (protocol::factoryConfig()).
LineSettings factorySettings();

// Every setting a module can be given (its own rates, three parities, two stop bits), most
// likely first: the factory settings, 9600 and 115200 without parity, then the rest by stop
// bits, rate and parity. `quick` keeps only those first three.
QList<LineSettings> discoveryOrder(bool quick);

// How long a version request waits at these settings while searching: the request's and its
// reply's time on the line and a short turnaround. A missing module costs this per setting,
// far less than the second an ordinary request grants.
int probeDeadlineMs(const LineSettings &settings);

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
    std::optional<LineSettings> settings; // where the module answered; nothing: not found
    protocol::ModuleVersion version;
    int tried = 0;   // settings tried on this port
    QString failure; // the port could not be opened or was lost
};

// Searches ports for a module, all of them at the same time in the caller's event loop: each
// port has its own link that tries the settings in order and stops at the first valid reply to
// a version request.
class Discovery : public QObject
{
    Q_OBJECT

public:
    Discovery(const QStringList &ports, const QList<LineSettings> &order,
              QObject *parent = nullptr);
    ~Discovery() override;

    void start();
    // Ends the search at once; the ports still searched count as not found.
    void cancel();
    bool isRunning() const { return running; }
    bool wasCancelled() const { return cancelled; }
    // In the order the ports were given.
    const QList<PortFinding> &findings() const { return results; }
    int triesMade() const;
    int triesInAll() const { return int(ports.size() * order.size()); }

    // For command-line use: starts and runs a local event loop until the search ends; the stop
    // request is asked every 50 ms and cancels it.
    void run(const std::function<bool()> &stopRequested = {});

signals:
    void trying(const QString &port, const serial::LineSettings &settings, int number, int count);
    void portFinished(const serial::PortFinding &finding);
    void finished();

private:
    struct Search;
    void tryNext(Search &search);
    void ask(Search &search, const LineSettings &settings, int timeoutMs);
    void onAnswered(Search &search, const QByteArray &reply);
    void onNoReply(Search &search);
    void finish(Search &search, const QString &failure = {});

    QStringList ports;
    QList<LineSettings> order;
    QList<PortFinding> results;
    QList<Search *> searches;
    bool running = false;
    bool cancelled = false;
};

} // namespace serial

Q_DECLARE_METATYPE(serial::LineSettings)
Q_DECLARE_METATYPE(serial::PortFinding)
