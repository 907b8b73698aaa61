// rfmodule-sim: a virtual radio module on a pseudo-terminal, for trying the tool without
// hardware.
#include "virtualmodule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>

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
    parser.addOptions({link, networkFile, verbose, version, date});
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
    if (!module.start()) {
        err << "cannot open a pseudo-terminal\n";
        return 1;
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
