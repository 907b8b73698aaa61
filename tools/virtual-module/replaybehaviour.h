#pragma once

#include "protocol/pcapng.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace vmodule {

// A module that plays back a capture: each request is answered with what followed the same
// request (the same bytes) in the capture, the Nth time it comes with what followed its Nth
// occurrence. Once the captured answers of a request are used up its last one is given again;
// a request the capture never saw gets no answer. Requests are the packets in the direction
// that carries request frames, so a capture taken by the program (requests outbound) and one
// taken by the virtual module (requests inbound) both play back.
class ReplayBehaviour
{
public:
    // What follows a request until the next request: each chunk with its delay after it.
    struct Chunk
    {
        qint64 delayUs = 0;
        QByteArray bytes;
    };
    using Answer = QList<Chunk>; // empty: the module stayed silent

    static std::optional<ReplayBehaviour> fromCapture(const protocol::pcapng::File &capture,
                                                      QString *error);
    static std::optional<ReplayBehaviour> fromFile(const QString &path, QString *error);

    // The answer to this occurrence of `request`; empty for one the capture never saw.
    Answer answer(const QByteArray &request);

    qsizetype requestCount() const { return requests; }
    qsizetype distinctRequests() const { return answers.size(); }

private:
    struct Queue
    {
        QList<Answer> answers;
        qsizetype next = 0;
    };
    QHash<QByteArray, Queue> answers;
    qsizetype requests = 0;
};

} // namespace vmodule
