#include "serial/linktestcsv.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace serial {

namespace linktestcsv {

namespace {

QByteArray timeText(const QDateTime &at)
{
    return at.toString(Qt::ISODateWithMs).toLatin1();
}

QByteArray targetText(quint16 target)
{
    return QByteArray::number(target, 16).rightJustified(4, '0');
}

} // namespace

QByteArray header()
{
    return QByteArrayLiteral("time,sequence,target,status,latency_ms\n");
}

QByteArray sendLine(const QDateTime &at, qint64 sequence, quint16 target, std::optional<int> status,
                    double latencyMs, bool pending)
{
    QByteArray line =
        timeText(at) + ',' + QByteArray::number(sequence) + ',' + targetText(target) + ',';
    if (pending)
        line += "pending,";
    else if (!status)
        line += "no reply,";
    else
        line += "0x" + QByteArray::number(*status & 0xff, 16).rightJustified(2, '0') + ',' +
                QByteArray::number(latencyMs, 'f', 2);
    return line + '\n';
}

QByteArray gapLine(const QDateTime &start, qint64 missed, quint16 target, qint64 lengthMs)
{
    return timeText(start) + ',' + QByteArray::number(missed) + ',' + targetText(target) + ",gap," +
           QByteArray::number(lengthMs) + '\n';
}

} // namespace linktestcsv

LinkTestCsv::LinkTestCsv(QObject *parent) : QObject(parent) {}

LinkTestCsv::~LinkTestCsv()
{
    close();
}

bool LinkTestCsv::open(const QString &path)
{
    close();
    error.clear();
    lines = bytes = 0;
    file.setFileName(path);
    // Unbuffered: each write goes to the system at once, nothing waits in this process.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }
    // A file that takes no header fails like any later line: the recording stops, not the run.
    write(linktestcsv::header());
    return true;
}

void LinkTestCsv::close()
{
    if (file.isOpen())
        file.close();
}

bool LinkTestCsv::write(const QByteArray &line)
{
    if (!file.isOpen())
        return false;
    const bool taken =
        file.write(line) == line.size() && (!syncEachLine || ::fdatasync(file.handle()) == 0);
    if (!taken) {
        error = file.errorString();
        if (error.isEmpty() || file.error() == QFileDevice::NoError)
            error = QString::fromLocal8Bit(strerror(errno));
        close();
        emit failed(error);
        return false;
    }
    ++lines;
    bytes += line.size();
    return true;
}

void LinkTestCsv::follow(LinkTest *test, std::function<quint16()> target)
{
    for (QMetaObject::Connection &c : connections)
        disconnect(c);
    targetOf = std::move(target);
    connections[0] = connect(test, &LinkTest::sent, this, [this] {
        sentAt = QDateTime::currentDateTime();
        sentTo = targetOf ? targetOf() : 0;
    });
    connections[1] =
        connect(test, &LinkTest::answered, this,
                [this](qsizetype sequence, std::optional<int> status, double ms) {
                    write(linktestcsv::sendLine(sentAt, sequence + 1, sentTo, status, ms));
                });
    connections[2] = connect(test, &LinkTest::noReply, this, [this](qsizetype sequence) {
        write(linktestcsv::sendLine(sentAt, sequence + 1, sentTo, std::nullopt, 0));
    });
    connections[3] = connect(test, &LinkTest::gapClosed, this, [this](const LinkTest::Gap &gap) {
        write(linktestcsv::gapLine(gap.start, gap.missed, sentTo, gap.lengthMs));
    });
}

} // namespace serial
