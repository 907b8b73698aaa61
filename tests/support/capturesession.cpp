#include "capturesession.h"

#include "modulecapture.h"
#include "virtualmodule.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

bool captureEveryCommand(const QString &rfcfgBinary, const QString &directory,
                         CapturedSession *session, QString *error)
{
    vmodule::VirtualModule module;
    if (!module.start()) {
        *error = QStringLiteral("no pseudo-terminal");
        return false;
    }
    const QDir dir(directory);
    session->programSide = dir.filePath(QStringLiteral("program-side.pcapng"));
    session->moduleSide = dir.filePath(QStringLiteral("module-side.pcapng"));
    session->corruptedCommand = QStringLiteral("version");
    vmodule::ModuleCapture moduleCapture(&module, module.devicePath());
    if (!moduleCapture.open(session->moduleSide)) {
        *error = moduleCapture.errorString();
        return false;
    }
    session->commands = {
        {"config", "get"}, {"config", "set", "channel=5"}, {"version"},
        {"reset"},         {"whitelist", "get"},           {"whitelist", "set", "0002"},
        {"route", "1234"}, {"send", "1234", "0102"},
    };
    QFile program(session->programSide);
    if (!program.open(QIODevice::WriteOnly)) {
        *error = program.errorString();
        return false;
    }
    for (const QStringList &command : std::as_const(session->commands)) {
        if (command.join(QLatin1Char(' ')) == session->corruptedCommand)
            module.corruptNextChecksum();
        const QString part = dir.filePath(QStringLiteral("part.pcapng"));
        QProcess rfcfg;
        rfcfg.start(rfcfgBinary,
                    QStringList{"-p", module.devicePath(), "--capture", part} + command);
        const QDeadlineTimer deadline(60000);
        while (rfcfg.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(10);
        if (rfcfg.exitStatus() != QProcess::NormalExit || rfcfg.exitCode() != 0) {
            *error = command.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                     QString::fromUtf8(rfcfg.readAllStandardError());
            return false;
        }
        session->outputs << QString::fromUtf8(rfcfg.readAllStandardOutput());
        // One section after the other is a capture of its own right.
        QFile piece(part);
        if (!piece.open(QIODevice::ReadOnly) || program.write(piece.readAll()) < 0) {
            *error = piece.errorString();
            return false;
        }
    }
    return true;
}
