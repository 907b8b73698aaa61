#include "replaybehaviour.h"

#include "protocol/frame.h"

namespace vmodule {

namespace {

using protocol::pcapng::Direction;

// A command frame without the reply bit, or the configuration-mode bytes.
bool isRequest(const QByteArray &bytes)
{
    if (bytes == protocol::enterConfigModeBytes())
        return true;
    return bytes.size() >= protocol::frameOverhead && protocol::checksumMatches(bytes) &&
           bytes.size() == protocol::frameOverhead + quint8(bytes[3]) &&
           !(quint8(bytes[2]) & protocol::replyBit);
}

} // namespace

std::optional<ReplayBehaviour> ReplayBehaviour::fromCapture(const protocol::pcapng::File &capture,
                                                            QString *error)
{
    // The side the requests went: the direction that holds more of them.
    qsizetype outbound = 0, inbound = 0;
    for (const auto &p : capture.packets) {
        if (isRequest(p.bytes))
            (p.direction == Direction::Outbound ? outbound : inbound) += 1;
    }
    if (outbound == 0 && inbound == 0) {
        if (error)
            *error = QStringLiteral("the capture holds no request");
        return std::nullopt;
    }
    const Direction requestSide = outbound >= inbound ? Direction::Outbound : Direction::Inbound;
    ReplayBehaviour replay;
    std::optional<QByteArray> current; // the request whose answer is being gathered
    qint64 requestAtUs = 0;
    for (const auto &p : capture.packets) {
        if (p.direction == requestSide) {
            current.reset();
            if (!isRequest(p.bytes))
                continue;
            replay.answers[p.bytes].answers.append(Answer());
            current = p.bytes;
            requestAtUs = p.timestampUs;
            ++replay.requests;
        } else if (current) {
            replay.answers[*current].answers.last().append(
                {qMax<qint64>(0, p.timestampUs - requestAtUs), p.bytes});
        }
    }
    return replay;
}

std::optional<ReplayBehaviour> ReplayBehaviour::fromFile(const QString &path, QString *error)
{
    const auto file = protocol::pcapng::readFile(path, error);
    if (!file)
        return std::nullopt;
    auto replay = fromCapture(*file, error);
    if (!replay && error)
        *error = path + QStringLiteral(": ") + *error;
    return replay;
}

ReplayBehaviour::Answer ReplayBehaviour::answer(const QByteArray &request)
{
    const auto it = answers.find(request);
    if (it == answers.end() || it->answers.isEmpty())
        return {};
    const qsizetype index = qMin(it->next, it->answers.size() - 1);
    it->next = index + 1;
    return it->answers[index];
}

} // namespace vmodule
