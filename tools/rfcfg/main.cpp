// rfcfg: the radio module's configuration and tests from the command line, for scripts,
// production lines and long link tests.
#include "commands.h"
#include "decode.h"
#include "discover.h"
#include "helptext.h"
#include "portaccess.h"
#include "provision.h"
#include "scan.h"

#include "protocol/configfields.h"
#include "protocol/configrecord.h"
#include "protocol/datatext.h"
#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "protocol/profile.h"
#include "serial/capture.h"
#include "serial/linesettings.h"
#include "serial/mapfeeder.h"
#include "serial/portnames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace rfcfg;

namespace {

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
    QCommandLineOption address{"address", "", "start"};
    QCommandLineOption map{"map", "", "file"};
    QCommandLineOption log{"log", "", "file"};
    QCommandLineOption quick{"quick"};
    QCommandLineOption capture{"capture", "", "file"};
    QCommandLineOption dot{"dot", "", "file"};
    QCommandLineOption repeat{"repeat", "", "n"};
    QCommandLineOption csv{"csv", "", "file"};
    QCommandLineOption reconnect{"reconnect", "", "s"};
};

// The options each command takes besides the global ones.
QList<const QCommandLineOption *> commandOptions(const Options &o, const QString &command)
{
    if (command == QLatin1String("config get"))
        return {&o.lora};
    if (command == QLatin1String("config set"))
        return {&o.lora, &o.noVerify, &o.from};
    if (command == QLatin1String("route"))
        return {&o.maxHops, &o.map};
    if (command == QLatin1String("send"))
        return {&o.route,    &o.via,      &o.hops, &o.maxHops,   &o.ack, &o.count,
                &o.interval, &o.duration, &o.csv,  &o.reconnect, &o.map};
    if (command == QLatin1String("monitor"))
        return {&o.count, &o.duration};
    if (command == QLatin1String("provision"))
        return {&o.lora, &o.from, &o.address, &o.map, &o.log};
    if (command == QLatin1String("discover"))
        return {&o.quick};
    if (command == QLatin1String("scan"))
        return {&o.maxHops, &o.dot, &o.repeat, &o.interval, &o.map};
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

// The option's whole number into *target when it is given; false, with the usage error, when it
// is not a number within [low, high].
template <typename Number>
bool takeNumber(const QCommandLineParser &parser, const QCommandLineOption &option, int low,
                int high, Number *target, QString *error)
{
    if (!parser.isSet(option))
        return true;
    const auto n = number(parser.value(option), low, high,
                          QStringLiteral("--") + option.names().constLast(), error);
    if (n)
        *target = *n;
    return n.has_value();
}

// KEY=VALUE pairs and --from FILE, checked; the file's lora flag may switch on the LoRa keys.
QString gatherChanges(const QStringList &pairs, const QString &fromFile, bool *lora,
                      protocol::ConfigValues *changes)
{
    protocol::ConfigValues raw;
    if (!fromFile.isEmpty()) {
        protocol::Profile profile;
        if (const QString error = protocol::loadProfile(fromFile, &profile, *lora);
            !error.isEmpty())
            return QStringLiteral("--from: ") + error +
                   QStringLiteral("; give a profile, such as config get --json writes");
        *lora = *lora || profile.lora;
        raw = profile.values;
    }
    for (const QString &pair : pairs) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return QStringLiteral("'%1' is not KEY=VALUE; for example address=0002").arg(pair);
        raw.append({pair.left(eq), pair.mid(eq + 1)});
    }
    protocol::ModuleConfig scratch;
    for (const auto &[key, value] : raw) {
        const QString error = protocol::setConfigValue(scratch, key, value, *lora);
        if (!error.isEmpty())
            return error;
        // A later value of the same key replaces the earlier one.
        for (qsizetype i = 0; i < changes->size(); ++i) {
            if ((*changes)[i].first == key)
                changes->removeAt(i--);
        }
        // Stored as the list spells it, so the document shows what config get would.
        changes->append({key, protocol::configValue(scratch, key)});
    }
    if (changes->isEmpty())
        return QStringLiteral("nothing to set; give KEY=VALUE pairs or --from FILE "
                              "(rfcfg config set --help lists the keys)");
    return {};
}

