#include "commands.h"

#include "portaccess.h"
#include "replywords.h"

#include "protocol/configrecord.h"
#include "protocol/frame.h"
#include "protocol/linkstats.h"
#include "protocol/payloads.h"
#include "protocol/profile.h"
#include "protocol/replyframe.h"
#include "serial/discovery.h"
#include "serial/linktest.h"
#include "serial/linktestcsv.h"
#include "serial/replug.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace rfcfg {

using protocol::LinkStats;
using serial::ModuleLink;

namespace {

volatile std::sig_atomic_t stopSignalled = 0;
bool outputFailed = false;
bool outputFailureEnds = false;

void onStopSignal(int)
{
    stopSignalled = 1;
}

double roundedMs(double ms)
{
    return std::round(ms * 1000.0) / 1000.0;
}

struct Failure
{
    int status = success;
    QString message;
};

// Runs the application's event loop until the operation ends; Ctrl+C, SIGTERM and a closed
// standard output cancel it.
serial::Outcome await(serial::Operation *operation)
{
    serial::Outcome outcome;
    QObject scope;
    QObject::connect(operation, &serial::Operation::finished, &scope,
                     [&](const serial::Outcome &o) {
                         outcome = o;
                         QCoreApplication::exit();
                     });
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &scope, [&] {
        if (stopRequested())
            operation->cancel(QStringLiteral("interrupted"));
    });
    stopPoll.start(50);
    QCoreApplication::exec();
    return outcome;
}

bool interrupted(const serial::Outcome &outcome)
{
    return outcome.kind == serial::Outcome::Kind::Cancelled &&
           outcome.reason == QLatin1String("interrupted");
}

// Sends `request` and waits --timeout from the send for its reply; without one, sends it
// again, up to `retries` more times.
serial::Outcome exchange(Link &link, const QByteArray &request, int retries)
{
    // Whatever arrived before the request cannot answer it (but may be an earlier one's late
    // report).
    QCoreApplication::processEvents();
    link.session.setReplyWaitMs(link.timeoutMs);
    return await(link.session.request(request, retries));
}

// A request sent and answered, or the failure to report.
Failure describeOutcome(Link &link, const serial::Outcome &ex, const QString &what,
                        protocol::ReplyFrame *reply, qint64 *latencyNs = nullptr)
{
    switch (ex.kind) {
    case serial::Outcome::Kind::Answered:
    case serial::Outcome::Kind::Failed: {
        const protocol::ReplyFrame &frame = ex.reply;
        // The reply matched by group, code and target, so only its length can keep it unread.
        if (!frame.isReadable()) {
            if (frame.faults.testFlag(protocol::ReplyFault::TooLong))
                return {noReply, QStringLiteral("the module's reply to %1 is too long (%2 bytes, "
                                                "at most %3 are read: %4); check the module's "
                                                "firmware")
                                     .arg(what)
                                     .arg(ex.frame.size())
                                     .arg(protocol::rxBufferCapacity)
                                     .arg(hexText(ex.frame))};
            return {noReply, QStringLiteral("the module's reply to %1 is too short (%2); check "
                                            "the module's firmware")
                                 .arg(what, hexText(ex.frame))};
        }
        const QString defect = replyDefect(frame);
        if (!defect.isEmpty())
            return {moduleFailure, QStringLiteral("the module's reply to %1 is malformed: %2 "
                                                  "(%3); check the module's firmware")
                                       .arg(what, defect, hexText(ex.frame))};
        *reply = frame;
        if (latencyNs)
            *latencyNs = qint64(ex.latencyMs * 1e6);
        return {};
    }
    case serial::Outcome::Kind::NoReply:
        return {noReply,
                QStringLiteral("no reply to %1 within %2 ms (%3 attempt%4); check that the "
                               "module is powered and the line settings (--baud, --parity, "
                               "--stop-bits) match it, or raise --timeout")
                    .arg(what)
                    .arg(link.timeoutMs)
                    .arg(ex.attempts)
                    .arg(ex.attempts == 1 ? "" : "s")};
    case serial::Outcome::Kind::Cancelled:
        if (interrupted(ex))
            break;
        if (link.module.state() == serial::ModuleLink::State::Open) // took not every byte
            return {noReply, QStringLiteral("the port %1 did not take the request to %2 (%3); "
                                            "check the cable and the line settings")
                                 .arg(link.name, what, ex.reason)};
        return {portProblem,
                QStringLiteral("lost the port %1 (%2); reconnect the module and "
                               "run the command again")
                    .arg(link.name, link.lossReason.isEmpty() ? ex.reason : link.lossReason)};
    }
    return {noReply, QStringLiteral("interrupted while waiting for the reply to %1").arg(what)};
}

