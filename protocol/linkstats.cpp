#include "linkstats.h"

#include <algorithm>
#include <cmath>

namespace rfcfg {

namespace {

// Buckets grow by 1 % from 1 microsecond; the last one takes everything from about 10 minutes.
constexpr double growth = 1.01;
constexpr double firstMs = 0.001;
constexpr int bucketCount = 2000;

int bucketOf(double ms)
{
    if (ms <= firstMs)
        return 0;
    const int b = int(std::log(ms / firstMs) / std::log(growth)) + 1;
    return std::min(b, bucketCount - 1);
}

// The middle of a bucket, in the logarithmic sense.
double bucketValue(int b)
{
    return b == 0 ? firstMs : firstMs * std::pow(growth, b - 0.5);
}

QString ms(double value)
{
    return QString::number(value, 'f', value < 10 ? 2 : 1);
}

} // namespace

LinkStats::LinkStats() : buckets(bucketCount, 0) {}

void LinkStats::addAnswer(int status, double latencyMs)
{
    ++sent_;
    if (status == 0)
        ++acknowledged_;
    else
        ++failed_, ++failures_[status];
    last_ = latencyMs;
    min_ = answered_ ? std::min(min_, latencyMs) : latencyMs;
    max_ = answered_ ? std::max(max_, latencyMs) : latencyMs;
    ++answered_;
    ++buckets[bucketOf(latencyMs)];
}

double LinkStats::percentileMs(double fraction) const
{
    if (!answered_)
        return 0;
    const qint64 rank = std::max<qint64>(1, qint64(std::ceil(fraction * answered_)));
    qint64 seen = 0;
    for (int b = 0; b < bucketCount; ++b) {
        seen += buckets[b];
        if (seen >= rank)
            return std::clamp(bucketValue(b), min_, max_);
    }
    return max_;
}

QString progressLine(const LinkStats &s)
{
    QString line = QStringLiteral("sent %1  acknowledged %2  failed %3  no reply %4")
                       .arg(s.sent())
                       .arg(s.acknowledged())
                       .arg(s.failed())
                       .arg(s.noReply());
    if (s.late() > 0)
        line += QStringLiteral("  late %1").arg(s.late());
    if (s.skipped() > 0)
        line += QStringLiteral("  skipped %1").arg(s.skipped());
    if (s.hasLatency())
        line += QStringLiteral("  last %1 ms").arg(ms(s.lastLatencyMs()));
    return line;
}

QString summaryText(const LinkStats &s, bool interrupted)
{
    QString text =
        interrupted ? QStringLiteral("interrupted after %1 frames\n").arg(s.sent()) : QString();
    text += QStringLiteral("sent %1, acknowledged %2, failed %3, no reply %4; delivery %5 %\n")
                .arg(s.sent())
                .arg(s.acknowledged())
                .arg(s.failed())
                .arg(s.noReply())
                .arg(QString::number(100.0 * s.deliveryRatio(), 'f', 1));
    for (auto it = s.failuresByStatus().begin(); it != s.failuresByStatus().end(); ++it)
        text += QString::asprintf("failed with status 0x%02x: %d\n", it.key(), it.value());
    if (s.late() > 0)
        text +=
            QStringLiteral("late reports: %1 (each after its send had timed out)\n").arg(s.late());
    if (s.skipped() > 0)
        text += QStringLiteral("skipped sends: %1 (the port still held the previous frame)\n")
                    .arg(s.skipped());
    if (s.hasLatency())
        text += QStringLiteral("latency ms: min %1, median %2, p95 %3, max %4\n")
                    .arg(ms(s.minimumMs()), ms(s.percentileMs(0.5)), ms(s.percentileMs(0.95)),
                         ms(s.maximumMs()));
    else
        text += QStringLiteral("latency: no answer\n");
    return text;
}

} // namespace rfcfg