QString parseHexData(const QString &text, QByteArray *data)
{
    // Read as the window reads its data text, so that both take the same bytes from it.
    if (!text.isEmpty() && protocol::dataTextState(text) != protocol::DataTextState::Acceptable)
        return QStringLiteral("'%1' is not hex data; write bytes as pairs of hex digits, such "
                              "as 0102ff or \"01 02 ff\"")
            .arg(text);
    *data = protocol::dataTextBytes(text);
    return {};
}

QString addressError(const QString &text, const QString &what)
{
    if (isHexWord(text))
        return {};
    return what + QStringLiteral(": ") + protocol::notAnAddress(QStringLiteral("'%1'").arg(text));
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
            request.relays << *protocol::hexWordFromText(relay);
        }
    }
    // --max-hops as route takes it, or --hops; both must agree.
    int hops = 7;
    for (const QCommandLineOption *option : {&o.hops, &o.maxHops}) {
        if (!parser.isSet(*option))
            continue;
        const QString name = QStringLiteral("--") + option->names().constFirst();
        const auto n = number(parser.value(*option), 1, 7, name, &error);
        if (!n)
            return error;
        if (option == &o.maxHops && parser.isSet(o.hops) && *n != hops)
            return QStringLiteral("--hops and --max-hops differ; give one of them");
        hops = *n;
    }
    request.target = *protocol::hexWordFromText(words[0]);
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
    plan->target = protocol::formatHexWord(request.target);

    if (!takeNumber(parser, o.count, 1, 1'000'000'000, &plan->count, &error))
        return error;
    // A link test runs to a count, a duration or both, whichever comes first.
    if (parser.isSet(o.duration)) {
        const auto n = number(parser.value(o.duration), 1, 1'000'000'000, "--duration", &error);
        if (!n)
            return error;
        plan->durationMs = qint64(*n) * 1000;
    }
    const bool linkTest = plan->count > 0 || plan->durationMs > 0;
    for (const QCommandLineOption *option : {&o.interval, &o.csv, &o.reconnect}) {
        if (parser.isSet(*option) && !linkTest)
            return QStringLiteral("--%1 needs --count or --duration")
                .arg(option->names().constFirst());
    }
    if (parser.isSet(o.csv)) {
        plan->csvPath = parser.value(o.csv);
        if (plan->csvPath.isEmpty())
            return QStringLiteral("--csv: the file name is empty");
    }
    if (!takeNumber(parser, o.reconnect, 0, 86'400, &plan->reconnectS, &error))
        return error;
    if (!takeNumber(parser, o.interval, 0, 86'400'000, &plan->intervalMs, &error))
        return error;
    return {};
}

// The profile, the ports and their addresses, all checked before any port is opened.
QString planProvision(const QCommandLineParser &parser, const Options &o, const QStringList &words,
                      bool lora, ProvisionPlan *plan)
{
    if (!words.isEmpty())
        return QStringLiteral("provision takes no arguments but options; see rfcfg provision "
                              "--help");
    if (parser.value(o.from).isEmpty())
        return QStringLiteral("provision needs --from PROFILE, such as config get --json writes");
    if (const QString error = protocol::loadProfile(parser.value(o.from), &plan->profile, lora);
        !error.isEmpty())
        return QStringLiteral("--from: ") + error;
    plan->profile.lora = plan->profile.lora || lora;
    for (const QString &port : parser.values(o.port)) {
        if (port.isEmpty())
            return QStringLiteral("-p: a port path is empty");
        plan->targets.append({port, std::nullopt});
    }
    if (parser.isSet(o.address) && parser.isSet(o.map))
        return QStringLiteral("--address and --map both give addresses; use one of them");
    if (parser.isSet(o.map)) {
        if (const QString error = applyAddressMap(plan->targets, parser.value(o.map));
            !error.isEmpty())
            return error;
    }
    if (plan->targets.isEmpty())
        return QStringLiteral("no port given; add -p PATH for each module (or --map FILE)");
    for (int i = 0; i < plan->targets.size(); ++i) {
        for (int j = 0; j < i; ++j) {
            if (QFileInfo(plan->targets[i].port).canonicalFilePath() ==
                    QFileInfo(plan->targets[j].port).canonicalFilePath() &&
                QFileInfo::exists(plan->targets[i].port))
                return QStringLiteral("%1 and %2 are the same port")
                    .arg(plan->targets[j].port, plan->targets[i].port);
        }
    }
    if (parser.isSet(o.address))
        return assignAddresses(plan->targets, parser.value(o.address));
    return {};
}

// Opens the capture file; a write that fails later stops the capture with a note on standard
// error, never the command.
std::unique_ptr<serial::Capture> startCapture(const QString &path, QString *error)
{
    auto capture = std::make_unique<serial::Capture>();
    QObject::connect(
        capture.get(), &serial::Capture::failed, capture.get(), [path](const QString &reason) {
            print(stderr, QStringLiteral("rfcfg: capture to %1 stopped: %2\n").arg(path, reason));
        });
    if (path.isEmpty())
        *error = QStringLiteral("--capture: the file name is empty");
    else if (!capture->open(path))
        *error = QStringLiteral("--capture: cannot write %1: %2").arg(path, capture->errorString());
    return error->isEmpty() ? std::move(capture) : nullptr;
}

// Addresses as four hex digits, however they were written (0x1234 as the window logs them).
QStringList addressWords(QStringList words)
{
    for (QString &w : words)
        w = protocol::formatHexWord(*protocol::hexWordFromText(w));
    return words;
}

// Targets and the scan's options, or the usage error.
QString planScan(const QCommandLineParser &parser, const Options &o, const QStringList &words,
                 ScanPlan *plan)
{
    if (words.isEmpty())
        return QStringLiteral("scan takes TARGETS: addresses, ranges such as 0001-0040, @FILE or "
                              "whitelist; see rfcfg scan --help");
    QString error;
    const auto targets = network::parseTargetList(words, &error);
    if (!targets)
        return QStringLiteral("TARGETS: ") + error;
    plan->targets = *targets;
    if (!takeNumber(parser, o.maxHops, 1, 7, &plan->maxHops, &error))
        return error;
    if (!takeNumber(parser, o.repeat, 1, 1'000'000, &plan->repeat, &error))
        return error;
    if (parser.isSet(o.interval)) {
        if (!parser.isSet(o.repeat))
            return QStringLiteral("--interval needs --repeat");
        bool ok = false;
        const double seconds = parser.value(o.interval).toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 86'400)
            return QStringLiteral("--interval: '%1' is not a number of seconds from 0 to 86400")
                .arg(parser.value(o.interval));
        plan->intervalMs = int(seconds * 1000.0);
    }
    // --map is read as for route and send.
    plan->dotPath = parser.value(o.dot);
    if (parser.isSet(o.dot) && plan->dotPath.isEmpty())
        return QStringLiteral("--dot: the file name is empty");
    return {};
}

// Opens the port that -p names; success, or the exit status after the error was reported.
int openForCommand(const QCommandLineParser &parser, const Options &o, Run &run, Link &link,
                   const serial::LineSettings &settings, std::unique_ptr<serial::Capture> &capture)
{
    if (!parser.isSet(o.port))
        return run.fail(badUsage, QStringLiteral("no port given; add -p PATH (rfcfg ports lists "
                                                 "the ports)"));
    if (parser.value(o.port).isEmpty())
        return run.fail(badUsage, QStringLiteral("-p: the port path is empty; give a device "
                                                 "path such as /dev/ttyUSB0 (rfcfg ports lists "
                                                 "the ports)"));
    link.name = parser.value(o.port);
    if (parser.isSet(o.capture)) {
        QString error;
        if (!(capture = startCapture(parser.value(o.capture), &error)))
            return run.fail(outputFailure, error);
        capture->attach(&link.module); // from the open on, through reopens
    }
    if (const QString failure = openPort(link.module, link.name, settings); !failure.isEmpty())
        return run.fail(portProblem, failure);
    link.onUnsolicited = [&run](const QByteArray &f) { run.noteUnsolicited(f); };
    return success;
}

int runCommandLine()
{
    Options o;
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.addOptions({o.port,     o.baud,    o.parity, o.stopBits, o.timeout, o.retries,
                       o.json,     o.help,    o.lora,   o.noVerify, o.from,    o.maxHops,
                       o.route,    o.via,     o.hops,   o.ack,      o.count,   o.interval,
                       o.duration, o.address, o.map,    o.log,      o.quick,   o.dot,
                       o.repeat,   o.capture, o.csv,    o.reconnect});
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
    if (parser.isSet(o.help) && command.endsWith(QLatin1Char(' '))) {
        // "config --help": both of its commands.
        print(stdout, commandHelp(command + QLatin1String("get")) + QLatin1Char('\n') +
                          commandHelp(command + QLatin1String("set")));
        return success;
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
          &o.interval, &o.duration, &o.address, &o.map, &o.log, &o.quick, &o.dot, &o.repeat, &o.csv,
          &o.reconnect}) {
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
    if (!takeNumber(parser, o.timeout, 1, 3'600'000, &link.timeoutMs, &error))
        return run.fail(badUsage, error);
    if (!takeNumber(parser, o.retries, 0, 100, &link.retries, &error))
        return run.fail(badUsage, error);

    auto expectWords = [&](int low, int high, const QString &what) {
        if (words.size() < low || words.size() > high)
            error = QStringLiteral("%1 takes %2; see rfcfg %1 --help").arg(command, what);
        return error.isEmpty();
    };
    auto checkAddress = [&](const QString &text, const QString &what) {
        error = addressError(text, what);
        return error.isEmpty();
    };

    // Declared after the link: it outlives no link it records.
    std::unique_ptr<serial::Capture> capture;
    if (parser.isSet(o.capture) &&
        (command == QLatin1String("ports") || command == QLatin1String("discover") ||
         command == QLatin1String("decode")))
        return run.fail(
            badUsage,
            QStringLiteral("--capture does not apply to %1; see rfcfg --help").arg(command));

    if (command == QLatin1String("ports")) {
        if (!expectWords(0, 0, "no arguments"))
            return run.fail(badUsage, error);
        return listPorts(run);
    }
    if (command == QLatin1String("discover")) {
        if (!expectWords(0, 0, "no arguments"))
            return run.fail(badUsage, error);
        catchStopSignals();
        return discover(run, parser.values(o.port), parser.isSet(o.quick));
    }

    if (command == QLatin1String("decode"))
        return decode(run, words);

    // Per-command arguments.
    bool lora = parser.isSet(o.lora);
    if (command == QLatin1String("provision")) {
        ProvisionPlan plan;
        plan.settings = {*baud, *parity, *stopBits};
        plan.timeoutMs = link.timeoutMs;
        plan.retries = link.retries;
        plan.logPath = parser.value(o.log);
        error = planProvision(parser, o, words, lora, &plan);
        if (!error.isEmpty())
            return run.fail(badUsage, error);
        if (parser.isSet(o.capture) && !(capture = startCapture(parser.value(o.capture), &error)))
            return run.fail(outputFailure, error);
        plan.capture = capture.get();
        return provision(plan, run);
    }
    protocol::ConfigValues changes;
    SendPlan plan;
    // scan keeps what it learns in a map, and route and send add to a map file as scan does.
    ScanPlan scanPlan;
    network::NetworkMap map;
    int maxHops = 7, monitorCount = 0, monitorDurationMs = 0;
    if (command == QLatin1String("scan")) {
        error = planScan(parser, o, words, &scanPlan);
    } else if (command == QLatin1String("config set")) {
        if (parser.isSet(o.from) && parser.value(o.from).isEmpty())
            error = QStringLiteral("--from: the file name is empty; give a file written by "
                                   "config get --json");
        else
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
    if (error.isEmpty() && parser.isSet(o.map)) {
        scanPlan.mapPath = parser.value(o.map);
        error = scanPlan.mapPath.isEmpty() ? QStringLiteral("--map: the file name is empty")
                                           : loadScanMap(scanPlan, &map);
    }
    if (!error.isEmpty())
        return run.fail(badUsage, error);

    if (const int status =
            openForCommand(parser, o, run, link, {*baud, *parity, *stopBits}, capture);
        status != success)
        return status;

    if (command == QLatin1String("scan"))
        return scan(link, run, scanPlan, map);
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
        return whitelistSet(link, run, addressWords(words));
    if (command == QLatin1String("route") || command == QLatin1String("send")) {
        serial::MapFeeder feeder(&link.module, &map);
        int status = success;
        if (command == QLatin1String("route")) {
            status = route(link, run, words[0], maxHops);
        } else if (plan.count == 0 && plan.durationMs == 0) {
            status = sendOnce(link, run, plan);
        } else {
            endOnOutputFailure();
            status = linkTest(link, run, plan);
        }
        if (!scanPlan.mapPath.isEmpty()) {
            if (const QString failure = network::saveMapFile(map, scanPlan.mapPath);
                !failure.isEmpty()) {
                print(stderr, QStringLiteral("rfcfg: --map: %1\n").arg(failure));
                return status == success ? outputFailure : status;
            }
        }
        return status;
    }
    endOnOutputFailure();
    return monitor(link, run, monitorCount, monitorDurationMs);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rfcfg"));
    return withOutputChecked(runCommandLine());
}
