#include "serial/discovery.h"

#include "protocol/configrecord.h"
#include "protocol/frame.h"
#include "serial/devicelock.h"
#include "serial/linesettings.h"

#include <QEventLoop>
#include <QTimer>

#include <cstring>

namespace serial {

namespace {

// A module answers a version request within this on top of the bytes' time on the line.
constexpr int probeTurnaroundMs = 100;
constexpr int stopPollMs = 50;

const QByteArray &versionRequest()
{
    static const QByteArray frame =
        protocol::commandFrame(protocol::group::module, protocol::code::readVersion);
    return frame;
}

} // namespace

bool sameSettings(const LineSettings &a, const LineSettings &b)
{
    return a.baudRate == b.baudRate && a.parity == b.parity && a.stopBits == b.stopBits;
}

std::optional<LineSettings> moduleSerialSettings(const protocol::ModuleConfig &config)
{
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity};
    if (config.uartBaud < 0 || config.uartBaud >= int(protocol::uartBaudRates.size()) ||
        config.uartParity < 0 || config.uartParity > 2 || config.uartStopBits < 0 ||
        config.uartStopBits > 1)
        return std::nullopt;
    return LineSettings{protocol::uartBaudRates[config.uartBaud], parities[config.uartParity],
                        config.uartStopBits == 1 ? QSerialPort::TwoStop : QSerialPort::OneStop};
}

LineSettings factorySettings()
{
    return {9600, QSerialPort::EvenParity, QSerialPort::OneStop};
}

QList<LineSettings> discoveryOrder(bool quick)
{
    QList<LineSettings> order = {factorySettings(),
                                 {9600, QSerialPort::NoParity, QSerialPort::OneStop},
                                 {115200, QSerialPort::NoParity, QSerialPort::OneStop}};
    if (quick)
        return order;
    // Parity last: a line that cannot tell parities (a pseudo-terminal) meets the module's
    // rate and stop bits at the first of the three.
    for (const auto stop : {QSerialPort::OneStop, QSerialPort::TwoStop}) {
        for (const qint32 rate : protocol::uartBaudRates) {
            for (const auto parity :
                 {QSerialPort::NoParity, QSerialPort::EvenParity, QSerialPort::OddParity}) {
                const LineSettings s{rate, parity, stop};
                if (std::none_of(order.cbegin(), order.cend(),
                                 [&](const LineSettings &o) { return sameSettings(o, s); }))
                    order << s;
            }
        }
    }
    return order;
}

int probeDeadlineMs(const LineSettings &s)
{
    const QByteArray &request = versionRequest();
    return lineTimeMs(request.size(), s.baudRate, s.parity, s.stopBits) +
           lineTimeMs(protocol::longestReplyLength(request), s.baudRate, s.parity, s.stopBits) +
           probeTurnaroundMs;
}

QString settingsText(const LineSettings &s)
{
    const QString parity = s.parity == QSerialPort::OddParity    ? QStringLiteral("ODD")
                           : s.parity == QSerialPort::EvenParity ? QStringLiteral("EVEN")
                                                                 : QStringLiteral("NONE");
    return QStringLiteral("%1 %2 %3")
        .arg(s.baudRate)
        .arg(parity)
        .arg(s.stopBits == QSerialPort::TwoStop ? 2 : 1);
}

// One port's search. A reply that comes after its setting's time may be taken for the next
// setting's: so a reply after the first try is confirmed by a second request, and when that
// one goes unanswered the setting before is asked again with the full deadline.
struct Discovery::Search
{
    enum class Phase { Probe, Confirm, StepBack };
    enum class State { Waiting, Open, Done };
    int index = 0; // in results
    ModuleLink *link = nullptr;
    DeviceLock lock;
    int next = 0;     // the next setting to try
    int current = -1; // the setting of the request in flight
    int resumeAt = 0; // where a step back continues
    Phase phase = Phase::Probe;
    State state = State::Waiting;
};

Discovery::Discovery(const QStringList &ports, const QList<LineSettings> &order, QObject *parent)
    : QObject(parent), ports(ports), order(order)
{
    qRegisterMetaType<serial::LineSettings>();
    qRegisterMetaType<serial::PortFinding>();
}

Discovery::~Discovery()
{
    qDeleteAll(searches);
}

int Discovery::triesMade() const
{
    int n = 0;
    for (const PortFinding &f : results)
        n += f.tried;
    return n;
}

void Discovery::start()
{
    if (running)
        return;
    running = true;
    cancelled = false;
    results.clear();
    qDeleteAll(searches);
    searches.clear();
    waiting.clear();
    openNow = 0;
    doneCount = 0;
    limit = maxOpen > 0 ? maxOpen : portsOpenAtOnce();
    for (int i = 0; i < ports.size(); ++i) {
        results.append({ports[i], std::nullopt, {}, 0, {}, false});
        auto *search = new Search;
        search->index = i;
        search->link = new ModuleLink(this);
        searches << search;
        waiting << search;
        connect(search->link, &ModuleLink::answered, this,
                [this, search](const ModuleLink::Request &, const QByteArray &reply, qint64) {
                    // Handled after the link's own read is done with the frame.
                    QMetaObject::invokeMethod(
                        this, [this, search, reply] { onAnswered(*search, reply); },
                        Qt::QueuedConnection);
                });
        connect(search->link, &ModuleLink::noReply, this, [this, search] {
            QMetaObject::invokeMethod(
                this, [this, search] { onNoReply(*search); }, Qt::QueuedConnection);
        });
        connect(search->link, &ModuleLink::lost, this,
                [this, search](const QString &reason) { finish(*search, reason); });
    }
    startWaiting();
}

