// rfcfg: the radio module's configuration and tests from the command line, for scripts,
// production lines and long link tests.
#include "configfields.h"
#include "helptext.h"
#include "linkstats.h"
#include "replywords.h"

#include "protocol/configrecord.h"
#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "protocol/replies.h"
#include "serial/linesettings.h"
#include "serial/moduleclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace rfcfg;
using serial::ModuleClient;

namespace {

enum ExitStatus { success = 0, moduleFailure = 1, badUsage = 2, portProblem = 3, noReply = 4 };

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

// Ctrl+C ends the wait in progress; the command then finishes its output.
void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

bool isHexWord(const QString &text)
{
    static const QRegularExpression fourHexDigits(QStringLiteral("^[0-9A-Fa-f]{4}$"));
    return fourHexDigits.match(text).hasMatch();
}

QString hexText(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' '));
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

class Run
{
public:
    Run(const QString &command, bool json) : command(command), json(json)
    {
        doc.insert(QStringLiteral("command"), command);
    }

    // Prints the document (with --json) and returns the exit status.
    int finish(int status)
    {
        if (unsolicitedTotal > 0) {
            doc.insert(QStringLiteral("unsolicited"), unsolicited);
            doc.insert(QStringLiteral("unsolicited_total"), unsolicitedTotal);
        }
        if (json)
            print(stdout, QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Compact)) +
                              QLatin1Char('\n'));
        return status;
    }
    int fail(int status, const QString &message)
    {
        print(stderr, QStringLiteral("rfcfg: ") + message + QLatin1Char('\n'));
        doc.insert(QStringLiteral("error"), message);
        doc.insert(QStringLiteral("exit_status"), status);
        return finish(status);
    }
    void text(const QString &line)
    {
        if (!json)
            print(stdout, line);
    }
    void noteUnsolicited(const QByteArray &frame)
    {
        const QString decoded = describeFrame(frame);
        ++unsolicitedTotal;
        // A night-long link test must not grow with late replies: the first ones tell enough.
        if (json && unsolicited.size() < maxUnsolicitedListed)
            unsolicited.append(QJsonObject{{"hex", hexText(frame)}, {"decoded", decoded}});
        else
            print(
                stderr,
                QStringLiteral("rfcfg: note: unsolicited %1 (%2)\n").arg(hexText(frame), decoded));
    }

    QString command;
    bool json;
    QJsonObject doc;
    QJsonArray unsolicited;
    qint64 unsolicitedTotal = 0;
    static constexpr int maxUnsolicitedListed = 100;
};

// The port with the line settings and the request/reply client on it.
struct Link
{
    QSerialPort port;
    std::unique_ptr<ModuleClient> client;
    int timeoutMs = 1000;
    int retries = 2;
    QString name;
};

// A request sent and answered, or the failure to report.
Failure ask(Link &link, const QByteArray &request, int retries, const QString &what,
            QByteArray *reply, qint64 *latencyNs = nullptr)
{
    const ModuleClient::Exchange ex = link.client->exchange(request, link.timeoutMs, retries);
    switch (ex.outcome) {
    case ModuleClient::Outcome::Answered:
        if (protocol::decodeReply(ex.reply).kind == protocol::Reply::Kind::Unrecognised)
            return {noReply, QStringLiteral("the module's reply to %1 is too short (%2); check "
                                            "the module's firmware")
                                 .arg(what, hexText(ex.reply))};
        *reply = ex.reply;
        if (latencyNs)
            *latencyNs = ex.latencyNs;
        return {};
    case ModuleClient::Outcome::NoReply:
        return {noReply,
                QStringLiteral("no reply to %1 within %2 ms (%3 attempt%4); check that the "
                               "module is powered and the line settings (--baud, --parity, "
                               "--stop-bits) match it, or raise --timeout")
                    .arg(what)
                    .arg(link.timeoutMs)
                    .arg(ex.attempts)
                    .arg(ex.attempts == 1 ? "" : "s")};
    case ModuleClient::Outcome::PortLost:
        return {portProblem, QStringLiteral("lost the port %1 (%2); reconnect the module and "
                                            "run the command again")
                                 .arg(link.name, link.port.errorString())};
    case ModuleClient::Outcome::Interrupted:
        break;
    }
    return {noReply, QStringLiteral("interrupted while waiting for the reply to %1").arg(what)};
}

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

