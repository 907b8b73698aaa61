#pragma once

#include "protocol/linkstats.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QScrollBar;
class QTimer;

// Every send of one link-test run in send order, 8 bytes each (a week at 500 ms is under
// 10 MB): when it went out, and its report's status and latency once it is settled. Held in
// fixed blocks, so that a send never moves the ones before it.
class LinkTestRecord
{
public:
    enum class Outcome { Pending, Answered, NoReply };
    struct Send
    {
        qint64 atMs = 0; // from the start of the run
        Outcome outcome = Outcome::Pending;
        int status = 0;       // Answered only
        double latencyMs = 0; // Answered only, to 10 µs
        quint16 target = 0;
    };

    void clear();
    // A new send at atMs (never before the last one) to `target`; its index.
    qsizetype add(qint64 atMs, quint16 target);
    void settle(qsizetype index, std::optional<int> status, double latencyMs);
    qsizetype size() const { return count; }
    Send at(qsizetype index) const;
    // The first send at or after atMs (size() when none): a binary search.
    qsizetype firstAtOrAfter(qint64 atMs) const;
    qint64 bytesHeld() const;

private:
    struct Packed
    {
        quint32 atMs;
        quint32 word; // latency in 10 µs (24 bits, or a marker below), status (8 bits)
    };
    static constexpr quint32 pendingMark = 0xffffff;
    static constexpr quint32 noReplyMark = 0xfffffe;
    static constexpr quint32 longestLatency = 0xfffffd;
    static constexpr qsizetype blockSize = 8192;

    Packed &packed(qsizetype index)
    {
        return blocks[size_t(index / blockSize)][size_t(index % blockSize)];
    }
    const Packed &packed(qsizetype index) const
    {
        return blocks[size_t(index / blockSize)][size_t(index % blockSize)];
    }

    std::vector<std::unique_ptr<Packed[]>> blocks;
    // The target from a send on, for each change of target: a run rarely has more than one.
    std::vector<std::pair<qsizetype, quint16>> targets;
    qsizetype count = 0;
};

// A time a run spent without its port, from the start of the run.
struct LinkTestGap
{
    qint64 atMs = 0;
    qint64 lengthMs = -1; // -1: still going
    qint64 missed = 0;
};

class LatencyChart;

// The link test of repeated sending, as it runs: counts, delivery ratio and latencies (with
// rfcfg's arithmetic), a chart of each send's latency over time with failures and missing
// replies marked (the last hour in view, scrollable), and an export of the run as CSV.
// Widget-free of the port: the window tells it of each send and how it ended.
class LinkTestPanel : public QWidget
{
    Q_OBJECT

public:
    explicit LinkTestPanel(QWidget *parent = nullptr);
    ~LinkTestPanel() override;

    // Drops the previous run and shows the panel.
    void start();
    // The run's sends: the index of a new one, then how it ended (a status from the module's
    // report, or none when no readable report came).
    qsizetype recordSend(quint16 target);
    // The same at a given time from the start of the run (a replay, a benchmark).
    qsizetype recordSendAt(qint64 atMs, quint16 target);
    void recordReply(qsizetype index, std::optional<int> status, double latencyMs);
    void recordNoReply(qsizetype index);
    // A report that came after its send was counted as no reply; the send stays counted so.
    void recordLate();
    // A send left out because the port still held the previous frame.
    void recordSkipped();
    // The port went away: the run waits for it.
    void recordPause();
    // The gap is over (the run goes on, or ended in it).
    void recordGap(qint64 lengthMs, qint64 missed, bool resumed);
    // The run's line under the figures: why it ended, or that it waits.
    void showStatus(const QString &text);
    // Where the run is recorded as it goes, or why it is not.
    void showRecord(const QString &text);

    const protocol::LinkStats &stats() const { return linkStats; }
    const LinkTestRecord &record() const { return sends; }
    const std::vector<LinkTestGap> &gaps() const { return gapList; }
    QDateTime startedAt() const { return wallStart; }
    // The figures as shown, by name (for the curious and the tests).
    QString figure(const char *name) const;

    // The run as CSV: time, sequence number, target, status, latency in ms (empty without a
    // report); false with the reason when the file could not be written.
    bool exportCsv(const QString &path, QString *error = nullptr) const;

public slots:
    void exportAs();
    // Drops the run and hides the panel.
    void clearRun();

private:
    void changed();
    void refresh();

    protocol::LinkStats linkStats;
    LinkTestRecord sends;
    std::vector<LinkTestGap> gapList;
    QDateTime wallStart;
    QElapsedTimer clock;
    QTimer *refreshTimer = nullptr;
    LatencyChart *chart = nullptr;
    QScrollBar *scroll = nullptr;
    QLabel *sentLabel, *deliveredLabel, *failedLabel, *noReplyLabel, *lateLabel, *ratioLabel,
        *latencyLabel, *gapLabel, *statusLabel, *recordLabel;
};
