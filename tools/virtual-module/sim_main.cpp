// rfmodule-sim: a virtual radio module on a pseudo-terminal, for trying the tool without
// hardware.
#include "modulecapture.h"
#include "replaybehaviour.h"
#include "virtualmodule.h"

#include "protocol/frame.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <csignal>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)::write(signalPipe[1], &byte, 1);
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

// A network file is a few lines of text; anything larger is not one.
constexpr qint64 maxNetworkFileBytes = 1024 * 1024;

// Reads a network description from a regular file of bounded size. Devices, pipes and
// directories are refused before they are opened: they may never end or never answer.
std::optional<QByteArray> readNetworkFile(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("%1: no such file").arg(path);
        return std::nullopt;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("%1: not a regular file").arg(path);
        return std::nullopt;
    }
    if (info.size() > maxNetworkFileBytes) {
        *error = QStringLiteral("%1: larger than %2 bytes").arg(path).arg(maxNetworkFileBytes);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return std::nullopt;
    }
    // The file may grow after the check; read no more than the limit allows.
    const QByteArray text = file.read(maxNetworkFileBytes + 1);
    if (text.size() > maxNetworkFileBytes) {
        *error = QStringLiteral("%1: larger than %2 bytes").arg(path).arg(maxNetworkFileBytes);
        return std::nullopt;
    }
    return text;
}

// Makes `path` a link to `device`. Only nothing, or a dangling link (a simulator's leftover), is
// replaced: a file or a live link may belong to someone else.
bool makeLink(const QString &device, const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        if (info.exists()) { // exists() follows the link: its target is still there
            *error = QStringLiteral("%1 is a link in use (to %2); not replaced")
                         .arg(path, info.symLinkTarget());
            return false;
        }
        if (!QFile::remove(path)) {
            *error = QStringLiteral("cannot remove the dangling link %1").arg(path);
            return false;
        }
    } else if (info.exists()) {
        *error = QStringLiteral("%1 exists and is not a link; not replaced").arg(path);
        return false;
    }
    if (!QFile::link(device, path)) {
        *error = QStringLiteral("cannot create the link %1").arg(path);
        return false;
    }
    return true;
}

// Removes the link only while it still points at our device: another simulator may have
// taken the path over meanwhile.
void removeOwnLink(const QString &device, const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() && info.symLinkTarget() == QFileInfo(device).absoluteFilePath())
        QFile::remove(path);
}

// "RATE[,PARITY[,STOP]]": a rate of the module's list, none/odd/even (or n/o/e), 1 or 2.
std::optional<vmodule::ModuleBehaviour::SerialSettings> parseSerial(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() > 3)
        return std::nullopt;
    vmodule::ModuleBehaviour::SerialSettings s;
    bool ok = false;
    s.baudRate = parts[0].toInt(&ok);
    if (!ok)
        return std::nullopt;
    const QString parity = parts.value(1, QStringLiteral("none")).toLower();
    const QStringList parities = {QStringLiteral("none"), QStringLiteral("odd"),
                                  QStringLiteral("even")};
    s.parity = int(parities.indexOf(parity));
    if (s.parity < 0) {
        for (int i = 0; i < parities.size(); ++i) {
            if (parity == parities[i].left(1))
                s.parity = i;
        }
    }
    const QString stop = parts.value(2, QStringLiteral("1"));
    if (s.parity < 0 || (stop != QLatin1String("1") && stop != QLatin1String("2")))
        return std::nullopt;
    s.twoStopBits = stop == QLatin1String("2");
    return s;
}