QJsonObject configObject(const ConfigValues &values)
{
    QJsonObject object;
    for (const auto &[key, value] : values)
        object.insert(key, value);
    return object;
}

QString configLines(const ConfigValues &values)
{
    QString text;
    for (const auto &[key, value] : values)
        text += key.leftJustified(17) + value + QLatin1Char('\n');
    return text;
}

// --- commands ---------------------------------------------------------------------------

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

Failure readConfig(Link &link, protocol::ModuleConfig *config)
{
    QByteArray reply;
    const Failure f =
        ask(link, protocol::commandFrame(protocol::group::module, protocol::code::readConfig),
            link.retries, QStringLiteral("config get"), &reply);
    if (f.status == success)
        *config = protocol::decodeReply(reply).config;
    return f;
}

int configGet(Link &link, Run &run, bool lora)
{
    protocol::ModuleConfig config;
    const Failure f = readConfig(link, &config);
    if (f.status != success)
        return run.fail(f.status, f.message);
    ConfigValues values = configValues(config, lora);
    if (lora)
        values.append({QStringLiteral("lora_bit_rate"), loraBitRate(config)});
    run.doc.insert(QStringLiteral("lora"), lora);
    run.doc.insert(QStringLiteral("config"), configObject(values));
    run.text(configLines(values));
    return run.finish(success);
}

int configSet(Link &link, Run &run, const ConfigValues &changes, bool lora, bool verify)
{
    protocol::ModuleConfig config;
    Failure f = readConfig(link, &config);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const ConfigValues before = configValues(config, lora);
    for (const auto &[key, value] : changes)
        setConfigValue(config, key, value, lora); // checked before the port was opened
    const ConfigValues written = configValues(config, lora);
    // Only what differs from the module's record counts as changed.
    ConfigValues changed;
    QStringList changeTexts;
    for (int i = 0; i < written.size(); ++i) {
        if (written[i].second != before[i].second) {
            changed.append(written[i]);
            changeTexts << QStringLiteral("%1 %2 -> %3")
                               .arg(written[i].first, before[i].second, written[i].second);
        }
    }
    run.doc.insert(QStringLiteral("lora"), lora);
    run.doc.insert(QStringLiteral("changed"), configObject(changed));
    run.doc.insert(QStringLiteral("config"), configObject(written));

    const protocol::ConfigRecord record = protocol::encodeConfigRecord(config, lora);
    QByteArray reply;
    f = ask(link,
            protocol::commandFrame(protocol::group::module, protocol::code::writeConfig,
                                   QByteArrayView(record.data(), record.size())),
            link.retries, QStringLiteral("config set"), &reply);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const int status = replyStatus(reply);
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

    protocol::ModuleConfig readBack;
    f = readConfig(link, &readBack);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const ConfigValues got = configValues(readBack, lora);
    QJsonArray differences;
    QStringList described;
    for (int i = 0; i < written.size(); ++i) {
        if (written[i].second != got[i].second) {
            differences.append(QJsonObject{{"key", written[i].first},
                                           {"written", written[i].second},
                                           {"read_back", got[i].second}});
            described << QStringLiteral("%1 wrote %2, reads %3")
                             .arg(written[i].first, written[i].second, got[i].second);
        }
    }
    run.doc.insert(QStringLiteral("verified"), differences.isEmpty());
    run.doc.insert(QStringLiteral("differences"), differences);
    if (!differences.isEmpty())
        return run.fail(moduleFailure,
                        QStringLiteral("verification failed: %1; write again, and check that "
                                       "the module is in configuration mode")
                            .arg(described.join(QLatin1String("; "))));
    run.text(QStringLiteral("verified: the module reads back what was written\n"));
    return run.finish(success);
}

