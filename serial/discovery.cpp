#include "serial/discovery.h"

#include "protocol/configfields.h"
#include "protocol/frame.h"
#include "serial/devicelock.h"
#include "serial/linesettings.h"
#include "serial/session.h"

#include <cstring>

namespace serial {

namespace {

// A module answers a version request within this on top of the bytes' time on the line.
constexpr int probeTurnaroundMs = 100;

const QByteArray &versionRequest()
{
    static const QByteArray frame =
        protocol::commandFrame(protocol::group::module, protocol::code::readVersion);
    return frame;
}

const QByteArray &readConfigRequest()
{
    static const QByteArray frame =
        protocol::commandFrame(protocol::group::module, protocol::code::readConfig);
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

int probeDeadlineMs(const LineSettings &s, QByteArrayView request)
{
    if (request.isEmpty())
        request = versionRequest();
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

// One port's search. A setting whose version request is answered is confirmed with a
// configuration read at it: an unasked version frame, or a version reply that came after its own
// setting's time and answered the next setting's request, is never taken for a find. When that
// read goes unanswered and the setting before got no reply to its version request, the reply may
// have been that setting's, late: the read is made there as well, with the full reply wait.
struct Discovery::Search
{
    enum class State { Waiting, Open, Done };
    ~Search() { link->deleteLater(); }

    int index = 0; // in results
    ModuleLink *link = nullptr;
    Session *session = nullptr;
    QObject guard; // ends the connections to this search with it
    DeviceLock lock;
    int next = 0;        // the next setting to try
    int current = -1;    // the setting of the request in flight
    int unanswered = -1; // the last setting whose version request went unanswered
    Step step = Step::Probe;
    State state = State::Waiting;
    // The module sends frames that answer nothing asked: its version replies prove nothing, and
    // its confirmations wait only as long as a probe.
    bool talksUnasked = false;
    std::optional<QByteArray> lateFrame; // the session's late reply to the request that ended
    protocol::ModuleVersion version;     // from the answered version request
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
        search->session = new Session(search->link, search->link);
        search->session->setRetries(0);
        searches << search;
        waiting << search;
        connect(search->link, &ModuleLink::lost, &search->guard,
                [this, search](const QString &reason) { finish(*search, reason); });
        connect(search->session, &Session::unsolicited, &search->guard,
                [search] { search->talksUnasked = true; });
        // Only the request that just ended is owed a late reply: the next send ends that.
        connect(search->session, &Session::lateReply, &search->guard,
                [search](const ModuleLink::Request &, const QByteArray &frame) {
                    search->lateFrame = frame;
                });
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

bool Discovery::ask(Search &search, Step step, int setting)
{
    search.step = step;
    search.current = setting;
    search.lateFrame.reset();
    const LineSettings &settings = order[setting];
    search.link->setLineSettings(settings);
    Session &session = *search.session;
    Operation *operation = nullptr;
    if (step == Step::Probe) {
        session.setReplyWaitMs(probeDeadlineMs(settings));
        operation = session.version();
    } else {
        // The version reply may have been a slow module's, late: the read waits as long as any
        // request. A module heard talking unasked answers a version request at every setting,
        // so its reads wait only as long as a probe, or the search would take seconds a setting.
        if (step == Step::Confirm && search.talksUnasked)
            session.setReplyWaitMs(probeDeadlineMs(settings, readConfigRequest()));
        else
            session.setReplyWaitMs(std::nullopt);
        operation = session.readConfig();
    }
    if (operation->isFinished()) { // the port did not take the request
        finish(search, search.link->port()->errorString());
        return false;
    }
    connect(operation, &Operation::finished, &search.guard,
            [this, &search](const Outcome &outcome) { onOutcome(search, outcome); });
    return true;
}

void Discovery::tryNext(Search &search)
{
    if (search.state != Search::State::Open)
        return;
    if (search.next >= order.size()) {
        finish(search);
        return;
    }
    const int setting = search.next++;
    emit trying(results[search.index].port, order[setting], setting + 1, int(order.size()));
    // A request the port did not take tried nothing.
    if (ask(search, Step::Probe, setting))
        ++results[search.index].tried;
}

void Discovery::onOutcome(Search &search, const Outcome &outcome)
{
    if (search.state != Search::State::Open)
        return;
    if (outcome.kind == Outcome::Kind::Cancelled) {
        finish(search, outcome.reason);
        return;
    }
    // A reply the session heard only after the wait answers the request all the same, at the
    // settings it was sent at.
    protocol::ReplyFrame reply = outcome.reply;
    if (!outcome.answered() && search.lateFrame)
        reply = protocol::decodeReplyFrame(*search.lateFrame);
    const bool readable = (outcome.answered() || search.lateFrame) && reply.isReadable();
    search.lateFrame.reset();
    const int setting = search.current;
    switch (search.step) {
    case Step::Probe:
        if (readable && reply.version) {
            search.version = *reply.version;
            ask(search, Step::Confirm, setting);
            return;
        }
        search.unanswered = setting;
        break;
    case Step::Confirm:
    case Step::StepBack:
        if (readable && reply.record) {
            // Where the confirming read was sent: nothing was sent since.
            PortFinding &finding = results[search.index];
            finding.settings =
                outcome.answered() ? outcome.answeredAt : search.link->lineSettings();
            finding.version = search.version;
            finish(search);
            return;
        }
        if (search.step == Step::Confirm && setting > 0 && search.unanswered == setting - 1) {
            ask(search, Step::StepBack, setting - 1);
            return;
        }
        break;
    }
    tryNext(search);
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

} // namespace serial