// A request sent and answered, or the failure to report.
Failure ask(Link &link, const QByteArray &request, int retries, const QString &what,
            protocol::ReplyFrame *reply, qint64 *latencyNs = nullptr)
{
    return describeOutcome(link, exchange(link, request, retries), what, reply, latencyNs);
}

} // namespace

int request(Link &link, const QByteArray &frame, int retries, const QString &what,
            protocol::ReplyFrame *reply, QString *message, double *latencyMs)
{
    qint64 ns = 0;
    const Failure f = ask(link, frame, retries, what, reply, &ns);
    *message = f.message;
    if (latencyMs)
        *latencyMs = ns / 1e6;
    return f.status;
}

namespace {

int statusExit(Run &run, int status, const QString &what, const QString &hint)
{
    run.doc.insert(QStringLiteral("status"), status == 0 ? "success" : "failure");
    run.doc.insert(QStringLiteral("status_code"), status);
    if (status != 0)
        return run.fail(moduleFailure,
                        QStringLiteral("%1: the module reports failure (status 0x%2); %3")
                            .arg(what)
                            .arg(status, 2, 16, QLatin1Char('0'))
                            .arg(hint));
    return run.finish(success);
}

QJsonObject configObject(const protocol::ConfigValues &values)
{
    QJsonObject object;
    for (const auto &[key, value] : values)
        object.insert(key, value);
    return object;
}

QString configLines(const protocol::ConfigValues &values)
{
    QString text;
    for (const auto &[key, value] : values)
        text += key.leftJustified(17) + value + QLatin1Char('\n');
    return text;
}

// The record exactly as the module holds it.
Failure readConfig(Link &link, protocol::ConfigRecord *record)
{
    protocol::ReplyFrame reply;
    const Failure f =
        ask(link, protocol::commandFrame(protocol::group::module, protocol::code::readConfig),
            link.retries, QStringLiteral("config get"), &reply);
    // A readable reply to the read holds the whole record.
    if (f.status == success)
        *record = *reply.record;
    return f;
}

void printWhitelist(Run &run, const QStringList &entries)
{
    run.doc.insert(QStringLiteral("whitelist"), QJsonArray::fromStringList(entries));
    for (int i = 0; i < entries.size(); ++i)
        run.text(
            QStringLiteral("%1  %2\n")
                .arg(i + 1)
                .arg(entries[i] == QLatin1String("ffff") ? QStringLiteral("(empty)") : entries[i]));
}

} // namespace

void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested()
{
    return stopSignalled != 0;
}

namespace {

void noteOutputFailure(FILE *stream)
{
    const int error = errno;
    // Reported once: standard error may be what failed, or fail as well.
    if (!outputFailed && stream == stdout)
        std::fprintf(stderr, "rfcfg: cannot write standard output: %s\n", std::strerror(error));
    outputFailed = true;
    if (outputFailureEnds && stream == stdout)
        stopSignalled = 1;
}

} // namespace

bool print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size()) &&
        std::fflush(stream) == 0;
    if (!written)
        noteOutputFailure(stream);
    return written;
}

void endOnOutputFailure()
{
    outputFailureEnds = true;
}

int withOutputChecked(int status)
{
    for (FILE *stream : {stdout, stderr}) {
        errno = 0;
        if (std::fflush(stream) != 0 || std::ferror(stream))
            noteOutputFailure(stream);
    }
    return outputFailed && status == success ? outputFailure : status;
}

bool isHexWord(const QString &text)
{
    return protocol::hexWordFromText(text).has_value();
}

