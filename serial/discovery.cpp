#include "serial/discovery.h"

#include "protocol/configfields.h"
#include "protocol/frame.h"
#include "serial/linesettings.h"

#include <QEventLoop>
#include <QTimer>

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
    // Read from the command line's texts: a value outside its list (unknown(N)) is none of them.
    bool isRate = false;
    const qint32 rate = protocol::configValue(config, QStringLiteral("uart_baud")).toInt(&isRate);
    const auto parity =
        parityFromText(protocol::configValue(config, QStringLiteral("uart_parity")).toUpper());
    const auto stopBits =
        stopBitsFromText(protocol::configValue(config, QStringLiteral("uart_stop_bits")));
    if (!isRate || !parity || !stopBits)
        return std::nullopt;
    return LineSettings{rate, *parity, *stopBits};
}

LineSettings factorySettings()
{
    return *moduleSerialSettings(protocol::factoryConfig());
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
        for (const qint32 rate : protocol::configField(QStringLiteral("uart_baud"))->values) {
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
    int index = 0; // in results
    ModuleLink *link = nullptr;
    int next = 0;     // the next setting to try
    int current = -1; // the setting of the request in flight
    int resumeAt = 0; // where a step back continues
    Phase phase = Phase::Probe;
    bool done = false;
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
    for (int i = 0; i < ports.size(); ++i) {
        results.append({ports[i], std::nullopt, {}, 0, {}});
        auto *search = new Search;
        search->index = i;
        search->link = new ModuleLink(this);
        searches << search;
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
    if (ports.isEmpty()) {
        running = false;
        emit finished();
        return;
    }
    for (Search *search : std::as_const(searches)) {
        if (!search->done)
            tryNext(*search);
    }
}

void Discovery::cancel()
{
    if (!running)
        return;
    cancelled = true;
    for (Search *search : std::as_const(searches)) {
        if (!search->done)
            finish(*search);
    }
}

void Discovery::ask(Search &search, const LineSettings &settings, int timeoutMs)
{
    ModuleLink &link = *search.link;
    if (link.state() == ModuleLink::State::Closed) {
        if (const auto failure = link.open(ports[search.index], settings)) {
            finish(search, failure->systemText);
            return;
        }
    } else {
        link.setLineSettings(settings);
    }
    if (!link.sendRequest(versionRequest(), timeoutMs))
        finish(search, link.port()->errorString());
}

void Discovery::tryNext(Search &search)
{
    if (search.done)
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
    // A port that did not open had nothing tried on it.
    if (!search.done || results[search.index].failure.isEmpty())
        ++results[search.index].tried;
}

void Discovery::onAnswered(Search &search, const QByteArray &reply)
{
    if (search.done)
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
    if (search.done)
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
    if (search.done)
        return;
    search.done = true;
    results[search.index].failure = failure;
    search.link->close();
    emit portFinished(results[search.index]);
    if (std::all_of(searches.cbegin(), searches.cend(), [](const Search *s) { return s->done; })) {
        running = false;
        emit finished();
    }
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
