#include "virtualmodule.h"

#include "ptyline.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vmodule {

namespace {

// A header whose frame has not come in full this long after the header is given up.
constexpr int stallMs = 200;

} // namespace

VirtualModule::VirtualModule(Network network, QObject *parent)
    : QObject(parent), module(std::move(network))
{
    stallTimer.setSingleShot(true);
    connect(&stallTimer, &QTimer::timeout, this, &VirtualModule::giveUpStalledBytes);
    clock.start();
    scanner.setReportsSkipped(true);
}

VirtualModule::~VirtualModule()
{
    hangUp();
}

bool VirtualModule::start()
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return false;
    }
    termios raw{};
    tcgetattr(slaveFd, &raw);
    cfmakeraw(&raw);
    tcsetattr(slaveFd, TCSANOW, &raw);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    slavePath = QString::fromLocal8Bit(name);
    linkDir = std::make_unique<QTemporaryDir>();
    // The link's name is unique, as serial-port lock files are named after it.
    linkPath = linkDir->filePath(QFileInfo(linkDir->path()).fileName() + QStringLiteral(".tty"));
    if (!linkDir->isValid() || !QFile::link(slavePath, linkPath)) {
        hangUp();
        return false;
    }
    notifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &VirtualModule::onReadable);
    writeNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &VirtualModule::flushOutgoing);
    return true;
}

void VirtualModule::hangUp()
{
    stallTimer.stop();
    delete notifier;
    notifier = nullptr;
    delete writeNotifier;
    writeNotifier = nullptr;
    outgoing.clear();
    outgoingWritten = 0;
    arrivals.clear();
    if (slaveFd >= 0)
        ::close(slaveFd);
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = slaveFd = -1;
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
}

void VirtualModule::onReadable()
{
    char buffer[4096];
    QByteArray bytes;
    for (;;) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: drained
    }
    if (bytes.isEmpty())
        return;
    // A record written just now applies from the next bytes on: its reply went out already.
    if (lineCheck && !lineMatchesRecord()) {
        ignored += quint64(bytes.size());
        const PtyLine line = readPtyLine(masterFd).value_or(PtyLine{});
        emit bytesIgnored(bytes, line.baudRate, line.twoStopBits);
        return;
    }
    bytesRead += quint64(bytes.size());
    arrivals.push_back({bytesRead, clock.elapsed()});
    handle(scanner.feed(bytes));
}

bool VirtualModule::lineMatchesRecord() const
{
    const auto line = readPtyLine(masterFd);
    const ModuleBehaviour::SerialSettings stored = module.serialSettings();
    return line && qint64(line->baudRate) == stored.baudRate &&
           line->twoStopBits == stored.twoStopBits;
}

void VirtualModule::handle(const QList<Request> &requests)
{
    for (const Request &request : requests) {
        if (request.isSkipped()) { // counted by the scanner
            emit bytesSkipped(request);
            continue;
        }
        bytesInRequests += quint64(request.frame.size());
        emit requestReceived(request.frame);
        ++handled;
        if (respond) {
            respond(request);
            continue;
        }
        const QByteArray reply = module.handle(request);
        if (!reply.isEmpty())
            deliver(reply);
    }
    if (scanner.hasPendingBytes()) {
        // Bytes that keep trickling in behind a stalled header do not put off giving it up.
        stallTimer.start(int(qMax<qint64>(0, stallMs - firstPendingByteAgeMs())));
    } else {
        stallTimer.stop();
        arrivals.clear();
    }
}

qint64 VirtualModule::firstPendingByteAgeMs()
{
    const quint64 consumed = bytesInRequests + quint64(scanner.skippedBytes());
    while (!arrivals.empty() && arrivals.front().end <= consumed)
        arrivals.pop_front();
    return arrivals.empty() ? 0 : clock.elapsed() - arrivals.front().atMs;
}

void VirtualModule::giveUpStalledBytes()
{
    QList<Request> found;
    while (scanner.hasPendingBytes() && !protocol::holdsFound(found) &&
           firstPendingByteAgeMs() >= stallMs)
        protocol::appendItems(found, scanner.dropStalledByte());
    handle(found);
}

void VirtualModule::deliver(QByteArray reply)
{
    if (dropNext) {
        dropNext = false;
        return;
    }
    if (corruptNext) {
        corruptNext = false;
        reply.back() = char(reply.back() ^ 0xff);
    }
    const int gap = splitGapMs;
    splitGapMs = -1;
    auto send = [this, reply, gap] {
        if (gap < 0) {
            writeNow(reply);
            return;
        }
        const qsizetype half = reply.size() / 2;
        writeNow(reply.left(half));
        QTimer::singleShot(gap, this, [this, rest = reply.mid(half)] { writeNow(rest); });
    };
    if (replyDelayMs > 0)
        QTimer::singleShot(replyDelayMs, this, send);
    else
        send();
}

void VirtualModule::writeNow(const QByteArray &bytes)
{
    if (masterFd < 0 || bytes.isEmpty())
        return;
    outgoing.append(bytes);
    // The first message may be partly on the line already; drop from the one after it.
    while (outgoing.size() > maxQueuedReplies) {
        ++dropped;
        emit replyDropped(outgoing.takeAt(1));
    }
    if (outgoing.size() == 1)
        flushOutgoing();
}

void VirtualModule::flushOutgoing()
{
    // A reply goes out in one write whenever the line has room for it; what a full line does
    // not take yet follows as soon as it drains.
    while (!outgoing.isEmpty() && masterFd >= 0) {
        const QByteArray &message = outgoing.first();
        const ssize_t n = ::write(masterFd, message.constData() + outgoingWritten,
                                  size_t(message.size() - outgoingWritten));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        outgoingWritten += n;
        if (outgoingWritten < message.size())
            break;
        const QByteArray sent = outgoing.takeFirst();
        outgoingWritten = 0;
        emit replySent(sent);
    }
    if (writeNotifier)
        writeNotifier->setEnabled(!outgoing.isEmpty());
}

void VirtualModule::sendNoise(int count)
{
    QByteArray noise(count, Qt::Uninitialized);
    for (char &c : noise)
        c = char(QRandomGenerator::global()->bounded(256));
    writeNow(noise);
}

} // namespace vmodule
