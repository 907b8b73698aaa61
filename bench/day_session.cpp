// A day of repeated sending at 500 ms: 172,800 send lines and 172,800 reply lines pushed through
// the real slots (the send-timer slot and the receive tick) as fast as they go, with the
// link-test panel recording every send where the window has one.
//   bench_day_session [EXCHANGES] [--failures-only] [--capture FILE]
// With --failures-only the run's healthy sends stay out of the log boxes, as the window's
// "Log failures only" switch keeps them. The run's live record goes to a temporary folder.
// With --capture FILE the link records to FILE, and its bytes per exchange are printed.
#include "benchsupport.h"
#include "serial/modulelink.h"
#include "widgets/linktestview.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

#if __has_include("serial/capture.h")
#include "serial/capture.h"
#define BENCH_HAS_CAPTURE 1
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int captureArg = int(args.indexOf(QStringLiteral("--capture")));
    const QString capturePath = captureArg > 0 ? args.value(captureArg + 1) : QString();
    const bool failuresOnly = args.contains(QStringLiteral("--failures-only"));
    const int exchanges = argc > 1 && argv[1][0] != '-' ? std::atoi(argv[1]) : 172800;
    LiveDialog bench;
    if (!bench.open()) {
        std::fprintf(stderr, "cannot open the virtual module\n");
        return 1;
    }
    setDataSendOn(bench.dialog, QStringLiteral("00ab"), QStringLiteral("01 02 03 "));
    QTemporaryDir recordFolder;
    auto *view = bench.dialog.findChild<LinkTestView *>();
    if (view)
        view->setRecordFolder(recordFolder.path());
    if (auto *quiet =
            bench.dialog.findChild<QCheckBox *>(QStringLiteral("checkBox_logFailuresOnly")))
        quiet->setChecked(failuresOnly);
    // Repeated sending switched on, so that every exchange also goes through the link-test
    // panel (shown under the data text); the benchmark runs the send ticks itself.
    setRepeatedSendingOn(bench.dialog, true);
    bench.dialog.findChild<QTimer *>(QStringLiteral("sendTimer"))->stop();
    QByteArray reply;
    QObject::connect(&bench.module, &vmodule::VirtualModule::replySent,
                     [&](const QByteArray &b) { reply = b; });

    // A window over a module link reads the reply off the port before its tick: wait until
    // the link has handed it over (older windows leave it on the port).
    auto *link = bench.dialog.findChild<serial::ModuleLink *>();
    qint64 arrived = 0;
    if (link)
        QObject::connect(link, &serial::ModuleLink::bytesArrived,
                         [&arrived](const QByteArray &bytes) { arrived += bytes.size(); });
    const auto replyIsThere = [&] {
        if (reply.isEmpty())
            return false;
        return link ? arrived >= reply.size() : bench.port->bytesAvailable() >= reply.size();
    };

#ifdef BENCH_HAS_CAPTURE
    serial::Capture capture;
    if (!capturePath.isEmpty()) {
        if (!link || !capture.open(capturePath)) {
            std::fprintf(stderr, "cannot capture to %s\n", qPrintable(capturePath));
            return 1;
        }
        capture.attach(link);
    }
#else
    if (!capturePath.isEmpty()) {
        std::fprintf(stderr, "this tree has no capture\n");
        return 1;
    }
#endif

    std::vector<double> appendUs;
    appendUs.reserve(size_t(exchanges));
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < exchanges; ++i) {
        reply.clear();
        arrived = 0;
        QElapsedTimer clock;
        clock.start();
        bench.invoke("continueSendData");
        double ns = double(clock.nsecsElapsed());
        while (!replyIsThere())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            50);
        clock.restart();
        bench.invoke("readMyCom");
        ns += double(clock.nsecsElapsed());
        appendUs.push_back(ns / 1000.0);
    }
    const double totalS = total.elapsed() / 1000.0;
    const int window = std::min(1000, exchanges);
    double first = 0, last = 0;
    for (int i = 0; i < window; ++i) {
        first += appendUs[size_t(i)];
        last += appendUs[size_t(exchanges - window + i)];
    }
    QCoreApplication::processEvents();
    std::vector<double> grabMs;
    for (int r = 0; r < 5; ++r) {
        QElapsedTimer clock;
        clock.start();
        const QPixmap picture = bench.dialog.grab();
        grabMs.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("exchanges                      %d (%d send lines, %d reply lines)\n", exchanges,
                exchanges, exchanges);
    std::printf("total                          %.1f s\n", totalS);
    std::printf("first %d appends             %.1f us each\n", window, first / window);
    std::printf("last %d appends              %.1f us each\n", window, last / window);
    std::printf("last / first                   %.2f\n", last / first);
    std::printf("resident memory at the end     %.1f MiB\n", residentMiB());
    if (!capturePath.isEmpty()) {
        const qint64 bytes = QFileInfo(capturePath).size();
        std::printf("capture                        %lld bytes, %.1f bytes per exchange, "
                    "%.1f MiB per day at 500 ms\n",
                    static_cast<long long>(bytes), double(bytes) / exchanges,
                    double(bytes) / exchanges * 172800 / (1024.0 * 1024.0));
    }
    std::printf("full repaint (grab), median    %.1f ms\n", medianOf(grabMs));
    if (view) {
        const qint64 bytes = QFileInfo(view->recordPath()).size();
        std::printf("live record                    %lld bytes, %.1f bytes per send%s\n", bytes,
                    double(bytes) / exchanges, failuresOnly ? ", failures only logged" : "");
    }
    if (const auto *panel = bench.dialog.findChild<QWidget *>(QStringLiteral("linkTestPanel")))
        std::printf("link-test panel                %s, %s sends\n",
                    panel->isVisible() ? "shown" : "hidden",
                    qPrintable(panel->findChild<QWidget *>(QStringLiteral("linkTestSent"))
                                   ->property("text")
                                   .toString()));
    return 0;
}
