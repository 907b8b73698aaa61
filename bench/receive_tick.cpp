// The cost of one receive tick for a 6-byte status reply, a 152-byte chunk and an 11,520-byte
// chunk (230,400 baud for 500 ms), with the receive box empty and with 100,000 lines in it, and
// (where the window has one) the link-test panel shown with a run of 172,800 sends.
// Prints the median of the slot alone and of the slot plus the repaint that follows, and of the
// module link's read of the chunk (scanner, and the capture when one records).
//   bench_receive_tick [--capture FILE]
#include "benchsupport.h"
#include "protocol/frame.h"
#include "serial/modulelink.h"

#include <QAbstractScrollArea>
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>

#include <cstdio>

#if __has_include("serial/capture.h")
#include "serial/capture.h"
#define BENCH_HAS_CAPTURE 1
#endif

#if __has_include("widgets/linktestpanel.h")
#include "widgets/linktestpanel.h"
// Sends of a day, every 500 ms: delivered in 20-80 ms, one in 500 failed, one in 700 unanswered.
void fillLinkTestPanel(QWidget *widget, int sends)
{
    auto *panel = static_cast<LinkTestPanel *>(widget);
    for (int i = 0; i < sends; ++i) {
        const qsizetype index = panel->recordSendAt(qint64(i) * 500, 0x00ab);
        if (i % 700 == 3)
            panel->recordNoReply(index);
        else
            panel->recordReply(index, i % 500 == 7 ? 2 : 0, 20 + (i * 37) % 60);
    }
    std::printf("link-test panel: %d sends recorded in %lld bytes\n", sends,
                static_cast<long long>(panel->record().bytesHeld()));
}
#else
void fillLinkTestPanel(QWidget *, int) {}
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    LiveDialog bench;
    if (!bench.open()) {
        std::fprintf(stderr, "cannot open the virtual module\n");
        return 1;
    }
    // Reached through what every log box offers (a scroll area with the plainText property and
    // the clear() slot), so that the same program measures any kind of box.
    auto *box = bench.dialog.findChild<QAbstractScrollArea *>(QStringLiteral("ReceiveOutBrowser"));
    const auto setText = [box](const QString &text) {
        QMetaObject::invokeMethod(box, "setPlainText", Q_ARG(QString, text));
    };

    QByteArray huge(500000, Qt::Uninitialized); // 1 MB/s for 500 ms
    for (int i = 0; i < huge.size(); ++i)
        huge[i] = char(i * 7);
    const QByteArray big = huge.left(11520);
    const struct
    {
        const char *name;
        QByteArray chunk;
    } chunks[] = {
        {"6-byte reply", protocol::commandFrame(0x01, 0x87, QByteArray(1, '\0'))},
        {"152-byte chunk", big.left(152)},
        {"11520-byte chunk", big},
        {"500000-byte chunk", huge},
    };

    // A window over a module link has read the bytes off the port before its tick: count them
    // as the link hands them over.
    auto *link = bench.dialog.findChild<serial::ModuleLink *>();
    qint64 arrived = 0;
    const int captureArg = QCoreApplication::arguments().indexOf(QStringLiteral("--capture"));
#ifdef BENCH_HAS_CAPTURE
    serial::Capture capture;
    if (captureArg > 0 && link) {
        if (!capture.open(QCoreApplication::arguments().value(captureArg + 1))) {
            std::fprintf(stderr, "cannot write the capture\n");
            return 1;
        }
        capture.attach(link); // before the timing below, which then includes its writes
        std::printf("capture on: %s\n", qPrintable(capture.path()));
    }
#else
    if (captureArg > 0) {
        std::fprintf(stderr, "this tree has no capture\n");
        return 1;
    }
#endif
    // The link's read of each chunk: from its bytes' arrival to the last item it scanned.
    QElapsedTimer readClock;
    qint64 readNs = 0, lastItemNs = 0;
    if (link) {
        readClock.start();
        QObject::connect(link, &serial::ModuleLink::bytesArrived,
                         [&arrived](const QByteArray &bytes) { arrived += bytes.size(); });
        QObject::connect(link, &serial::ModuleLink::bytesArrived, [&] {
            readClock.restart();
            lastItemNs = 0;
        });
#ifdef BENCH_HAS_CAPTURE
        QObject::connect(link, &serial::ModuleLink::scanned, [&] {
            readNs += readClock.nsecsElapsed() - lastItemNs;
            lastItemNs = readClock.nsecsElapsed();
        });
#endif
    }
    const auto waitForChunk = [&](qint64 count) {
        if (!link)
            return bench.waitForBytes(count);
        while (arrived < count)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            50);
        arrived = 0;
    };

    // A day of repeated sending at 500 ms in the panel: its figures, chart and record full.
    // Switched off again at once: no send ticks during the measurement; the panel stays.
    setRepeatedSendingOn(bench.dialog, true);
    setRepeatedSendingOn(bench.dialog, false);
    if (auto *panel = bench.dialog.findChild<QWidget *>(QStringLiteral("linkTestPanel")))
        fillLinkTestPanel(panel, 172800);
    QCoreApplication::processEvents();

    QString filled;
    for (int i = 0; i < 50000; ++i)
        filled += QStringLiteral("Recv->05 00 81 03 ab 00 00 2e \n向节点0x00ab发送数据SUCCESS!\n");

    // TICK_ONLY=N limits the run to the N-byte chunk with a full box, for a profiler.
    const int only = qEnvironmentVariableIntValue("TICK_ONLY");
    std::printf("%-18s %-12s %14s %18s %14s\n", "chunk", "box", "tick us", "tick+paint us",
                "link read us");
    for (const bool full : {false, true}) {
        for (const auto &c : chunks) {
            if (only && (!full || c.chunk.size() != only))
                continue;
            std::vector<double> tick, withPaint, linkRead;
            const int reps = (c.chunk.size() > 100000 ? 5
                              : c.chunk.size() > 1000 ? 30
                                                      : 200) *
                             (only ? 10 : 1);
            setText(full ? filled : QString());
            QCoreApplication::processEvents();
            // A live session has laid out every line it shows; so does the bench before timing.
            if (auto *edit = qobject_cast<QTextEdit *>(box))
                edit->document()->documentLayout()->blockBoundingRect(
                    edit->document()->lastBlock());
            // Watching the log: scrolled to the newest line, so new text is laid out and shown.
            box->verticalScrollBar()->setValue(box->verticalScrollBar()->maximum());
            QCoreApplication::processEvents();
            for (int r = 0; r < reps; ++r) {
                if (!full && r > 0) {
                    setText(QString());
                    QCoreApplication::processEvents();
                }
                readNs = 0;
                bench.module.sendUnsolicited(c.chunk);
                waitForChunk(c.chunk.size());
                linkRead.push_back(readNs / 1000.0);
                QElapsedTimer clock;
                clock.start();
                bench.invoke("readMyCom");
                tick.push_back(clock.nsecsElapsed() / 1000.0);
                QCoreApplication::sendPostedEvents();
                box->viewport()->repaint();
                withPaint.push_back(clock.nsecsElapsed() / 1000.0);
            }
            std::printf("%-18s %-12s %14.1f %18.1f %14.1f\n", c.name,
                        full ? "100000 lines" : "empty", medianOf(tick), medianOf(withPaint),
                        medianOf(linkRead));
        }
    }
    return 0;
}