int version(Link &link, Run &run)
{
    QByteArray reply;
    const Failure f =
        ask(link, protocol::commandFrame(protocol::group::module, protocol::code::readVersion),
            link.retries, QStringLiteral("version"), &reply);
    if (f.status != success)
        return run.fail(f.status, f.message);
    const VersionInfo v = versionOf(reply);
    run.doc.insert(QStringLiteral("version"), v.version);
    run.doc.insert(QStringLiteral("release_date"), v.releaseDate);
    run.text(QStringLiteral("version %1, released %2\n").arg(v.version, v.releaseDate));
    return run.finish(success);
}

int reset(Link &link, Run &run)
{
    QByteArray reply;
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

void printWhitelist(Run &run, const QStringList &entries)
{
    run.doc.insert(QStringLiteral("whitelist"), QJsonArray::fromStringList(entries));
    for (int i = 0; i < entries.size(); ++i)
        run.text(
            QStringLiteral("%1  %2\n")
                .arg(i + 1)
                .arg(entries[i] == QLatin1String("ffff") ? QStringLiteral("(empty)") : entries[i]));
}

int whitelistGet(Link &link, Run &run)
{
    QByteArray reply;
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
    const auto payload = protocol::whitelistPayload(entries);
    QByteArray reply;
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
    const auto payload = protocol::routeSearchPayload(protocol::parseHexField(target), maxHops - 1);
    QByteArray reply;
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

struct SendPlan
{
    QByteArray frame;
    QString target;
    int count = 0; // 0: one send, not a link test
    int intervalMs = 500;
    int retries = 0;
};

int sendOnce(Link &link, Run &run, const SendPlan &plan)
{
    QByteArray reply;
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

int linkTest(Link &link, Run &run, const SendPlan &plan)
{
    catchStopSignals();
    const bool live = !run.json && ::isatty(STDOUT_FILENO);
    LinkStats stats;
    QElapsedTimer sinceRedraw;
    sinceRedraw.start();
    auto redraw = [&](bool force) {
        // A few redraws a second are enough for a person and cost nothing at 1000 frames/s.
        if (live && (force || sinceRedraw.elapsed() >= 100)) {
            print(stdout, QStringLiteral("\r\x1b[K") + progressLine(stats));
            sinceRedraw.restart();
        }
    };
    QElapsedTimer clock;
    clock.start();
    bool lost = false;
    for (int i = 0; i < plan.count && !stopRequested; ++i) {
        const qint64 nextAt = clock.elapsed() + plan.intervalMs;
        const ModuleClient::Exchange ex =
            link.client->exchange(plan.frame, link.timeoutMs, plan.retries);
        if (ex.outcome == ModuleClient::Outcome::PortLost) {
            lost = true;
            break;
        }
        if (ex.outcome == ModuleClient::Outcome::Interrupted)
            break;
        if (ex.outcome == ModuleClient::Outcome::Answered &&
            protocol::decodeReply(ex.reply).kind == protocol::Reply::Kind::DataSent)
            stats.addAnswer(replyStatus(ex.reply), ex.latencyNs / 1e6);
        else
            stats.addNoReply();
        redraw(false);
        if (i + 1 < plan.count) {
            const qint64 wait = nextAt - clock.elapsed();
            const auto outcome = link.client->listen(int(std::max<qint64>(0, wait)));
            if (outcome == ModuleClient::Outcome::PortLost) {
                lost = true;
                break;
            }
        }
    }
    redraw(true);
    if (live)
        print(stdout, QStringLiteral("\n"));
    const bool interrupted = stopRequested;
    run.text(summaryText(stats, interrupted));

    QJsonObject failures;
    for (auto it = stats.failuresByStatus().begin(); it != stats.failuresByStatus().end(); ++it)
        failures.insert(QString::asprintf("0x%02x", it.key()), it.value());
    run.doc.insert(QStringLiteral("target"), plan.target);
    run.doc.insert(QStringLiteral("sent"), stats.sent());
    run.doc.insert(QStringLiteral("acknowledged"), stats.acknowledged());
    run.doc.insert(QStringLiteral("failed"), stats.failed());
    run.doc.insert(QStringLiteral("no_reply"), stats.noReply());
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
                        QStringLiteral("lost the port %1 after %2 sends; reconnect the module "
                                       "and start the test again")
                            .arg(link.name)
                            .arg(stats.sent()));
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
    return run.finish(success);
}

int monitor(Link &link, Run &run, int count, int durationMs)
{
    catchStopSignals();
    int seen = 0;
    link.client->setUnsolicitedHandler([&](const QByteArray &frame) {
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
    });
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if ((count > 0 && seen >= count) || (durationMs > 0 && clock.elapsed() >= durationMs))
            return success;
        const auto outcome = link.client->listen(100);
        if (outcome == ModuleClient::Outcome::Interrupted)
            return success;
        if (outcome == ModuleClient::Outcome::PortLost) {
            print(stderr, QStringLiteral("rfcfg: lost the port %1 (%2); reconnect the module and "
                                         "start the monitor again\n")
                              .arg(link.name, link.port.errorString()));
            return portProblem;
        }
    }
}

// --- arguments --------------------------------------------------------------------------

struct Options
{
    QCommandLineOption port{{"p", "port"}, "", "path"};
    QCommandLineOption baud{"baud", "", "rate"};
    QCommandLineOption parity{"parity", "", "parity"};
    QCommandLineOption stopBits{"stop-bits", "", "bits"};
    QCommandLineOption timeout{"timeout", "", "ms"};
    QCommandLineOption retries{"retries", "", "n"};
    QCommandLineOption json{"json"};
    QCommandLineOption help{{"h", "help"}};
    QCommandLineOption lora{"lora"};
    QCommandLineOption noVerify{"no-verify"};
    QCommandLineOption from{"from", "", "file"};
    QCommandLineOption maxHops{"max-hops", "", "n"};
    QCommandLineOption route{"route", "", "mode"};
    QCommandLineOption via{"via", "", "relays"};
    QCommandLineOption hops{"hops", "", "n"};
    QCommandLineOption ack{"ack"};
    QCommandLineOption count{"count", "", "n"};
    QCommandLineOption interval{"interval", "", "ms"};
    QCommandLineOption duration{"duration", "", "ms"};
};

// The options each command takes besides the global ones.
QList<const QCommandLineOption *> commandOptions(const Options &o, const QString &command)
{
    if (command == QLatin1String("config get"))
        return {&o.lora};
    if (command == QLatin1String("config set"))
        return {&o.lora, &o.noVerify, &o.from};
    if (command == QLatin1String("route"))
        return {&o.maxHops};
    if (command == QLatin1String("send"))
        return {&o.route, &o.via, &o.hops, &o.ack, &o.count, &o.interval};
    if (command == QLatin1String("monitor"))
        return {&o.count, &o.duration};
    return {};
}

// A whole number within [low, high], or the usage error that says so.
std::optional<int> number(const QString &text, int low, int high, const QString &what,
                          QString *error)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok && value >= low && value <= high)
        return value;
    *error =
        QStringLiteral("%1: '%2' is not a number from %3 to %4").arg(what, text).arg(low).arg(high);
    return std::nullopt;
}

