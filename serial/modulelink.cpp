#include "serial/modulelink.h"

#include "serial/portnames.h"

#include "protocol/frame.h"
#include "protocol/replyframe.h"
#include "serial/linesettings.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace serial {

namespace {

// The module's time to act on a request, on top of the bytes' time on the line.
constexpr int moduleTurnaroundMs = 1000;
// Slack for the event loop on top of a frame's time on the line.
constexpr int eventLoopMarginMs = 200;
constexpr int stallMarginMs = 300;
// The longest frame a header can announce.
constexpr int largestFrame = protocol::frameOverhead + 255;
// A command-line wait looks at its stop request this often.

constexpr qint64 nsPerMs = 1'000'000;

int lineTime(qint64 bytes, const LineSettings &s)
{
    return lineTimeMs(bytes, s.baudRate, s.parity, s.stopBits);
}

} // namespace

int replyDeadlineMs(QByteArrayView request, const LineSettings &settings)
{
    return moduleTurnaroundMs + lineTime(request.size(), settings) +
           lineTime(protocol::longestReplyLength(request), settings);
}

ModuleLink::ModuleLink(QObject *parent) : QObject(parent)
{
    clock.start();
    serialPort = new QSerialPort(this);
    serialPort->setObjectName(QStringLiteral("myCom"));
    timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &ModuleLink::onTimer);
    connect(serialPort, &QSerialPort::readyRead, this, &ModuleLink::readIncoming);
    connect(serialPort, &QSerialPort::errorOccurred, this, &ModuleLink::onPortError);
    connect(serialPort, &QSerialPort::bytesWritten, this, &ModuleLink::onBytesWritten);
    resetScanner();
}

void ModuleLink::resetScanner()
{
    scanner = protocol::FrameScanner();
    scanner.setReportsSkipped(true);
}

ModuleLink::~ModuleLink() = default;

std::optional<OpenFailure> ModuleLink::open(const QString &portName,
                                            const LineSettings &lineSettings)
{
    if (linkState != State::Closed)
        return OpenFailure{
            QSerialPort::OpenError, QStringLiteral("the link is already open"), 0, {}};
    // A path too long for the port's lock file opens through its device's own name.
    serialPort->setPortName(lockablePortName(portName));
    // Settings given to a closed port take effect as it opens.
    setLineSettings(lineSettings);
    if (!serialPort->open(QIODevice::ReadWrite))
        return probeOpenFailure(*serialPort);
    // Bytes the device held from before the open answer nothing sent on this link.
    serialPort->clear(QSerialPort::Input);
    resetScanner();
    openedPath = portName;
    headerSinceNs.reset();
    setState(State::Open);
    return std::nullopt;
}

bool ModuleLink::setLineSettings(const LineSettings &lineSettings)
{
    bool ok = serialPort->setBaudRate(lineSettings.baudRate);
    ok = serialPort->setParity(lineSettings.parity) && ok;
    ok = serialPort->setStopBits(lineSettings.stopBits) && ok;
    ok = serialPort->setDataBits(QSerialPort::Data8) && ok;
    ok = serialPort->setFlowControl(QSerialPort::NoFlowControl) && ok;
    if (!ok)
        serialPort->clearError(); // a refused setting is no fault of the device
    // What the port holds now, refused settings left as they were.
    settings = {serialPort->baudRate(), serialPort->parity(), serialPort->stopBits()};
    return ok;
}

void ModuleLink::close()
{
    if (linkState != State::Open)
        return;
    pending.clear();
    const qint64 queued = serialPort->bytesToWrite();
    if (queued == 0) {
        finishClose();
        return;
    }
    // Closing now would cut the frame in two: wait until it is out, at most its line time.
    closeByNs = nowNs() + qint64(lineTime(queued, settings) + eventLoopMarginMs) * nsPerMs;
    setState(State::Closing);
    rearmTimer();
}

