// A module that never stops talking: 1 MB/s for 60 s into the real dialog, its drain timer
// running as in use. Prints the longest gap between the events of a 10 ms timer (how long the
// window stood still), resident memory growth per byte received, and whether the receive box
// shows every byte in order.
//   bench_stream [SECONDS] [BYTES_PER_SECOND]
#include "benchsupport.h"

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// The same pseudo-random bytes on both sides.
quint8 streamByte(qint64 i)
{
    quint32 x = quint32(i) * 2654435761u;
    return quint8(x >> 24 ^ x >> 11);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const qint64 rate = argc > 2 ? std::atoll(argv[2]) : 1000000;
    const qint64 total = seconds * rate;

    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    Dialog dialog;
    dialog.resize(737, 662);
    dialog.show();
    openPortOn(dialog, QString::fromLocal8Bit(name));
    auto *port = dialog.findChild<QSerialPort *>(QStringLiteral("myCom"));
    auto *readTimer = dialog.findChild<QTimer *>(QStringLiteral("readTimer"));
    QObject *box = dialog.findChild<QObject *>(QStringLiteral("ReceiveOutBrowser"));
    if (!port->isOpen()) {
        std::fprintf(stderr, "cannot open %s\n", name);
        return 1;
    }
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double startMiB = residentMiB();

    // The feeder writes what is due every few milliseconds from its own thread.
    std::atomic<qint64> written{0};
    std::thread feeder([&] {
        const auto begin = std::chrono::steady_clock::now();
        QByteArray block;
        while (written < total) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            const qint64 due = std::min(total, qint64(elapsed * double(rate)));
            block.resize(due - written);
            for (qint64 i = 0; i < block.size(); ++i)
                block[i] = char(streamByte(written + i));
            qint64 done = 0;
            while (done < block.size()) {
                const ssize_t n =
                    ::write(master, block.constData() + done, size_t(block.size() - done));
                if (n <= 0)
                    return;
                done += n;
                written += n;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longestGap = 0, longestAt = 0, longestTick = 0;
    int gapsOver50 = 0;
    bool ticked = false; // a receive tick ran since the last pulse
    QTimer pulse;
    pulse.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pulse, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - last > longestGap) {
            longestGap = now - last;
            longestAt = now;
        }
        if (ticked)
            longestTick = std::max(longestTick, now - last);
        gapsOver50 += now - last > 50;
        ticked = false;
        last = now;
    });
    pulse.start(10);
    int quietTicks = 0;
    QObject::connect(readTimer, &QTimer::timeout, [&] {
        quietTicks = written == total && port->bytesAvailable() == 0 ? quietTicks + 1 : 0;
        ticked = true;
    });
    while (quietTicks < 2)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    pulse.stop();
    feeder.join();
    const double endMiB = residentMiB();
    const double runS = clock.elapsed() / 1000.0;

    // Every "Recv->" line's bytes, in order, must be the stream.
    const QString text = box->property("plainText").toString();
    qint64 shown = 0;
    bool inOrder = true;
    for (qsizetype at = 0; at < text.size() && inOrder;) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), at);
        if (end < 0)
            end = text.size();
        if (QStringView(text).mid(at, end - at).startsWith(QLatin1String("Recv->"))) {
            for (qsizetype i = at + 6; i + 3 <= end && inOrder; i += 3) {
                const int b = QStringView(text).mid(i, 2).toInt(nullptr, 16);
                inOrder = shown < total && b == streamByte(shown);
                ++shown;
            }
        }
        at = end + 1;
    }
    std::printf("stream                         %lld bytes in %d s, shown after %.1f s\n", total,
                seconds, runS);
    std::printf("longest gap between 10 ms timer events  %lld ms (at %.1f s)\n", longestGap,
                longestAt / 1000.0);
    std::printf("longest gap with a receive tick in it   %lld ms\n", longestTick);
    std::printf("gaps over 50 ms                %d\n", gapsOver50);
    std::printf("resident memory                %.1f -> %.1f MiB\n", startMiB, endMiB);
    std::printf("growth per byte received       %.2f bytes\n",
                (endMiB - startMiB) * 1024 * 1024 / double(total));
    std::printf("every byte shown in order      %s (%lld of %lld)\n",
                inOrder && shown == total ? "yes" : "NO", shown, total);
    ::close(slave);
    ::close(master);
    return 0;
}