// KEY=VALUE pairs and --from FILE, checked; the file's lora flag may switch on the LoRa keys.
QString gatherChanges(const QStringList &pairs, const QString &fromFile, bool *lora,
                      ConfigValues *changes)
{
    ConfigValues raw;
    if (!fromFile.isEmpty()) {
        QFile file(fromFile);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1: %2; give a file written by config get --json")
                .arg(fromFile, file.errorString());
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
        QJsonObject object = doc.object();
        if (object.contains(QStringLiteral("config")))
            object = object.value(QStringLiteral("config")).toObject();
        if (doc.isNull() || object.isEmpty())
            return QStringLiteral("%1 holds no configuration; give a file written by "
                                  "config get --json")
                .arg(fromFile);
        if (doc.object().value(QStringLiteral("lora")).toBool())
            *lora = true;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it.key() == QLatin1String("lora_bit_rate"))
                continue; // derived, not written
            raw.append({it.key(), it.value().isDouble() ? QString::number(it.value().toInt())
                                                        : it.value().toString()});
        }
    }
    for (const QString &pair : pairs) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return QStringLiteral("'%1' is not KEY=VALUE; for example address=0002").arg(pair);
        raw.append({pair.left(eq), pair.mid(eq + 1)});
    }
    protocol::ModuleConfig scratch;
    for (const auto &[key, value] : raw) {
        const QString error = setConfigValue(scratch, key, value, *lora);
        if (!error.isEmpty())
            return error;
        // A later value of the same key replaces the earlier one.
        for (qsizetype i = 0; i < changes->size(); ++i) {
            if ((*changes)[i].first == key)
                changes->removeAt(i--);
        }
        // Stored as the list spells it, so the document shows what config get would.
        for (const auto &[k, canonical] : configValues(scratch, *lora)) {
            if (k == key)
                changes->append({key, canonical});
        }
    }
    if (changes->isEmpty())
        return QStringLiteral("nothing to set; give KEY=VALUE pairs or --from FILE "
                              "(rfcfg config set --help lists the keys)");
    return {};
}

