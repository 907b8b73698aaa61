// rfmodule-sim: a virtual radio module on a pseudo-terminal, for trying the tool without
// hardware.
#include "virtualmodule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
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
        QStringLiteral("Also make a symbolic link to the device at <path>."),
        QStringLiteral("path"));
    const QCommandLineOption networkFile(
        QStringLiteral("network"),
        QStringLiteral("Load the network from <file>: lines 'node ABCD' and 'link ABCD 0001' "
                       "(hex addresses, '#' comments). The module's own address comes from its "
                       "configuration (default 0001)."),
        QStringLiteral("file"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Log every request and reply with a time stamp."));
    const QCommandLineOption version(
        QStringLiteral("firmware"),
        QStringLiteral("Firmware version to report, as MAIN.SUB in hex "
                       "(default 10.02)."),
        QStringLiteral("version"));
    const QCommandLineOption date(QStringLiteral("date"),
                                  QStringLiteral("Release date to report, YYYY-MM-DD "
                                                 "(default 2014-03-25)."),
                                  QStringLiteral("date"));
    parser.addOptions({link, networkFile, verbose, version, date});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);

    vmodule::Network network = vmodule::Network::standard();
    if (parser.isSet(networkFile)) {
        QFile file(parser.value(networkFile));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            err << "cannot read " << file.fileName() << "\n";
            return 1;
        }
        QString error;
        const auto parsed = vmodule::Network::parse(QString::fromUtf8(file.readAll()), &error);
        if (!parsed) {
            err << file.fileName() << ": " << error << "\n";
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
        module.behaviour().setReleaseDate(released);
    }
    if (!module.start()) {
        err << "cannot open a pseudo-terminal\n";
        return 1;
    }

    QString linkPath;
    if (parser.isSet(link)) {
        linkPath = parser.value(link);
        QFile::remove(linkPath);
        if (!QFile::link(module.devicePath(), linkPath)) {
            err << "cannot create the link " << linkPath << "\n";
            return 1;
        }
    }
    out << module.devicePath() << Qt::endl;

    if (parser.isSet(verbose)) {
        auto stamp = [] { return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")); };
        QObject::connect(
            &module, &vmodule::VirtualModule::requestReceived,
            [&](const QByteArray &b) { out << stamp() << " <- " << hexText(b) << Qt::endl; });
        QObject::connect(&module, &vmodule::VirtualModule::replySent, [&](const QByteArray &b) {
            out << stamp() << " -> " << hexText(b) << Qt::endl;
        });
    }

    // Ctrl+C and SIGTERM end the event loop so the link is removed.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    const int result = app.exec();
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
    return result;
}
