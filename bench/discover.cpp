// rfcfg discover against virtual modules that answer only at their stored settings: one port
// with the module at the last settings tried, eight ports at once, and --quick at the factory
// settings. Each figure is the median wall time of a few runs, from exec to exit.
//   bench_discover RFCFG [RUNS]
#include "virtualmodule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <pty.h>
#include <unistd.h>

namespace {

struct Case
{
    const char *name;
    QStringList modules; // "RATE PARITY STOP"; "" for a port where nothing answers
    bool quick = false;
};

vmodule::ModuleBehaviour::SerialSettings settingsFrom(const QString &text)
{
    const QStringList p = text.split(QLatin1Char(' '));
    return {p[0].toInt(), int(QStringList{"none", "odd", "even"}.indexOf(p[1])), p[2] == "2"};
}

double runOnce(const QString &rfcfg, const Case &c, int *status)
{
    std::vector<std::unique_ptr<vmodule::VirtualModule>> modules;
    QStringList args;
    std::vector<int> silentFds;
    for (const QString &s : c.modules) {
        if (s.isEmpty()) { // a terminal whose far end never answers
            int master = -1, slave = -1;
            char name[256] = {};
            openpty(&master, &slave, name, nullptr, nullptr);
            silentFds.insert(silentFds.end(), {master, slave});
            args << "-p" << QString::fromLocal8Bit(name);
            continue;
        }
        auto m = std::make_unique<vmodule::VirtualModule>();
        if (!s.isEmpty())
            m->behaviour().setSerialSettings(settingsFrom(s));
        m->setLineCheck(true);
        m->start();
        args << "-p" << m->devicePath();
        modules.push_back(std::move(m));
    }
    args << "discover";
    if (c.quick)
        args << "--quick";
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    process.start(rfcfg, args);
    process.waitForStarted();
    while (process.state() != QProcess::NotRunning) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        process.waitForFinished(1);
    }
    *status = process.exitCode();
    for (int fd : silentFds)
        ::close(fd);
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_discover RFCFG [RUNS]\n");
        return 2;
    }
    const QString rfcfg = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const Case cases[] = {
        {"one port, module at 230400 EVEN 2 (the last rate and stop bits tried)",
         {"230400 even 2"}},
        {"one port, no module (all 72 settings)", {""}},
        {"8 ports at once, modules at 8 settings, 230400 EVEN 2 among them",
         {"230400 even 2", "1200 odd 2", "115200 none 1", "57600 even 2", "4800 none 1",
          "76800 odd 1", "14400 even 2", "9600 even 1"}},
        {"--quick, module at the factory settings 9600 EVEN 1", {"9600 even 1"}, true},
    };
    std::printf("rfcfg discover, median of %d runs (wall time, exec to exit):\n", runs);
    for (const Case &c : cases) {
        std::vector<double> times;
        int status = -1;
        for (int i = 0; i < runs; ++i)
            times.push_back(runOnce(rfcfg, c, &status));
        std::sort(times.begin(), times.end());
        std::printf("  %-70s %6.2f s (exit %d)\n", c.name, times[times.size() / 2], status);
    }
    return 0;
}
