#pragma once

#include "replywords.h"

#include "protocol/configfields.h"
#include "serial/session.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <utility>

// The commands of rfcfg, each printing its text or JSON and returning the exit status.
namespace rfcfg {

enum ExitStatus {
    success = 0,
    moduleFailure = 1,
    badUsage = 2,
    portProblem = 3,
    noReply = 4,
    outputFailure = 5,
};

// Writes and flushes `text`; false when it could not be written (withOutputChecked() then
// turns success into outputFailure).
bool print(FILE *stream, const QString &text);
// For the commands that stream (monitor, link test): a failed write to standard output ends
// them, as Ctrl+C does, since nobody reads what would follow. The others finish their
// exchange, so a written configuration is still verified.
void endOnOutputFailure();
// The exit status once standard output and standard error are flushed: `status`, or
// outputFailure when it was success and some output could not be written.
int withOutputChecked(int status);
// Bytes as two hex digits each, separated by blanks.
QString hexText(QByteArrayView bytes);
bool isHexWord(const QString &text);

// Set by Ctrl+C (SIGINT) or SIGTERM once catchStopSignals() ran; waits end early.
bool stopRequested();
void catchStopSignals();

// One command's output: the text lines, or the JSON document printed at the end.
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
        noteUnsolicitedLeftOut();
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
        noteUnsolicitedLeftOut();
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
        ++unsolicitedTotal;
        // A night-long link test or a chattering module must not grow the document or flood
        // the terminal: the first frames tell enough, the rest are counted.
        if (unsolicitedTotal > maxUnsolicitedListed)
            return;
        const QString decoded = describeFrame(frame);
        if (json)
            unsolicited.append(QJsonObject{{"hex", hexText(frame)}, {"decoded", decoded}});
        else
            print(
                stderr,
                QStringLiteral("rfcfg: note: unsolicited %1 (%2)\n").arg(hexText(frame), decoded));
    }
    // In text, once: how many unsolicited frames were counted but not shown.
    void noteUnsolicitedLeftOut()
    {
        const qint64 leftOut = unsolicitedTotal - maxUnsolicitedListed;
        if (json || leftOut <= 0 || std::exchange(leftOutNoted, true))
            return;
        print(stderr, QStringLiteral("rfcfg: note: %1 more unsolicited frame%2 not shown\n")
                          .arg(leftOut)
                          .arg(leftOut == 1 ? "" : "s"));
    }

    QString command;
    bool json;
    QJsonObject doc;
    QJsonArray unsolicited;
    qint64 unsolicitedTotal = 0;
    bool leftOutNoted = false;
    static constexpr int maxUnsolicitedListed = 100;
};

// The link to the module, with rfcfg's timeout and retries.
struct Link
{
    Link();

    serial::ModuleLink module;
    serial::Session session{&module};
    int timeoutMs = 1000; // for every request, whatever its length
    int retries = 2;
    QString name;
    // What the module sends that answers nothing.
    std::function<void(const QByteArray &)> onUnsolicited;
    QString lossReason; // why the port was lost, once it was
};

struct SendPlan
{
    QByteArray frame;
    QString target;
    int count = 0;         // 0 and no duration: one send, not a link test
    qint64 durationMs = 0; // a link test's limit in time
    int intervalMs = 500;
    int retries = 0;
    QString csvPath;     // each send written there as it settles
    int reconnectS = 60; // how long a lost port is waited for; 0: it ends the test
};

// How a record read back differs from the one written, for JSON and for people ("KEY wrote A,
// reads B"); config set and provision report verification alike.
QJsonArray differencesJson(const QList<protocol::RecordDifference> &differences);
QStringList differencesText(const QList<protocol::RecordDifference> &differences);

// Line settings as the JSON output names them: {"baud", "parity", "stop_bits"}.
QJsonObject serialObject(const serial::LineSettings &settings);

// Sends `request` and waits --timeout for its readable reply, sending it again up to `retries`
// times: success, or the exit status with the message to report (an interruption by Ctrl+C
// included).
int request(Link &link, const QByteArray &request, int retries, const QString &what,
            protocol::ReplyFrame *reply, QString *message, double *latencyMs = nullptr);

int listPorts(Run &run);
int configGet(Link &link, Run &run, bool lora);
// Read, change, write and (when `verify`) read back and compare.
int configSet(Link &link, Run &run, const protocol::ConfigValues &changes, bool lora, bool verify);
int version(Link &link, Run &run);
int reset(Link &link, Run &run);
int whitelistGet(Link &link, Run &run);
int whitelistSet(Link &link, Run &run, QStringList entries);
int route(Link &link, Run &run, const QString &target, int maxHops);
int sendOnce(Link &link, Run &run, const SendPlan &plan);
int linkTest(Link &link, Run &run, const SendPlan &plan);
int monitor(Link &link, Run &run, int count, int durationMs);

} // namespace rfcfg