QString parseHexData(const QString &text, QByteArray *data)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("[\\s:]")));
    static const QRegularExpression hexDigits(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
    if (!hexDigits.match(digits).hasMatch())
        return QStringLiteral("'%1' is not hex data; write bytes as pairs of hex digits, such "
                              "as 0102ff or \"01 02 ff\"")
            .arg(text);
    *data = QByteArray::fromHex(digits.toLatin1());
    return {};
}

QString addressError(const QString &text, const QString &what)
{
    if (isHexWord(text))
        return {};
    return QStringLiteral("%1: '%2' is not an address; use exactly four hex digits, such as 00a1")
        .arg(what, text);
}

// The data-send frame and the link-test settings, or the usage error.
QString planSend(const QCommandLineParser &parser, const Options &o, const QStringList &words,
                 SendPlan *plan)
{
    if (words.size() != 2)
        return QStringLiteral("send takes TARGET and HEX data; see rfcfg send --help");
    QString error = addressError(words[0], QStringLiteral("TARGET"));
    if (!error.isEmpty())
        return error;
    protocol::DataSendRequest request;
    error = parseHexData(words[1], &request.data);
    if (!error.isEmpty())
        return error;

    static const QStringList modes = {"direct", "auto", "forced", "source"};
    request.routeMode = parser.isSet(o.route) ? int(modes.indexOf(parser.value(o.route))) : 1;
    if (request.routeMode < 0)
        return QStringLiteral("--route: '%1' is not allowed; use one of %2")
            .arg(parser.value(o.route), modes.join(", "));
    if (parser.isSet(o.via)) {
        if (request.routeMode != protocol::sourceRoutingMode)
            return QStringLiteral("--via needs --route source");
        const QStringList relays = parser.value(o.via).split(QLatin1Char(','));
        if (relays.size() > protocol::maxRelays)
            return QStringLiteral("--via: at most six relays");
        for (const QString &relay : relays) {
            if (!(error = addressError(relay, QStringLiteral("--via"))).isEmpty())
                return error;
            request.relays << protocol::parseHexField(relay);
        }
    }
    int hops = 7;
    if (parser.isSet(o.hops)) {
        const auto n = number(parser.value(o.hops), 1, 7, "--hops", &error);
        if (!n)
            return error;
        hops = *n;
    }
    request.target = protocol::parseHexField(words[0]);
    request.ackRequested = parser.isSet(o.ack);
    request.hopIndex = hops - 1;
    request.declaredLength = int(request.data.size());
    const auto payload = protocol::dataSendPayload(request);
    if (!payload)
        return QStringLiteral("HEX: %1 bytes do not fit; this route takes at most %2")
            .arg(request.data.size())
            .arg(protocol::dataSendCapacity(request.routeMode, request.relays.size()));
    plan->frame =
        protocol::commandFrame(protocol::group::network, protocol::code::sendData, *payload);
    plan->target = words[0].toLower();

    if (parser.isSet(o.count)) {
        const auto n = number(parser.value(o.count), 1, 1'000'000'000, "--count", &error);
        if (!n)
            return error;
        plan->count = *n;
    }
    if (parser.isSet(o.interval)) {
        if (!parser.isSet(o.count))
            return QStringLiteral("--interval needs --count");
        const auto n = number(parser.value(o.interval), 0, 86'400'000, "--interval", &error);
        if (!n)
            return error;
        plan->intervalMs = *n;
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rfcfg"));

    Options o;
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.addOptions({o.port, o.baud, o.parity, o.stopBits, o.timeout, o.retries, o.json, o.help,
                       o.lora, o.noVerify, o.from, o.maxHops, o.route, o.via, o.hops, o.ack,
                       o.count, o.interval, o.duration});
    const bool parsed = parser.parse(QCoreApplication::arguments());
    const bool json = parser.isSet(o.json);
    QStringList words = parser.positionalArguments();

    QString command = words.value(0);
    if (command == QLatin1String("config") || command == QLatin1String("whitelist"))
        command += QLatin1Char(' ') + words.value(1);
    Run run(command, json);
    const QString usageHint = QStringLiteral("; see rfcfg --help");
    if (!parsed)
        return run.fail(badUsage, parser.errorText() + usageHint);
    if (words.isEmpty()) {
        if (parser.isSet(o.help)) {
            print(stdout, generalHelp());
            return success;
        }
        return run.fail(badUsage, QStringLiteral("no command given") + usageHint);
    }
    if (!commandNames().contains(command))
        return run.fail(badUsage,
                        QStringLiteral("unknown command '%1'").arg(command.trimmed()) + usageHint);
    if (parser.isSet(o.help)) {
        print(stdout, commandHelp(command));
        return success;
    }
    words.remove(0, command.count(QLatin1Char(' ')) + 1);

    const QList<const QCommandLineOption *> own = commandOptions(o, command);
    for (const QCommandLineOption *option :
         {&o.lora, &o.noVerify, &o.from, &o.maxHops, &o.route, &o.via, &o.hops, &o.ack, &o.count,
          &o.interval, &o.duration}) {
        if (parser.isSet(*option) && !own.contains(option))
            return run.fail(badUsage, QStringLiteral("--%1 does not apply to %2; see rfcfg %2 "
                                                     "--help")
                                          .arg(option->names().constLast(), command));
    }

    // Everything the command needs is checked before the port is opened.
    QString error;
    Link link;
    const QString baudText = parser.isSet(o.baud)
                                 ? parser.value(o.baud)
                                 : serial::baudRateItems()[serial::defaultBaudRateIndex];
    const auto baud = serial::baudRateFromText(baudText);
    const auto parity = serial::parityFromText(
        parser.isSet(o.parity) ? parser.value(o.parity).toUpper() : serial::parityItems()[0]);
    const auto stopBits = serial::stopBitsFromText(
        parser.isSet(o.stopBits) ? parser.value(o.stopBits) : serial::stopBitsItems()[0]);
    if (!baud)
        return run.fail(badUsage, QStringLiteral("--baud: '%1' is not allowed; use one of %2")
                                      .arg(baudText, serial::baudRateItems().join(", ")));
    if (!parity)
        return run.fail(badUsage,
                        QStringLiteral("--parity: '%1' is not allowed; use one of %2")
                            .arg(parser.value(o.parity), serial::parityItems().join(", ")));
    if (!stopBits)
        return run.fail(badUsage,
                        QStringLiteral("--stop-bits: '%1' is not allowed; use one of %2")
                            .arg(parser.value(o.stopBits), serial::stopBitsItems().join(", ")));
    if (parser.isSet(o.timeout)) {
        const auto t = number(parser.value(o.timeout), 1, 3'600'000, "--timeout", &error);
        if (!t)
            return run.fail(badUsage, error);
        link.timeoutMs = *t;
    }
    if (parser.isSet(o.retries)) {
        const auto r = number(parser.value(o.retries), 0, 100, "--retries", &error);
        if (!r)
            return run.fail(badUsage, error);
        link.retries = *r;
    }

    auto expectWords = [&](int low, int high, const QString &what) {
        if (words.size() < low || words.size() > high)
            error = QStringLiteral("%1 takes %2; see rfcfg %1 --help").arg(command, what);
        return error.isEmpty();
    };
    auto checkAddress = [&](const QString &text, const QString &what) {
        error = addressError(text, what);
        return error.isEmpty();
    };

    if (command == QLatin1String("ports")) {
        if (!expectWords(0, 0, "no arguments"))
            return run.fail(badUsage, error);
        return listPorts(run);
    }

    // Per-command arguments.
    bool lora = parser.isSet(o.lora);
    ConfigValues changes;
    SendPlan plan;
    int maxHops = 7, monitorCount = 0, monitorDurationMs = 0;
    if (command == QLatin1String("config set")) {
        error = gatherChanges(words, parser.value(o.from), &lora, &changes);
    } else if (command == QLatin1String("whitelist set")) {
        if (expectWords(0, protocol::whitelistEntries, "up to five addresses")) {
            for (const QString &w : words) {
                if (!checkAddress(w, QStringLiteral("whitelist entry")))
                    break;
            }
        }
    } else if (command == QLatin1String("route")) {
        if (expectWords(1, 1, "one TARGET address") && checkAddress(words[0], "TARGET") &&
            parser.isSet(o.maxHops)) {
            if (const auto n = number(parser.value(o.maxHops), 1, 7, "--max-hops", &error))
                maxHops = *n;
        }
    } else if (command == QLatin1String("send")) {
        error = planSend(parser, o, words, &plan);
        // Data sends are repeated after a missing reply only when asked.
        plan.retries = parser.isSet(o.retries) ? link.retries : 0;
    } else if (command == QLatin1String("monitor")) {
        expectWords(0, 0, "no arguments");
        if (error.isEmpty() && parser.isSet(o.count)) {
            if (const auto n = number(parser.value(o.count), 1, 1'000'000'000, "--count", &error))
                monitorCount = *n;
        }
        if (error.isEmpty() && parser.isSet(o.duration)) {
            if (const auto n =
                    number(parser.value(o.duration), 1, 1'000'000'000, "--duration", &error))
                monitorDurationMs = *n;
        }
    } else {
        expectWords(0, 0, "no arguments");
    }
    if (!error.isEmpty())
        return run.fail(badUsage, error);

    if (!parser.isSet(o.port))
        return run.fail(badUsage, QStringLiteral("no port given; add -p PATH (rfcfg ports lists "
                                                 "the ports)"));
    link.name = parser.value(o.port);
    link.port.setPortName(link.name);
    link.port.setBaudRate(*baud);
    link.port.setParity(*parity);
    link.port.setStopBits(*stopBits);
    link.port.setDataBits(QSerialPort::Data8);
    link.port.setFlowControl(QSerialPort::NoFlowControl);
    if (!link.port.open(QIODevice::ReadWrite))
        return run.fail(portProblem, QStringLiteral("cannot open %1: %2; check the path and "
                                                    "that no other program holds the port "
                                                    "(rfcfg ports lists the ports)")
                                         .arg(link.name, link.port.errorString()));
    link.client = std::make_unique<ModuleClient>(link.port);
    link.client->setStopRequest([] { return stopRequested != 0; });
    link.client->setUnsolicitedHandler([&run](const QByteArray &f) { run.noteUnsolicited(f); });

    if (command == QLatin1String("config get"))
        return configGet(link, run, lora);
    if (command == QLatin1String("config set"))
        return configSet(link, run, changes, lora, !parser.isSet(o.noVerify));
    if (command == QLatin1String("version"))
        return version(link, run);
    if (command == QLatin1String("reset"))
        return reset(link, run);
    if (command == QLatin1String("whitelist get"))
        return whitelistGet(link, run);
    if (command == QLatin1String("whitelist set"))
        return whitelistSet(link, run, words);
    if (command == QLatin1String("route"))
        return route(link, run, words[0], maxHops);
    if (command == QLatin1String("send"))
        return plan.count > 0 ? linkTest(link, run, plan) : sendOnce(link, run, plan);
    return monitor(link, run, monitorCount, monitorDurationMs);
}