void Discovery::startWaiting()
{
    if (starting)
        return; // a port that ended while starting: the loop below goes on
    starting = true;
    while (running && !cancelled && openNow < limit && !waiting.isEmpty())
        begin(*waiting.takeFirst());
    starting = false;
    if (running && doneCount == searches.size()) {
        running = false;
        emit finished();
    }
}

void Discovery::begin(Search &search)
{
    PortFinding &finding = results[search.index];
    // A held device is left as it is: opening it would change its settings under its holder.
    search.lock = DeviceLock(ports[search.index]);
    if (search.lock.heldElsewhere()) {
        finding.busy = true;
        finish(search, search.lock.reason());
        return;
    }
    if (order.isEmpty()) {
        finish(search);
        return;
    }
    int shortage = search.lock.outOfDescriptors() ? search.lock.error() : 0;
    if (shortage == 0) {
        if (const auto failure = search.link->open(ports[search.index], order.first())) {
            if (failure->descriptorError == 0) {
                // A program that locks the port its own way (a lock file) holds it as well.
                finding.busy = portInUse(*failure);
                finish(search, failure->systemText);
                return;
            }
            shortage = failure->descriptorError;
        }
    }
    if (shortage != 0) {
        search.lock.release();
        // The ports open now give their descriptors back as they end: this one waits for them,
        // and no more are opened at once than are open now.
        if (openNow > 0) {
            limit = openNow;
            waiting.prepend(&search);
            return;
        }
        finish(search, QString::fromLocal8Bit(std::strerror(shortage)));
        return;
    }
    search.state = Search::State::Open;
    ++openNow;
    tryNext(search);
}

void Discovery::cancel()
{
    if (!running)
        return;
    cancelled = true;
    waiting.clear();
    for (Search *search : std::as_const(searches)) {
        if (search->state != Search::State::Done)
            finish(*search);
    }
}

void Discovery::ask(Search &search, const LineSettings &settings, int timeoutMs)
{
    ModuleLink &link = *search.link;
    link.setLineSettings(settings);
    if (!link.sendRequest(versionRequest(), timeoutMs))
        finish(search, link.port()->errorString());
}

void Discovery::tryNext(Search &search)
{
    if (search.state != Search::State::Open)
        return;
    if (search.next >= order.size()) {
        finish(search);
        return;
    }
    search.current = search.next++;
    search.phase = Search::Phase::Probe;
    const LineSettings &settings = order[search.current];
    emit trying(results[search.index].port, settings, search.current + 1, int(order.size()));
    ask(search, settings, probeDeadlineMs(settings));
    // A request the port did not take tried nothing.
    if (search.state == Search::State::Open || results[search.index].failure.isEmpty())
        ++results[search.index].tried;
}

void Discovery::onAnswered(Search &search, const QByteArray &reply)
{
    if (search.state != Search::State::Open)
        return;
    const protocol::ReplyFrame frame = protocol::decodeReplyFrame(reply);
    if (!frame.isReadable() || !frame.version) {
        onNoReply(search);
        return;
    }
    const LineSettings &settings = order[search.current];
    if (search.phase == Search::Phase::Probe && search.current > 0) {
        search.phase = Search::Phase::Confirm;
        ask(search, settings, replyDeadlineMs(versionRequest(), settings));
        return;
    }
    PortFinding &finding = results[search.index];
    finding.settings = settings;
    finding.version = *frame.version;
    finish(search);
}

void Discovery::onNoReply(Search &search)
{
    if (search.state != Search::State::Open)
        return;
    switch (search.phase) {
    case Search::Phase::Probe:
        tryNext(search);
        return;
    case Search::Phase::Confirm: {
        // The answer was late, so it may have been the setting before's.
        search.resumeAt = search.current + 1;
        search.current -= 1;
        search.phase = Search::Phase::StepBack;
        const LineSettings &settings = order[search.current];
        ask(search, settings, replyDeadlineMs(versionRequest(), settings));
        return;
    }
    case Search::Phase::StepBack:
        search.next = search.resumeAt;
        tryNext(search);
        return;
    }
}

void Discovery::finish(Search &search, const QString &failure)
{
    if (search.state == Search::State::Done)
        return;
    if (search.state == Search::State::Open)
        --openNow;
    search.state = Search::State::Done;
    ++doneCount;
    results[search.index].failure = failure;
    search.link->close();
    search.lock.release();
    emit portFinished(results[search.index]);
    startWaiting();
}

void Discovery::run(const std::function<bool()> &stopRequested)
{
    QEventLoop loop;
    connect(this, &Discovery::finished, &loop, &QEventLoop::quit);
    QTimer stopPoll;
    connect(&stopPoll, &QTimer::timeout, &loop, [&] {
        if (stopRequested && stopRequested())
            cancel();
    });
    stopPoll.start(stopPollMs);
    start();
    if (running)
        loop.exec();
}

} // namespace serial