QJsonArray differencesJson(const QList<protocol::RecordDifference> &differences)
{
    QJsonArray list;
    for (const protocol::RecordDifference &d : differences) {
        QJsonObject entry{{"written", d.written}, {"read_back", d.readBack}};
        if (d.key.isEmpty())
            entry.insert(QStringLiteral("byte"), d.byte);
        else
            entry.insert(QStringLiteral("key"), d.key);
        list.append(entry);
    }
    return list;
}

QStringList differencesText(const QList<protocol::RecordDifference> &differences)
{
    QStringList described;
    for (const protocol::RecordDifference &d : differences)
        described << QStringLiteral("%1 wrote %2, reads %3")
                         .arg(d.key.isEmpty() ? QStringLiteral("byte %1").arg(d.byte) : d.key,
                              d.written, d.readBack);
    return described;
}

QJsonObject serialObject(const serial::LineSettings &s)
{
    return {{"baud", s.baudRate},
            {"parity", serial::settingsText(s).section(QLatin1Char(' '), 1, 1)},
            {"stop_bits", s.stopBits == QSerialPort::TwoStop ? 2 : 1}};
}

QString hexText(QByteArrayView bytes)
{
    QString text = protocol::hexLine(bytes);
    text.chop(bytes.isEmpty() ? 1 : 2); // the line's last blank and its line break
    return text;
}

Link::Link()
{
    QObject::connect(&module, &ModuleLink::unsolicited, &module, [this](const QByteArray &frame) {
        if (onUnsolicited)
            onUnsolicited(frame);
    });
    QObject::connect(&module, &ModuleLink::lost, &module,
                     [this](const QString &reason) { lossReason = reason; });
}

int listPorts(Run &run)
{
    QJsonArray list;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &p : ports) {
        const QString usb =
            p.hasVendorIdentifier() && p.hasProductIdentifier()
                ? QString::asprintf("%04x:%04x", p.vendorIdentifier(), p.productIdentifier())
                : QString();
        list.append(QJsonObject{{"name", p.portName()},
                                {"path", p.systemLocation()},
                                {"description", p.description()},
                                {"manufacturer", p.manufacturer()},
                                {"serial_number", p.serialNumber()},
                                {"usb_id", usb.isEmpty() ? QJsonValue() : QJsonValue(usb)}});
        auto orDash = [](const QString &s) { return s.isEmpty() ? QStringLiteral("-") : s; };
        run.text(QStringLiteral("%1  %2  description: %3  manufacturer: %4  serial: %5  usb: %6\n")
                     .arg(p.portName(), p.systemLocation(), orDash(p.description()),
                          orDash(p.manufacturer()), orDash(p.serialNumber()), orDash(usb)));
    }
    if (ports.isEmpty())
        run.text(QStringLiteral("no serial ports found\n"));
    run.doc.insert(QStringLiteral("ports"), list);
    return run.finish(success);
}

int configGet(Link &link, Run &run, bool lora)
{
    protocol::ConfigRecord record;
    const Failure f = readConfig(link, &record);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const protocol::ModuleConfig config = protocol::decodeConfigRecord(record.data());
    protocol::ConfigValues values = protocol::configValues(config, lora);
    if (lora)
        values.append(
            {QStringLiteral("lora_bit_rate"),
             protocol::loraBitRateText(config.bandwidth, config.spreadFactor).value_or(QString())});
    run.doc.insert(QStringLiteral("format"), protocol::profileFormat); // the document is a profile
    run.doc.insert(QStringLiteral("lora"), lora);
    run.doc.insert(QStringLiteral("config"), configObject(values));
    run.text(configLines(values));
    return run.finish(success);
}

