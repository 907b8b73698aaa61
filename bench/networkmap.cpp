// The network map's figures: a scan of 100 nodes against the virtual module (rfcfg scan from
// exec to exit, and the session alone, per target, with and without a reply delay), the time
// to draw a map of 500 nodes, and the memory a node takes in the model.
//   bench_networkmap RFCFG [FRAMES]
#include "network/networkmap.h"
#include "network.h"
#include "protocol/payloads.h"
#include "serial/mapfeeder.h"
#include "serial/session.h"
#include "virtualmodule.h"
#include "widgets/networkmapview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void waitFor(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// rfcfg scan of every node but the own module, exec to exit.
double cliScanMs(const QString &rfcfg, vmodule::VirtualModule &module, int nodes)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(rfcfg, {"-p", module.devicePath(), "scan", QString::asprintf("0002-%04x", nodes),
                          "--json"});
    waitFor([&] { return process.state() == QProcess::NotRunning; });
    const double ms = clock.nsecsElapsed() / 1e6;
    if (process.exitCode() != 0)
        std::fprintf(stderr, "rfcfg scan: %s\n", process.readAllStandardError().constData());
    return ms;
}

// One route search after another over a session, as the window's scan sends them.
double sessionScanMs(vmodule::VirtualModule &module, int nodes)
{
    serial::ModuleLink link;
    if (link.open(module.devicePath(), {9600, QSerialPort::NoParity, QSerialPort::OneStop}))
        return -1;
    serial::Session session(&link);
    network::NetworkMap map;
    serial::MapFeeder feeder(&link, &map);
    QElapsedTimer clock;
    clock.start();
    for (int target = 2; target <= nodes; ++target) {
        const auto payload = protocol::routeSearchPayload({quint8(target >> 8), quint8(target)}, 6);
        bool done = false;
        QObject::connect(session.routeSearch(QByteArrayView(payload.data(), payload.size())),
                         &serial::Operation::finished, [&done] { done = true; });
        waitFor([&] { return done; });
    }
    return clock.nsecsElapsed() / 1e6;
}

// Every node of the mesh found along its shortest path (hop limit aside), a tenth of them
// failing once, and a few routes that went another way since.
network::NetworkMap filledMap(const vmodule::Network &mesh, int nodes)
{
    network::NetworkMap map;
    const qint64 now = 1'700'000'000'000;
    map.setOwnAddress(0x0001, now);
    for (int t = 2; t <= nodes; ++t) {
        const QList<quint16> path = mesh.shortestPath(0x0001, quint16(t));
        if (path.size() < 2)
            continue;
        if (t % 10 == 0)
            map.addRouteResult(quint16(t), 2, {}, 40, now - 3'600'000);
        map.addRouteResult(quint16(t), 0, path.mid(1, path.size() - 2), 35, now - t * 1000);
        map.addDataResult(quint16(t), 0, 50, now);
    }
    return map;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s RFCFG [FRAMES]\n", argv[0]);
        return 2;
    }
    const QString rfcfg = QString::fromLocal8Bit(argv[1]);
    const int frames = argc > 2 ? std::max(1, atoi(argv[2])) : 100;

    // ---- Scan of 100 nodes ----
    const int scanNodes = 100;
    for (int delay : {0, 20}) {
        vmodule::VirtualModule module(vmodule::Network::random(scanNodes, 1));
        module.setReplyDelay(delay);
        if (!module.start())
            return 1;
        const double cli = cliScanMs(rfcfg, module, scanNodes);
        const double session = sessionScanMs(module, scanNodes);
        std::printf("scan of %d targets, reply delay %d ms: rfcfg scan %.0f ms (%.2f ms a "
                    "target, start-up and configuration read included); session %.0f ms (%.2f "
                    "ms a target)\n",
                    scanNodes - 1, delay, cli, cli / (scanNodes - 1), session,
                    session / (scanNodes - 1));
    }

    // ---- Drawing 500 nodes ----
    const int drawNodes = 500;
    const vmodule::Network mesh = vmodule::Network::random(drawNodes, 3);
    const network::NetworkMap map = filledMap(mesh, drawNodes);
    NetworkMapView view;
    view.setClock([] { return qint64(1'700'000'000'000); });
    view.setMap(&map);
    const QSize whole = view.sizeHint();
    const QSize screen(1280, 800);
    view.resize(whole);
    for (const auto &[name, size] :
         {std::pair{"whole map", whole}, std::pair{"a 1280x800 view", screen}}) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        std::vector<double> times;
        for (int i = 0; i < frames + 5; ++i) {
            QElapsedTimer clock;
            clock.start();
            view.render(&image, {}, QRegion(QRect(QPoint(), size)));
            if (i >= 5) // the first frames warm the caches
                times.push_back(clock.nsecsElapsed() / 1e6);
        }
        std::printf("draw %d nodes, %d links, %s (%dx%d): median %.2f ms a frame, max %.2f ms "
                    "(%d frames)\n",
                    view.nodeCount(), int(map.links().size()), name, size.width(), size.height(),
                    median(times), *std::max_element(times.begin(), times.end()), frames);
    }

    // ---- Memory per node ----
    for (int nodes : {500, 4000}) {
        const vmodule::Network big = vmodule::Network::random(nodes, 5);
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        auto *m = new network::NetworkMap(filledMap(big, nodes));
        const size_t after = mallinfo2().uordblks;
        int results = 0;
        for (const network::Target &t : m->targets())
            results += int(t.history.size());
        std::printf("memory: %d nodes, %d links, %d results: %.0f bytes a node (everything "
                    "included)\n",
                    int(m->nodes().size()), int(m->links().size()), results,
                    double(after - before) / m->nodes().size());
        // A full day: every target with a full history.
        for (int round = 0; round < network::NetworkMap::defaultHistoryLimit; ++round) {
            for (const network::Target &t : std::as_const(m->targets()))
                m->addDataResult(t.address, 0, 50, 1'700'000'000'000 + round);
        }
        const size_t full = mallinfo2().uordblks;
        std::printf("memory: the same with %d results a target (the history's limit): %.0f bytes "
                    "a node\n",
                    network::NetworkMap::defaultHistoryLimit,
                    double(full - before) / m->nodes().size());
        delete m;
    }
    return 0;
}
