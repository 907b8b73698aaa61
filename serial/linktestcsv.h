#pragma once

#include "serial/linktest.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace serial {

// The lines of a link test's CSV, one format for the record written as a run goes and for the
// panel's export: time, sequence (from 1), target, status, latency in ms.
namespace linktestcsv {

QByteArray header();
// A settled send: the module's status and the latency, or no report (status "no reply",
// latency empty); `pending` for a send still waiting (an export in the middle of a run).
QByteArray sendLine(const QDateTime &at, qint64 sequence, quint16 target, std::optional<int> status,
                    double latencyMs, bool pending = false);
// A time without the port: when it began, status "gap", the sends missed in the sequence column
// and its length in whole milliseconds in the latency column.
QByteArray gapLine(const QDateTime &start, qint64 missed, quint16 target, qint64 lengthMs);

} // namespace linktestcsv

// Writes a link test's sends to a file as they settle, a line at a time straight to the system
// (no buffer of its own), so that a killed program leaves every settled send on disk. A write
// that fails stops the recording, never the run.
class LinkTestCsv : public QObject
{
    Q_OBJECT

public:
    explicit LinkTestCsv(QObject *parent = nullptr);
    ~LinkTestCsv() override;

    // Creates (or empties) the file and writes the header; false with errorString() when it
    // could not be created. A header the file does not take stops the recording (failed()).
    bool open(const QString &path);
    // Also hands each line to the disk before the next (fdatasync): survives a power loss, at
    // the disk's pace.
    void setSyncEachLine(bool on) { syncEachLine = on; }
    // The run's sends and gaps, with the target each send went to (written while open).
    void follow(LinkTest *test, std::function<quint16()> target);
    void close();

    bool isRecording() const { return file.isOpen(); }
    QString path() const { return file.fileName(); }
    QString errorString() const { return error; }
    qint64 linesWritten() const { return lines; }
    qint64 bytesWritten() const { return bytes; }

    // One line, at once; false (and the recording stopped) when the file did not take it.
    bool write(const QByteArray &line);

signals:
    // The recording stopped on a write error.
    void failed(const QString &reason);

private:
    QFile file;
    QString error;
    bool syncEachLine = false;
    qint64 lines = 0;
    qint64 bytes = 0;
    // The send in flight: when it went out and where to.
    QDateTime sentAt;
    quint16 sentTo = 0;
    std::function<quint16()> targetOf;
    QMetaObject::Connection connections[4];
};

} // namespace serial