int configSet(Link &link, Run &run, const protocol::ConfigValues &changes, bool lora, bool verify)
{
    protocol::ConfigRecord read;
    Failure f = readConfig(link, &read);
    if (f.status != success)
        return run.fail(f.status, f.message);
    protocol::ModuleConfig config = protocol::decodeConfigRecord(read.data());
    QStringList named;
    for (const auto &[key, value] : changes) {
        protocol::setConfigValue(config, key, value, lora); // checked before the port was opened
        named << key;
    }

    const protocol::ConfigRecord record = protocol::withConfigKeys(read, config, named);
    const protocol::ModuleConfig toWrite = protocol::decodeConfigRecord(record.data());
    const protocol::ConfigValues written = protocol::configValues(toWrite, lora);
    // Only what differs from the module's record counts as changed.
    protocol::ConfigValues changed;
    QStringList changeTexts;
    for (const protocol::FieldChange &change :
         protocol::configChanges(protocol::decodeConfigRecord(read.data()), toWrite, lora)) {
        changed.append({change.key, change.after});
        changeTexts << QStringLiteral("%1 %2 -> %3").arg(change.key, change.before, change.after);
    }
    run.doc.insert(QStringLiteral("lora"), lora);
    run.doc.insert(QStringLiteral("changed"), configObject(changed));
    run.doc.insert(QStringLiteral("config"), configObject(written));

    // The module holds a value that no list offers: writing it back would send bits nobody
    // chose, so the user must name a value for each such key.
    if (const QStringList unknown = protocol::keysOutsideLists(config, lora, named);
        !unknown.isEmpty())
        return run.fail(badUsage,
                        QStringLiteral("the module's configuration holds values outside their "
                                       "lists (%1); set them with KEY=VALUE and try again")
                            .arg(unknown.join(QLatin1String(", "))));
    // The session reads the record back, following the module to new serial settings; the
    // write's own reply may be lost on the way, which the read back then stands for.
    QCoreApplication::processEvents();
    link.session.setReplyWaitMs(link.timeoutMs);
    link.session.setRetries(link.retries);
    const serial::Outcome writeOutcome = await(link.session.writeConfig(record, {verify, read}));
    protocol::ReplyFrame reply;
    f = describeOutcome(link, writeOutcome, QStringLiteral("config set"), &reply);
    if (f.status != success)
        return run.fail(f.status, f.message);
    if (writeOutcome.followed) {
        const serial::LineSettings after = writeOutcome.answeredAt;
        print(stderr, QStringLiteral("rfcfg: note: the module answers at %1 now; use --baud %2 "
                                     "--parity %3 --stop-bits %4 from here on\n")
                          .arg(serial::settingsText(after))
                          .arg(after.baudRate)
                          .arg(serial::settingsText(after).section(QLatin1Char(' '), 1, 1))
                          .arg(after.stopBits == QSerialPort::TwoStop ? 2 : 1));
    }
    const int status = writeOutcome.status.value_or(0);
    run.doc.insert(QStringLiteral("status"), status == 0 ? "success" : "failure");
    run.doc.insert(QStringLiteral("status_code"), status);
    if (status != 0)
        return run.fail(moduleFailure,
                        QStringLiteral("the module refused the configuration (status 0x%1); "
                                       "check the values, or enter configuration mode first")
                            .arg(status, 2, 16, QLatin1Char('0')));
    run.text(QStringLiteral("written: %1\n")
                 .arg(changeTexts.isEmpty() ? QStringLiteral("no change")
                                            : changeTexts.join(QLatin1String(", "))));
    if (!verify) {
        run.doc.insert(QStringLiteral("verified"), QJsonValue());
        return run.finish(success);
    }

    run.doc.insert(QStringLiteral("serial_after"), serialObject(writeOutcome.answeredAt));
    const protocol::ConfigRecord readBack =
        writeOutcome.readBack.value_or(protocol::ConfigRecord{});
    // The whole record counts: a bit no key shows may still have been lost.
    const QList<protocol::RecordDifference> differences =
        protocol::recordDifferences(record, readBack, lora);
    run.doc.insert(QStringLiteral("verified"), differences.isEmpty());
    run.doc.insert(QStringLiteral("differences"), differencesJson(differences));
    if (!differences.isEmpty())
        return run.fail(moduleFailure,
                        QStringLiteral("verification failed: %1; write again, and check that "
                                       "the module is in configuration mode")
                            .arg(differencesText(differences).join(QLatin1String("; "))));
    run.text(QStringLiteral("verified: the module reads back what was written\n"));
    return run.finish(success);
}

int version(Link &link, Run &run)
{
    protocol::ReplyFrame reply;
    const Failure f =
        ask(link, protocol::commandFrame(protocol::group::module, protocol::code::readVersion),
            link.retries, QStringLiteral("version"), &reply);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const VersionInfo v = versionOf(*reply.version);
    run.doc.insert(QStringLiteral("version"), v.version);
    run.doc.insert(QStringLiteral("release_date"), v.releaseDate);
    run.text(QStringLiteral("version %1, released %2\n").arg(v.version, v.releaseDate));
    return run.finish(success);
}

