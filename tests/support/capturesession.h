#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A capture of every rfcfg command once against the virtual module, one of the replies with a
// corrupted checksum, for tests that read captures (ours and Wireshark's dissector).
struct CapturedSession
{
    QString programSide;         // rfcfg --capture of each command, one pcapng section per command
    QString moduleSide;          // the virtual module's side of the whole session
    QList<QStringList> commands; // the rfcfg arguments run, without -p and --capture
    QStringList outputs;         // what each printed
    QString corruptedCommand;    // the command whose first reply was corrupted (retried)
};

// Runs the commands with the rfcfg binary into `directory`; false with the reason when a
// command failed or a file could not be written. Runs the event loop meanwhile.
bool captureEveryCommand(const QString &rfcfgBinary, const QString &directory,
                         CapturedSession *session, QString *error);
