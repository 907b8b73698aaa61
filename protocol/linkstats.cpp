#include "protocol/linkstats.h"

#include "protocol/replyframe.h"

#include <algorithm>
#include <cmath>

namespace protocol {

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

std::optional<int> dataSentStatus(QByteArrayView frame)
{
    const ReplyFrame reply = decodeReplyFrame(frame);
    if (!reply.isReadable() || reply.kind != ReplyKind::DataSent || !reply.status)
        return std::nullopt;
    return *reply.status;
}

std::optional<int> LinkStats::addReply(QByteArrayView frame, double latencyMs)
{
    const std::optional<int> status = dataSentStatus(frame);
    if (status)
        addAnswer(*status, latencyMs);
    else
        addNoReply();
    return status;
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

} // namespace protocol