int reset(Link &link, Run &run)
{
    protocol::ReplyFrame reply;
    const Failure f =
        ask(link, protocol::commandFrame(protocol::group::module, protocol::code::resetModule),
            link.retries, QStringLiteral("reset"), &reply);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const int status = replyStatus(reply);
    run.text(QStringLiteral("reset: %1\n").arg(statusWords(status)));
    return statusExit(run, status, QStringLiteral("reset"),
                      QStringLiteral("power the module off and on"));
}

int whitelistGet(Link &link, Run &run)
{
    protocol::ReplyFrame reply;
    const Failure f =
        ask(link, protocol::commandFrame(protocol::group::whitelist, protocol::code::readWhitelist),
            link.retries, QStringLiteral("whitelist get"), &reply);
    if (f.status != success)
        return run.fail(f.status, f.message);
    printWhitelist(run, whitelistOf(reply));
    return run.finish(success);
}

int whitelistSet(Link &link, Run &run, QStringList entries)
{
    while (entries.size() < protocol::whitelistEntries)
        entries << QString(); // written as FF FF: empty
    // The entries were checked when the arguments were read, so the payload always exists.
    const auto payload = *protocol::whitelistPayload(entries);
    protocol::ReplyFrame reply;
    const Failure f =
        ask(link,
            protocol::commandFrame(protocol::group::whitelist, protocol::code::writeWhitelist,
                                   QByteArrayView(payload.data(), payload.size())),
            link.retries, QStringLiteral("whitelist set"), &reply);
    if (f.status != success)
        return run.fail(f.status, f.message);
    for (QString &e : entries)
        e = e.isEmpty() ? QStringLiteral("ffff") : e.toLower();
    const int status = replyStatus(reply);
    printWhitelist(run, entries);
    run.text(QStringLiteral("whitelist written: %1\n").arg(statusWords(status)));
    return statusExit(run, status, QStringLiteral("whitelist set"),
                      QStringLiteral("check the addresses and write again"));
}

int route(Link &link, Run &run, const QString &target, int maxHops)
{
    // The target was checked when the arguments were read.
    const auto payload =
        protocol::routeSearchPayload(*protocol::hexWordFromText(target), maxHops - 1);
    protocol::ReplyFrame reply;
    const Failure f =
        ask(link,
            protocol::commandFrame(protocol::group::network, protocol::code::routeSearch,
                                   QByteArrayView(payload.data(), payload.size())),
            link.retries, QStringLiteral("route"), &reply);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const RouteInfo r = routeOf(reply);
    run.doc.insert(QStringLiteral("target"), r.target);
    run.doc.insert(QStringLiteral("relays"), QJsonArray::fromStringList(r.relays));
    run.text(routeText(r) + QLatin1Char('\n'));
    return statusExit(run, r.status, QStringLiteral("route to ") + r.target,
                      QStringLiteral("check that the node is up, or raise --max-hops"));
}

int sendOnce(Link &link, Run &run, const SendPlan &plan)
{
    protocol::ReplyFrame reply;
    qint64 latencyNs = 0;
    const Failure f =
        ask(link, plan.frame, plan.retries, QStringLiteral("send"), &reply, &latencyNs);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const int status = replyStatus(reply);
    run.doc.insert(QStringLiteral("target"), plan.target);
    run.doc.insert(QStringLiteral("latency_ms"), roundedMs(latencyNs / 1e6));
    run.text(QStringLiteral("data to %1: %2 (%3 ms)\n")
                 .arg(plan.target, statusWords(status), QString::number(latencyNs / 1e6, 'f', 2)));
    return statusExit(
        run, status, QStringLiteral("send to ") + plan.target,
        QStringLiteral("check the route (rfcfg route %1) and the hop limit").arg(plan.target));
}

