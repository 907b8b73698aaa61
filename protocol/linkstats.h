#pragma once

#include <QByteArrayView>
#include <QMap>

#include <optional>
#include <vector>

namespace protocol {

// The status of a readable data-send report (0: delivered); nothing for any other frame, which
// a link test counts as no reply.
std::optional<int> dataSentStatus(QByteArrayView frame);

// Counts and latencies of a link test. Latencies go into fixed logarithmic buckets, so the
// memory stays the same however long the test runs; median and 95th percentile are exact to
// within one bucket (under 1 %), minimum and maximum are exact.
class LinkStats
{
public:
    LinkStats();

    void addAnswer(int status, double latencyMs); // status 0: acknowledged
    // The frame that answered a data send: a readable data-send report counts with its
    // status (which it returns), anything else as no reply.
    std::optional<int> addReply(QByteArrayView frame, double latencyMs);
    void addNoReply() { ++sent_, ++noReply_; }
    // A report that came after its send had timed out; that send stays counted as no reply.
    void addLate() { ++late_; }
    // A send left out because the port still held the previous frame; not counted as sent.
    void addSkipped() { ++skipped_; }
    // A time without the port, and the sends that would have gone out meanwhile.
    void addGap(qint64 missed)
    {
        ++gaps_;
        missed_ += missed;
    }

    int sent() const { return sent_; }
    int acknowledged() const { return acknowledged_; }
    int failed() const { return failed_; }
    int noReply() const { return noReply_; }
    int late() const { return late_; }
    int skipped() const { return skipped_; }
    int gaps() const { return gaps_; }
    qint64 missed() const { return missed_; }
    // Failures by the module's status code.
    const QMap<int, int> &failuresByStatus() const { return failures_; }
    double deliveryRatio() const { return sent_ ? double(acknowledged_) / sent_ : 0.0; }
    double lastLatencyMs() const { return last_; }

    bool hasLatency() const { return answered_ > 0; }
    double minimumMs() const { return min_; }
    double maximumMs() const { return max_; }
    // The smallest latency that at least `fraction` of the answers did not exceed.
    double percentileMs(double fraction) const;

private:
    std::vector<quint32> buckets;
    QMap<int, int> failures_;
    int sent_ = 0, acknowledged_ = 0, failed_ = 0, noReply_ = 0, answered_ = 0, late_ = 0,
        skipped_ = 0, gaps_ = 0;
    qint64 missed_ = 0;
    double min_ = 0, max_ = 0, last_ = 0;
};

} // namespace protocol
