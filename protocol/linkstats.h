#pragma once

#include <QMap>
#include <QString>

#include <vector>

namespace rfcfg {

// Counts and latencies of a link test. Latencies go into fixed logarithmic buckets, so the
// memory stays the same however long the test runs; median and 95th percentile are exact to
// within one bucket (under 1 %), minimum and maximum are exact.
class LinkStats
{
public:
    LinkStats();

    void addAnswer(int status, double latencyMs); // status 0: acknowledged
    void addNoReply() { ++sent_, ++noReply_; }
    // A report that came after its send had timed out; that send stays counted as no reply.
    void addLate() { ++late_; }
    // A send left out because the port still held the previous frame; not counted as sent.
    void addSkipped() { ++skipped_; }

    int sent() const { return sent_; }
    int acknowledged() const { return acknowledged_; }
    int failed() const { return failed_; }
    int noReply() const { return noReply_; }
    int late() const { return late_; }
    int skipped() const { return skipped_; }
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
        skipped_ = 0;
    double min_ = 0, max_ = 0, last_ = 0;
};

// The progress line of a running link test.
QString progressLine(const LinkStats &stats);

// The closing summary: counts and delivery ratio, late reports and skipped sends when there
// were any, then the latencies.
QString summaryText(const LinkStats &stats, bool interrupted);

} // namespace rfcfg