void ModuleLink::finishClose()
{
    timer->stop();
    pending.clear();
    overdue.reset();
    headerSinceNs.reset();
    if (serialPort->isOpen())
        serialPort->close();
    setState(State::Closed);
}

void ModuleLink::setState(State state)
{
    if (linkState == state)
        return;
    linkState = state;
    emit stateChanged(state);
}

std::optional<ModuleLink::RequestId> ModuleLink::sendRequest(const QByteArray &frame,
                                                             std::optional<int> timeoutMs)
{
    if (linkState != State::Open)
        return std::nullopt;
    overdue.reset(); // from this send on, a reply that matches answers it
    const qint64 sentNs = nowNs();
    if (serialPort->write(frame) != frame.size())
        return std::nullopt;
    emit sent(frame);
    const int timeout = timeoutMs.value_or(replyDeadlineMs(frame, settings));
    Pending entry{{++lastId, frame, sentNs, timeout}, sentNs + qint64(timeout) * nsPerMs};
    pending.append(entry);
    rearmTimer();
    return entry.request.id;
}

bool ModuleLink::writeRaw(const QByteArray &bytes)
{
    if (linkState != State::Open || serialPort->write(bytes) != bytes.size())
        return false;
    emit sent(bytes);
    return true;
}

bool ModuleLink::writeQueueEmpty() const
{
    return !serialPort->isOpen() || serialPort->bytesToWrite() == 0;
}

bool ModuleLink::canSendNow() const
{
    return linkState == State::Open && serialPort->bytesToWrite() == 0;
}

void ModuleLink::readIncoming()
{
    // A closing link takes nothing more in; its requests are gone.
    if (linkState != State::Open)
        return;
    const QByteArray bytes = serialPort->readAll();
    if (bytes.isEmpty())
        return;
    const QPointer<ModuleLink> alive(this);
    emit bytesArrived(bytes);
    if (!alive || linkState != State::Open)
        return;
    const qsizetype skippedBefore = scanner.skippedBytes();
    const QList<protocol::StreamItem> items = scanner.feed(bytes);
    // The time of an unfinished frame runs from its header, not from the latest bytes.
    if (!scanner.hasPendingBytes())
        headerSinceNs.reset();
    else if (!headerSinceNs || !items.isEmpty() || scanner.skippedBytes() != skippedBefore)
        headerSinceNs = nowNs();
    if (handleItems(items))
        rearmTimer();
}

bool ModuleLink::handleItems(const QList<protocol::StreamItem> &items)
{
    const QPointer<ModuleLink> alive(this);
    for (const protocol::StreamItem &item : items) {
        emit scanned(item);
        if (!alive || linkState != State::Open)
            return false;
        if (item.isSkipped())
            continue;
        handleFrame(item.frame);
        if (!alive || linkState != State::Open)
            return false;
    }
    return true;
}

void ModuleLink::handleFrame(const QByteArray &frame)
{
    // The oldest request it answers: a late reply cannot be taken for a newer request's.
    for (qsizetype i = 0; i < pending.size(); ++i) {
        if (protocol::answers(pending[i].request.frame, frame)) {
            const Request request = pending.takeAt(i).request;
            emit answered(request, frame, nowNs() - request.sentNs);
            return;
        }
    }
    if (overdue && protocol::answers(overdue->frame, frame)) {
        const Request request = *std::exchange(overdue, std::nullopt);
        emit lateReply(request, frame);
        return;
    }
    emit unsolicited(frame);
}

void ModuleLink::onPortError(QSerialPort::SerialPortError error)
{
    if (!isDeviceLost(error) || linkState == State::Closed)
        return;
    // A lost device takes nothing more: a frame in flight cannot finish, no request is answered.
    const bool wasOpen = linkState == State::Open;
    const QString reason = serialPort->errorString();
    const QPointer<ModuleLink> alive(this);
    timer->stop();
    pending.clear();
    overdue.reset();
    headerSinceNs.reset();
    serialPort->close();
    linkState = State::Closed;
    if (wasOpen)
        emit lost(reason);
    if (alive)
        emit stateChanged(State::Closed);
}