namespace {

// The figures in rfcfg's words: a progress line while the test runs, a summary at its end.
QString ms(double value)
{
    return QString::number(value, 'f', value < 10 ? 2 : 1);
}

// From this interval on, a link test's record is synced to the disk line by line.
constexpr int syncedIntervalMs = 100;

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
    if (s.gaps() > 0)
        line += QStringLiteral("  gaps %1").arg(s.gaps());
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
    if (s.gaps() > 0)
        text += QStringLiteral("gaps: %1 (the port was away; %2 sends missed)\n")
                    .arg(s.gaps())
                    .arg(s.missed());
    if (s.hasLatency())
        text += QStringLiteral("latency ms: min %1, median %2, p95 %3, max %4\n")
                    .arg(ms(s.minimumMs()), ms(s.percentileMs(0.5)), ms(s.percentileMs(0.95)),
                         ms(s.maximumMs()));
    else
        text += QStringLiteral("latency: no answer\n");
    return text;
}

} // namespace

int linkTest(Link &link, Run &run, const SendPlan &plan)
{
    catchStopSignals();
    const bool live = !run.json && ::isatty(STDOUT_FILENO);
    serial::LinkTest test(&link.module);
    const protocol::LinkStats &stats = test.stats();
    QElapsedTimer sinceRedraw;
    sinceRedraw.start();
    auto redraw = [&](bool force) {
        // A few redraws a second are enough for a person and cost nothing at 1000 frames/s.
        if (live && (force || sinceRedraw.elapsed() >= 100)) {
            print(stdout, QStringLiteral("\r\x1b[K") + progressLine(stats));
            sinceRedraw.restart();
        }
    };
    // Messages on standard error start on a line of their own, under the progress line.
    const auto note = [&](const QString &text) {
        if (live)
            print(stdout, QStringLiteral("\n"));
        print(stderr, QStringLiteral("rfcfg: ") + text + QLatin1Char('\n'));
        redraw(true);
    };
    serial::LinkTest::End end = serial::LinkTest::End::Stopped;
    QObject::connect(&test, &serial::LinkTest::finished, [&](serial::LinkTest::End e) {
        end = e;
        QCoreApplication::exit();
    });
    QObject::connect(&test, &serial::LinkTest::answered, [&] { redraw(false); });
    QObject::connect(&test, &serial::LinkTest::noReply, [&] { redraw(false); });
    QObject::connect(&test, &serial::LinkTest::late, [&] { redraw(false); });
    QObject::connect(&test, &serial::LinkTest::skipped, [&] { redraw(false); });

    // Each send on disk as it settles.
    serial::LinkTestCsv csv;
    const quint16 target = quint16(plan.target.toUShort(nullptr, 16));
    if (!plan.csvPath.isEmpty()) {
        QObject::connect(&csv, &serial::LinkTestCsv::failed, [&](const QString &reason) {
            note(QStringLiteral("recording to %1 stopped: %2; the test goes on")
                     .arg(plan.csvPath, reason));
        });
        if (!csv.open(plan.csvPath))
            return run.fail(
                outputFailure,
                QStringLiteral("--csv: cannot create %1: %2").arg(plan.csvPath, csv.errorString()));
        csv.follow(&test, [target] { return target; });
        // On disk before the next send, so a power cut loses nothing either; a sync costs a
        // fraction of a millisecond, which only a faster test than this would feel.
        csv.setSyncEachLine(plan.intervalMs >= syncedIntervalMs);
    }

    // A port that goes away is waited for, and reopened with the same settings when it is back.
    const serial::LineSettings settings = link.module.lineSettings();
    serial::ReplugWatch watch(&serial::availablePortFacts, [&](const QString &name) {
        return openPort(link.module, name, settings).isEmpty();
    });
    watch.setWindowMs(qint64(plan.reconnectS) * 1000);
    const serial::PortIdentity identity =
        plan.reconnectS > 0 ? serial::identifyPort(link.name, serial::availablePortFacts())
                            : serial::PortIdentity{link.name, {}, {}};
    QObject::connect(&test, &serial::LinkTest::paused, [&] {
        note(QStringLiteral("lost the port %1 (%2); waiting up to %3 s for it to come back")
                 .arg(link.name, link.lossReason)
                 .arg(plan.reconnectS));
        watch.watch(identity);
    });
    QObject::connect(&test, &serial::LinkTest::gapClosed, [&](const serial::LinkTest::Gap &gap) {
        watch.stop();
        if (gap.resumed)
            note(QStringLiteral("the port %1 is back after %2 s (%3 sends missed); the test "
                                "goes on")
                     .arg(link.name, QString::number(gap.lengthMs / 1000.0, 'f', 1))
                     .arg(gap.missed));
    });

    // Ctrl+C, SIGTERM and a closed standard output end the run at once.
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, [&] {
        if (stopRequested())
            test.abort();
    });
    stopPoll.start(50);
    serial::LinkTest::Plan testPlan;
    testPlan.intervalMs = plan.intervalMs;
    testPlan.replyWaitMs = link.timeoutMs;
    testPlan.count = plan.count;
    testPlan.durationMs = plan.durationMs;
    testPlan.reconnectWaitMs = qint64(plan.reconnectS) * 1000;
    testPlan.retries = plan.retries;
    test.start(testPlan, [&] { return std::optional<QByteArray>(plan.frame); });
    if (test.isRunning())
        QCoreApplication::exec();
    const bool lost = end == serial::LinkTest::End::Lost;
    redraw(true);
    if (live)
        print(stdout, QStringLiteral("\n"));
    const bool interrupted = stopRequested();
    QString summary = summaryText(stats, interrupted);
    if (end == serial::LinkTest::End::CountReached)
        summary += QStringLiteral("ended: the count of %1 sends was reached\n").arg(plan.count);
    else if (end == serial::LinkTest::End::DurationReached)
        summary +=
            QStringLiteral("ended: the duration of %1 s was reached\n").arg(plan.durationMs / 1000);
    if (!plan.csvPath.isEmpty())
        summary += csv.isRecording() ? QStringLiteral("recorded %1 lines in %2\n")
                                           .arg(csv.linesWritten())
                                           .arg(plan.csvPath)
                                     : QStringLiteral("recording to %1 stopped: %2\n")
                                           .arg(plan.csvPath, csv.errorString());
    run.text(summary);

    QJsonObject failures;
    for (auto it = stats.failuresByStatus().begin(); it != stats.failuresByStatus().end(); ++it)
        failures.insert(QString::asprintf("0x%02x", it.key()), it.value());
    run.doc.insert(QStringLiteral("target"), plan.target);
    run.doc.insert(QStringLiteral("sent"), stats.sent());
    run.doc.insert(QStringLiteral("acknowledged"), stats.acknowledged());
    run.doc.insert(QStringLiteral("failed"), stats.failed());
    run.doc.insert(QStringLiteral("no_reply"), stats.noReply());
    run.doc.insert(QStringLiteral("late"), stats.late());
    run.doc.insert(QStringLiteral("skipped"), stats.skipped());
    run.doc.insert(QStringLiteral("gaps"), stats.gaps());
    run.doc.insert(QStringLiteral("missed"), stats.missed());
    const char *ended = interrupted                                     ? "interrupted"
                        : lost                                          ? "lost"
                        : end == serial::LinkTest::End::CountReached    ? "count"
                        : end == serial::LinkTest::End::DurationReached ? "duration"
                                                                        : "stopped";
    run.doc.insert(QStringLiteral("ended"), QString::fromLatin1(ended));
    if (!plan.csvPath.isEmpty())
        run.doc.insert(QStringLiteral("csv"),
                       QJsonObject{{"path", plan.csvPath},
                                   {"lines", csv.linesWritten()},
                                   {"error", csv.isRecording() ? QJsonValue()
                                                               : QJsonValue(csv.errorString())}});
    run.doc.insert(QStringLiteral("failed_by_status"), failures);
    run.doc.insert(QStringLiteral("delivery_ratio"), std::round(stats.deliveryRatio() * 1e4) / 1e4);
    run.doc.insert(QStringLiteral("latency_ms"),
                   stats.hasLatency()
                       ? QJsonValue(QJsonObject{{"min", roundedMs(stats.minimumMs())},
                                                {"median", roundedMs(stats.percentileMs(0.5))},
                                                {"p95", roundedMs(stats.percentileMs(0.95))},
                                                {"max", roundedMs(stats.maximumMs())}})
                       : QJsonValue());
    run.doc.insert(QStringLiteral("interrupted"), interrupted);
    if (lost)
        return run.fail(portProblem,
                        plan.reconnectS > 0
                            ? QStringLiteral("lost the port %1 after %2 sends; it did not come "
                                             "back within %3 s (--reconnect); reconnect the "
                                             "module and start the test again")
                                  .arg(link.name)
                                  .arg(stats.sent())
                                  .arg(plan.reconnectS)
                            : QStringLiteral("lost the port %1 after %2 sends; reconnect the "
                                             "module and start the test again")
                                  .arg(link.name)
                                  .arg(stats.sent()));
    if (stats.skipped() > 0)
        return run.fail(portProblem,
                        QStringLiteral("%1 of %2 sends were skipped: the port %3 did not pass on "
                                       "the previous frame; check that the module reads the "
                                       "line (cable, flow control, line settings)")
                            .arg(stats.skipped())
                            .arg(stats.sent() + stats.skipped())
                            .arg(link.name));
    if (stats.failed() > 0)
        return run.fail(moduleFailure,
                        QStringLiteral("%1 of %2 sends failed by status; check the route and "
                                       "the target node")
                            .arg(stats.failed())
                            .arg(stats.sent()));
    if (stats.noReply() > 0)
        return run.fail(noReply, QStringLiteral("%1 of %2 sends got no reply; check the module, "
                                                "or raise --timeout")
                                     .arg(stats.noReply())
                                     .arg(stats.sent()));
    if (interrupted && stats.sent() == 0)
        return run.fail(noReply, QStringLiteral("interrupted before any send completed; nothing "
                                                "was measured"));
    if (!plan.csvPath.isEmpty() && !csv.isRecording())
        return run.fail(outputFailure, QStringLiteral("the record in %1 is incomplete: %2")
                                           .arg(plan.csvPath, csv.errorString()));
    return run.finish(success);
}