// A whole number of at least `min`, or nothing.
std::optional<int> parseCount(const QString &text, int min)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= min ? std::optional<int>(value) : std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rfmodule-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A virtual radio module on a pseudo-terminal. Open the printed device in rfcfgtool\n"
        "like any serial port: the module answers configuration, version, reset, whitelist,\n"
        "route-search and data-send commands from a simulated network."));
    parser.addHelpOption();
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Also make a symbolic link to the device at <path>. An existing file or a "
                       "link whose target exists is refused; a dangling link is replaced. On "
                       "exit the link is removed if it still points at this device."),
        QStringLiteral("path"));
    const QCommandLineOption networkFile(
        QStringLiteral("network"),
        QStringLiteral("Load the network from <file>: lines 'node ABCD' and 'link ABCD 0001' "
                       "(hex addresses, '#' comments). The module's own address comes from its "
                       "configuration (default 0001). A regular file of at most 1 MiB."),
        QStringLiteral("file"));
    const QCommandLineOption randomNetwork(
        QStringLiteral("random-network"),
        QStringLiteral("Build a connected mesh of <n> nodes (2 to 4096, addresses 0001 up, 0001 "
                       "the module's own) whose hop counts from the module spread from 1 to "
                       "beyond 7; the same for the same --seed. Not with --network."),
        QStringLiteral("n"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("The seed of --random-network (default 1)."),
                                  QStringLiteral("s"));
    const QCommandLineOption printNetwork(
        QStringLiteral("print-network"),
        QStringLiteral("Print the network in the --network file format and exit."));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Log every request and reply with a time stamp, and every reply dropped "
                       "because the client does not read (with a running count)."));
    const QCommandLineOption version(
        QStringLiteral("firmware"),
        QStringLiteral("Firmware version to report, as MAIN.SUB in hex "
                       "(default 10.02)."),
        QStringLiteral("version"));
    const QCommandLineOption date(QStringLiteral("date"),
                                  QStringLiteral("Release date to report, YYYY-MM-DD with a year "
                                                 "from 2000 to 2099 (default 2014-03-25)."),
                                  QStringLiteral("date"));
    const QCommandLineOption serialOption(
        QStringLiteral("serial"),
        QStringLiteral("Serial settings stored in the module's record, RATE[,PARITY[,STOP]]: a "
                       "rate of the module's list (1200 to 230400), none, odd or even (default "
                       "none), 1 or 2 stop bits (default 1). Default 9600,even,1."),
        QStringLiteral("settings"));
    const QCommandLineOption lineCheck(
        QStringLiteral("line-check"),
        QStringLiteral("Answer only while the client's rate and stop bits match the record's "
                       "serial settings; bytes at other settings are ignored. A pseudo-terminal "
                       "does not carry parity, so parity is not checked. Settings written with "
                       "a configuration record apply after the reply to the write."));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Delay every reply by <ms> milliseconds."),
                                   QStringLiteral("ms"));
    const QCommandLineOption dropEvery(QStringLiteral("drop-every"),
                                       QStringLiteral("Drop every <n>th reply."),
                                       QStringLiteral("n"));
    const QCommandLineOption corruptEvery(
        QStringLiteral("corrupt-every"),
        QStringLiteral("Corrupt the checksum of every <n>th reply."), QStringLiteral("n"));
    const QCommandLineOption splitEvery(
        QStringLiteral("split-every"),
        QStringLiteral("Split every <n>th reply over two writes 600 ms apart."),
        QStringLiteral("n"));
    const QCommandLineOption noiseEvery(
        QStringLiteral("noise-every"),
        QStringLiteral("Send 8 random bytes before every <n>th reply."), QStringLiteral("n"));
    const QCommandLineOption unsolicitedEvery(
        QStringLiteral("unsolicited-every"),
        QStringLiteral("Send an unasked version reply every <ms> milliseconds."),
        QStringLiteral("ms"));
    const QCommandLineOption hangUpAfter(
        QStringLiteral("hang-up-after"),
        QStringLiteral("Hang up <s> seconds after start, as a pulled cable does (the device "
                       "and the --link vanish), and exit."),
        QStringLiteral("s"));
    const QCommandLineOption capture(
        QStringLiteral("capture"),
        QStringLiteral("Record the module's side to <file> (pcapng): requests read are inbound, "
                       "replies written outbound. A failed write stops the capture with a note."),
        QStringLiteral("file"));
    const QCommandLineOption replay(
        QStringLiteral("replay"),
        QStringLiteral("Answer as a capture (pcapng, taken by rfcfg, the window or this "
                       "simulator) did: each request gets what followed the same request in "
                       "it, the Nth time what followed its Nth occurrence; once they are used "
                       "up, the last again. A request the capture never saw gets no answer."),
        QStringLiteral("file"));
    const QCommandLineOption replayTiming(
        QStringLiteral("replay-timing"),
        QStringLiteral("With --replay, keep the capture's delays between a request and what "
                       "followed it."));
    parser.addOptions({link,         networkFile, randomNetwork, seed,
                       printNetwork, verbose,     version,       date,
                       serialOption, lineCheck,   delay,         dropEvery,
                       corruptEvery, splitEvery,  noiseEvery,    unsolicitedEvery,
                       hangUpAfter,  capture,     replay,        replayTiming});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);

    vmodule::Network network = vmodule::Network::standard();
    if (parser.isSet(networkFile)) {
        QString error;
        const auto text = readNetworkFile(parser.value(networkFile), &error);
        if (!text) {
            err << error << "\n";
            return 1;
        }
        const auto parsed = vmodule::Network::parse(QString::fromUtf8(*text), &error);
        if (!parsed) {
            err << parser.value(networkFile) << ": " << error << "\n";
            return 1;
        }
        network = *parsed;
    }
    if (parser.isSet(randomNetwork)) {
        const auto n = parseCount(parser.value(randomNetwork), 2);
        const auto s = parser.isSet(seed) ? parseCount(parser.value(seed), 0) : 1;
        if (!n || *n > vmodule::Network::maxRandomNodes || !s) {
            err << "--random-network expects 2 to " << vmodule::Network::maxRandomNodes
                << " nodes and --seed a whole number\n";
            return 1;
        }
        if (parser.isSet(networkFile)) {
            err << "--random-network and --network both give the network; use one of them\n";
            return 1;
        }
        network = vmodule::Network::random(*n, quint32(*s));
    } else if (parser.isSet(seed)) {
        err << "--seed needs --random-network\n";
        return 1;
    }
    if (parser.isSet(printNetwork)) {
        out << network.toText();
        return 0;
    }

    vmodule::VirtualModule module(network);
    if (parser.isSet(version)) {
        const QStringList parts = parser.value(version).split(QLatin1Char('.'));
        bool okMain = false, okSub = false;
        const uint main = parts.value(0).toUInt(&okMain, 16);
        const uint sub = parts.value(1).toUInt(&okSub, 16);
        if (parts.size() != 2 || !okMain || !okSub || main > 0xff || sub > 0xff) {
            err << "--firmware expects MAIN.SUB in hex, such as 10.02\n";
            return 1;
        }
        module.behaviour().setVersion(quint8(main), quint8(sub));
    }
    if (parser.isSet(date)) {
        const QDate released = QDate::fromString(parser.value(date), Qt::ISODate);
        if (!released.isValid()) {
            err << "--date expects YYYY-MM-DD\n";
            return 1;
        }
        if (!module.behaviour().setReleaseDate(released)) {
            err << "--date " << parser.value(date) << ": the version reply carries years "
                << vmodule::ModuleBehaviour::firstReleaseYear << " to "
                << vmodule::ModuleBehaviour::lastReleaseYear << " only\n";
            return 1;
        }
    }
    if (parser.isSet(serialOption)) {
        const auto settings = parseSerial(parser.value(serialOption));
        if (!settings || !module.behaviour().setSerialSettings(*settings)) {
            err << "--serial expects RATE[,PARITY[,STOP]] with a rate of 1200 2400 4800 9600 "
                   "14400 19200 28800 38400 57600 76800 115200 230400, none/odd/even, 1/2\n";
            return 1;
        }
    }
    module.setLineCheck(parser.isSet(lineCheck));
    // Each fault: its option, the least value it takes, and the value read.
    struct Fault
    {
        const QCommandLineOption &option;
        int min;
        int value = 0;
    };
    Fault faults[] = {{delay, 0},      {dropEvery, 1},        {corruptEvery, 1}, {splitEvery, 1},
                      {noiseEvery, 1}, {unsolicitedEvery, 1}, {hangUpAfter, 0}};
    for (Fault &fault : faults) {
        if (!parser.isSet(fault.option))
            continue;
        const auto value = parseCount(parser.value(fault.option), fault.min);
        if (!value) {
            err << "--" << fault.option.names().constFirst()
                << " expects a whole number of at least " << fault.min << "\n";
            return 1;
        }
        fault.value = *value;
    }
    module.setReplyDelay(faults[0].value);
    // The request counts decide which reply a fault falls on; each applies to this request's.
    quint64 requests = 0;
    QObject::connect(&module, &vmodule::VirtualModule::requestReceived, &module, [&] {
        ++requests;
        const auto due = [&](const Fault &f) { return f.value > 0 && requests % f.value == 0; };
        if (due(faults[1]))
            module.dropNextReply();
        if (due(faults[2]))
            module.corruptNextChecksum();
        if (due(faults[3]))
            module.splitNextReply();
        if (due(faults[4]))
            module.sendNoise(8);
    });
    QTimer unsolicited;
    if (faults[5].value > 0) {
        const QByteArray versionRequest =
            protocol::commandFrame(protocol::group::module, protocol::code::readVersion);
        QObject::connect(&unsolicited, &QTimer::timeout, &module, [&, versionRequest] {
            module.sendUnsolicited(
                module.behaviour().handle({vmodule::Request::Kind::Frame, versionRequest}));
        });
        unsolicited.start(faults[5].value);
    }
    if (parser.isSet(hangUpAfter)) {
        QTimer::singleShot(int(std::min<qint64>(qint64(faults[6].value) * 1000, INT_MAX)), &app,
                           [&] {
                               module.hangUp();
                               QCoreApplication::quit();
                           });
    }
    std::optional<vmodule::ReplayBehaviour> replayed;
    if (parser.isSet(replay)) {
        QString error;
        replayed = vmodule::ReplayBehaviour::fromFile(parser.value(replay), &error);
        if (!replayed) {
            err << "--replay: " << error << "\n";
            return 1;
        }
        const bool timed = parser.isSet(replayTiming);
        module.setResponder([&, timed](const vmodule::Request &request) {
            QByteArray now;
            for (const auto &chunk : replayed->answer(request.frame)) {
                if (!timed)
                    now += chunk.bytes;
                else
                    QTimer::singleShot(
                        int(chunk.delayUs / 1000), &module,
                        [&module, bytes = chunk.bytes] { module.sendUnsolicited(bytes); });
            }
            module.sendUnsolicited(now);
        });
    }
    if (!module.start()) {
        err << "cannot open a pseudo-terminal\n";
        return 1;
    }
    if (parser.isSet(capture)) {
        auto *recorder = new vmodule::ModuleCapture(
            &module, parser.isSet(link) ? parser.value(link) : module.terminalPath(), &app);
        QObject::connect(recorder, &vmodule::ModuleCapture::failed, [&](const QString &reason) {
            err << "capture to " << parser.value(capture) << " stopped: " << reason << Qt::endl;
        });
        if (!recorder->open(parser.value(capture))) {
            err << "--capture: cannot write " << parser.value(capture) << ": "
                << recorder->errorString() << "\n";
            return 1;
        }
    }

    // Ctrl+C, SIGTERM, a closed terminal (SIGHUP) and a closed output pipe (SIGPIPE) end the
    // event loop, so the link is removed. Set up before the link exists and before the device is
    // announced: whoever reads the announcement may signal at once.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            std::signal(signal, onSignal);
    }
    QString linkPath;
    if (parser.isSet(link)) {
        QString error;
        if (!makeLink(module.terminalPath(), parser.value(link), &error)) {
            err << error << "\n";
            return 1;
        }
        linkPath = parser.value(link);
    }
    out << module.terminalPath() << Qt::endl;

    if (parser.isSet(verbose)) {
        auto stamp = [] { return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")); };
        QObject::connect(
            &module, &vmodule::VirtualModule::requestReceived,
            [&](const QByteArray &b) { out << stamp() << " <- " << hexText(b) << Qt::endl; });
        QObject::connect(&module, &vmodule::VirtualModule::replySent, [&](const QByteArray &b) {
            out << stamp() << " -> " << hexText(b) << Qt::endl;
        });
        QObject::connect(&module, &vmodule::VirtualModule::bytesIgnored,
                         [&](const QByteArray &b, unsigned baud, bool twoStop) {
                             const auto s = module.behaviour().serialSettings();
                             out << stamp() << " ignored at " << baud << (twoStop ? "/2" : "/1")
                                 << " (the module runs " << s.baudRate
                                 << (s.twoStopBits ? "/2" : "/1") << ") " << hexText(b) << Qt::endl;
                         });
        QObject::connect(&module, &vmodule::VirtualModule::replyDropped, [&](const QByteArray &b) {
            out << stamp() << " dropped (" << module.repliesDropped()
                << " so far, the client does not read) " << hexText(b) << Qt::endl;
        });
    }

    const int result = app.exec();
    if (!linkPath.isEmpty())
        removeOwnLink(module.terminalPath(), linkPath);
    return result;
}