void ModuleLink::onBytesWritten()
{
    if (linkState == State::Closing && serialPort->bytesToWrite() == 0)
        finishClose();
}

void ModuleLink::onTimer()
{
    if (linkState == State::Closing) {
        if (nowNs() >= closeByNs)
            finishClose();
        else
            rearmTimer();
        return;
    }
    if (linkState != State::Open)
        return;
    const QPointer<ModuleLink> alive(this);
    if (headerSinceNs && nowNs() - *headerSinceNs >= stallLimitNs())
        dropStalledHeader();
    if (!alive || linkState != State::Open)
        return;
    expireDue();
    if (alive && linkState == State::Open)
        rearmTimer();
}

void ModuleLink::dropStalledHeader()
{
    // A header that promised more bytes than came is noise; resynchronise on what follows it.
    const QList<protocol::StreamItem> items = scanner.giveUpStalledHeader();
    handleAfterStall(items, nowNs());
}

void ModuleLink::expireDue()
{
    const qint64 now = nowNs();
    const auto due = [now](const Pending &entry) { return entry.deadlineNs <= now; };
    if (scanner.hasPendingBytes() && std::any_of(pending.cbegin(), pending.cend(), due)) {
        const QPointer<ModuleLink> alive(this);
        takeReplyBehindStrayHeader(now);
        if (!alive || linkState != State::Open)
            return;
    }
    QList<Request> expired;
    for (qsizetype i = 0; i < pending.size();) {
        if (pending[i].deadlineNs <= now)
            expired << pending.takeAt(i).request;
        else
            ++i;
    }
    if (tracksLateReplies && !expired.isEmpty())
        overdue = expired.constLast();
    for (const Request &request : expired)
        emit noReply(request);
}

void ModuleLink::takeReplyBehindStrayHeader(qint64 now)
{
    // The header may be a frame still arriving, so it is given up before its time only when the
    // bytes behind it hold a reply that is due now.
    protocol::FrameScanner trial = scanner;
    const QList<protocol::StreamItem> items = trial.giveUpStalledHeader();
    const bool answersDue = std::any_of(items.cbegin(), items.cend(), [&](const auto &item) {
        return !item.isSkipped() &&
               std::any_of(pending.cbegin(), pending.cend(), [&](const Pending &entry) {
                   return entry.deadlineNs <= now &&
                          protocol::answers(entry.request.frame, item.frame);
               });
    });
    if (!answersDue)
        return;
    scanner = trial;
    handleAfterStall(items, now);
}

void ModuleLink::handleAfterStall(const QList<protocol::StreamItem> &items, qint64 now)
{
    // What still waits in the scanner is a new header, timed from now.
    if (scanner.hasPendingBytes())
        headerSinceNs = now;
    else
        headerSinceNs.reset();
    handleItems(items);
}

qint64 ModuleLink::stallLimitNs() const
{
    // Even the longest frame a header can announce has had time to arrive whole.
    return qint64(lineTime(largestFrame, settings) + stallMarginMs) * nsPerMs;
}

void ModuleLink::rearmTimer()
{
    std::optional<qint64> next;
    const auto consider = [&next](qint64 at) { next = next ? std::min(*next, at) : at; };
    if (linkState == State::Closing)
        consider(closeByNs);
    if (linkState == State::Open) {
        for (const Pending &entry : pending)
            consider(entry.deadlineNs);
        if (headerSinceNs)
            consider(*headerSinceNs + stallLimitNs());
    }
    if (!next) {
        timer->stop();
        return;
    }
    const qint64 remainingNs = std::max<qint64>(0, *next - nowNs());
    timer->start(int((remainingNs + nsPerMs - 1) / nsPerMs));
}

void ModuleLink::setTracksLateReplies(bool on)
{
    tracksLateReplies = on;
    if (!on)
        overdue.reset();
}

} // namespace serial