int monitor(Link &link, Run &run, int count, int durationMs)
{
    catchStopSignals();
    int seen = 0;
    link.onUnsolicited = [&](const QByteArray &frame) {
        if (count > 0 && seen >= count)
            return; // several frames may come in one read
        const QDateTime now = QDateTime::currentDateTime();
        const QString decoded = describeFrame(frame);
        if (run.json) {
            const QJsonObject line{{"time", now.toUTC().toString(Qt::ISODateWithMs)},
                                   {"hex", hexText(frame)},
                                   {"decoded", decoded}};
            print(stdout, QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)) +
                              QLatin1Char('\n'));
        } else {
            print(stdout, QStringLiteral("%1  %2  %3\n")
                              .arg(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                                   hexText(frame), decoded));
        }
        ++seen;
    };
    // Every frame is handled as it comes; the count, the duration, a stop request or a lost
    // port end the wait.
    int status = success;
    QObject scope;
    const auto endIfDone = [&] {
        if (stopRequested() || (count > 0 && seen >= count))
            QCoreApplication::exit();
    };
    link.onUnsolicited = [&, show = link.onUnsolicited](const QByteArray &frame) {
        show(frame);
        endIfDone();
    };
    QObject::connect(&link.module, &serial::ModuleLink::stateChanged, &scope,
                     [&](serial::ModuleLink::State state) {
                         if (state == serial::ModuleLink::State::Open)
                             return;
                         print(stderr, QStringLiteral("rfcfg: lost the port %1 (%2); reconnect "
                                                      "the module and start the monitor again\n")
                                           .arg(link.name, link.lossReason));
                         status = portProblem;
                         QCoreApplication::exit();
                     });
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &scope, endIfDone);
    stopPoll.start(50);
    QTimer duration;
    duration.setSingleShot(true);
    duration.setTimerType(Qt::PreciseTimer);
    QObject::connect(&duration, &QTimer::timeout, &scope, [] { QCoreApplication::exit(); });
    if (durationMs > 0)
        duration.start(durationMs);
    // What the device holds already is shown first, however short the duration.
    QCoreApplication::processEvents();
    if (link.module.state() == serial::ModuleLink::State::Open && !stopRequested() &&
        !(count > 0 && seen >= count) && status == success)
        QCoreApplication::exec();
    link.onUnsolicited = {};
    return status;
}

} // namespace rfcfg
