#include "provision.h"

#include "portaccess.h"
#include "replywords.h"

#include "protocol/configrecord.h"
#include "protocol/replyframe.h"
#include "serial/discovery.h"
#include "serial/session.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSerialPortInfo>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace rfcfg {

using serial::ModuleLink;

namespace {

enum class Step { Opening, Version, Read, Write, ReadBack, Done };

const char *stepText(Step step)
{
    switch (step) {
    case Step::Opening:
        return "opening";
    case Step::Version:
        return "reading the version";
    case Step::Read:
        return "reading the configuration";
    case Step::Write:
        return "writing";
    case Step::ReadBack:
        return "reading back";
    case Step::Done:
        break;
    }
    return "done";
}

// The adapter's USB serial number, when the system knows the port (also through a link).
QString usbSerialNumber(const QString &port, const QList<QSerialPortInfo> &known)
{
    const QString device = QFileInfo(port).canonicalFilePath();
    for (const QSerialPortInfo &info : known) {
        if (info.portName() == port || info.systemLocation() == port ||
            (!device.isEmpty() && info.systemLocation() == device))
            return info.serialNumber();
    }
    return {};
}

// One module's way through the steps, each an operation on its session over its own link.
class ModuleJob : public QObject
{
public:
    ModuleJob(const ProvisionPlan &plan, const ProvisionTarget &target,
              std::function<void()> changed)
        : plan(plan), target(target), changed(std::move(changed))
    {
        session.setReplyWaitMs(plan.timeoutMs);
        session.setRetries(plan.retries);
        if (plan.capture)
            plan.capture->attach(&link);
        connect(&link, &ModuleLink::lost, this, [this](const QString &reason) {
            if (step != Step::Done)
                finish(QStringLiteral("port_error"), portProblem,
                       QStringLiteral("lost the port (%1)").arg(reason));
        });
        // The write's reply, on time or late, means the module holds the record: what follows
        // is reading it back.
        auto writeAnswered = [this](const ModuleLink::Request &request) {
            if (step == Step::Write && request.frame == writeFrame) {
                step = Step::ReadBack;
                this->changed();
            }
        };
        connect(&link, &ModuleLink::answered, this,
                [writeAnswered](const ModuleLink::Request &r, const QByteArray &, qint64) {
                    writeAnswered(r);
                });
        connect(&link, &ModuleLink::lateReply, this,
                [writeAnswered](const ModuleLink::Request &r, const QByteArray &) {
                    writeAnswered(r);
                });
    }

    void start(const QList<QSerialPortInfo> &known)
    {
        usbSerial = usbSerialNumber(target.port, known);
        const QString failure = openPort(link, target.port, plan.settings);
        if (!failure.isEmpty()) {
            finish(QStringLiteral("port_error"), portProblem, failure);
            return;
        }
        run(Step::Version, session.version());
    }

    // Ctrl+C: the operation in flight is cancelled and nothing more is sent; the port closes
    // once the frame in flight is out.
    void stop()
    {
        if (step == Step::Done)
            return;
        interrupted = true;
        stoppedAt = step;
        if (current)
            current->cancel(QStringLiteral("interrupted"));
        finish(QStringLiteral("interrupted"), noReply,
               sentAny ? QStringLiteral("interrupted while %1").arg(QLatin1String(stepText(step)))
                       : QStringLiteral("interrupted before anything was sent"));
    }

    bool done() const { return step == Step::Done && link.state() == ModuleLink::State::Closed; }
    bool finished() const { return step == Step::Done; }
    // A module that was sent anything may have changed, so it is recorded even when
    // interrupted; one that was sent nothing is as it was.
    bool recorded() const { return finished() && (!interrupted || sentAny); }
    int exitStatus() const { return status; }
    bool ok() const { return result == QLatin1String("ok"); }

    QString progressLine() const
    {
        const QString where = step == Step::Done ? result : QString::fromLatin1(stepText(step));
        return QStringLiteral("%1  %2  %3")
            .arg(target.port, -portWidth)
            .arg(addressText(), -4)
            .arg(where);
    }

    QString addressText() const
    {
        if (target.address)
            return protocol::formatHexWord(*target.address);
        if (readRecord)
            return protocol::formatHexWord(
                protocol::decodeConfigRecord(readRecord->data()).moduleAddress);
        return {};
    }

    QJsonObject summaryJson() const
    {
        QJsonObject o{
            {"port", target.port},
            {"address", orNull(addressText())},
            {"firmware", orNull(firmware)},
            {"result", result},
            {"differences", differencesJson(differences)},
            {"serial_after", serialAfter ? QJsonValue(serialObject(*serialAfter)) : QJsonValue()}};
        if (!error.isEmpty())
            o.insert(QStringLiteral("error"), error);
        if (interrupted)
            o.insert(QStringLiteral("step"), QLatin1String(stepText(stoppedAt)));
        return o;
    }

    QJsonObject logJson() const
    {
        QJsonObject o = summaryJson();
        o.insert(QStringLiteral("time"), finishedAt.toString(Qt::ISODateWithMs));
        o.insert(QStringLiteral("usb_serial_number"), orNull(usbSerial));
        o.insert(QStringLiteral("profile"), plan.profile.name);
        o.insert(QStringLiteral("profile_sha256"), plan.profile.sha256);
        return o;
    }

    QString summaryRow() const
    {
        QStringList described = differencesText(differences);
        if (described.isEmpty() && !ok())
            described << error;
        // Where the module answers from now on, when that is no longer where the batch began.
        if (serialAfter && followed)
            described << QStringLiteral("now at %1").arg(serial::settingsText(*serialAfter));
        return QStringLiteral("%1  %2  %3  %4  %5\n")
                   .arg(target.port, -portWidth)
                   .arg(orDash(addressText()), -7)
                   .arg(orDash(firmware), -8)
                   .arg(result, -10)
                   .arg(described.join(QLatin1String("; ")))
                   .trimmed() +
               QLatin1Char('\n');
    }

    int portWidth = 4;

private:
    static QJsonValue orNull(const QString &s) { return s.isEmpty() ? QJsonValue() : s; }
    static QString orDash(const QString &s) { return s.isEmpty() ? QStringLiteral("-") : s; }

    void run(Step next, serial::Operation *operation)
    {
        step = next;
        current = operation;
        sentAny = true; // even a frame the port took only in part may have reached the module
        connect(operation, &serial::Operation::finished, this, &ModuleJob::onFinished);
        changed();
    }

    void onFinished(const serial::Outcome &outcome)
    {
        current = nullptr;
        if (step == Step::Done)
            return; // stopped, or the port was lost first
        using Kind = serial::Outcome::Kind;
        const QString doing = QLatin1String(stepText(step));
        switch (outcome.kind) {
        case Kind::Cancelled:
            finish(QStringLiteral("port_error"), portProblem, outcome.reason);
            return;
        case Kind::NoReply:
            finish(
                QStringLiteral("no_reply"), noReply,
                QStringLiteral("no reply while %1 (%2 attempts)").arg(doing).arg(outcome.attempts));
            return;
        case Kind::Failed:
            if (outcome.reply.isReadable() && outcome.status.value_or(0) != 0) {
                finish(QStringLiteral("failed"), moduleFailure,
                       QStringLiteral("the module refused the configuration (status 0x%1)")
                           .arg(*outcome.status, 2, 16, QLatin1Char('0')));
                return;
            }
            finish(QStringLiteral("no_reply"), noReply,
                   QStringLiteral("unreadable reply while %1").arg(doing));
            return;
        case Kind::Answered:
            break;
        }
        switch (step) {
        case Step::Version:
            firmware = versionOf(*outcome.reply.version).version;
            run(Step::Read, session.readConfig());
            break;
        case Step::Read:
            readRecord = *outcome.reply.record;
            writeProfile();
            break;
        case Step::Write:
        case Step::ReadBack:
            serialAfter = outcome.answeredAt;
            followed = outcome.followed;
            // The whole record counts: a bit no key shows may still have been lost.
            differences = protocol::recordDifferences(
                written, outcome.readBack.value_or(protocol::ConfigRecord{}), plan.profile.lora);
            if (differences.isEmpty())
                finish(QStringLiteral("ok"), success, {});
            else
                finish(QStringLiteral("failed"), moduleFailure,
                       QStringLiteral("verification found differences"));
            break;
        case Step::Opening:
        case Step::Done:
            break;
        }
    }

    void writeProfile()
    {
        const bool lora = plan.profile.lora;
        protocol::ModuleConfig config = protocol::decodeConfigRecord(readRecord->data());
        QStringList named;
        for (const auto &[key, value] : plan.profile.values) {
            if (key == QLatin1String("address"))
                continue;
            protocol::setConfigValue(config, key, value, lora); // checked when the profile was read
            named << key;
        }
        if (target.address) {
            config.moduleAddress = *target.address;
            named << QStringLiteral("address");
        }
        if (const QStringList unknown = protocol::keysOutsideLists(config, lora, named);
            !unknown.isEmpty()) {
            finish(QStringLiteral("failed"), badUsage,
                   QStringLiteral("the module's configuration holds values outside their lists "
                                  "(%1) that the profile does not set; nothing was written")
                       .arg(unknown.join(QLatin1String(", "))));
            return;
        }
        written = protocol::withConfigKeys(*readRecord, config, named);
        writeFrame = protocol::commandFrame(protocol::group::module, protocol::code::writeConfig,
                                            QByteArrayView(written.data(), written.size()));
        // Verified by reading it back; new serial settings are followed, also when the write's
        // reply is lost.
        run(Step::Write, session.writeConfig(written, {true, readRecord}));
    }

    void finish(const QString &outcome, int exit, const QString &why)
    {
        if (step == Step::Done)
            return;
        step = Step::Done;
        result = outcome;
        status = exit;
        error = why;
        finishedAt = QDateTime::currentDateTimeUtc();
        link.close();
        changed();
    }

    const ProvisionPlan &plan;
    const ProvisionTarget target;
    std::function<void()> changed;
    ModuleLink link;
    serial::Session session{&link};
    QPointer<serial::Operation> current;
    Step step = Step::Opening;
    QByteArray writeFrame;
    QString firmware, usbSerial, result, error;
    std::optional<protocol::ConfigRecord> readRecord;
    protocol::ConfigRecord written{};
    QList<protocol::RecordDifference> differences;
    std::optional<serial::LineSettings> serialAfter; // where the verifying read was answered
    bool followed = false;
    QDateTime finishedAt;
    int status = success;
    bool interrupted = false, sentAny = false;
    Step stoppedAt = Step::Opening;
};

// The --log file. Opened without blocking, and only a file or a character device: a pipe
// nobody reads would hold the batch, deaf to Ctrl+C, before any module is touched. After the
// first line that fails nothing more is appended, lest a torn line run into the next; the
// records that follow are counted as not stored.
class RecordLog
{
public:
    ~RecordLog()
    {
        if (fd >= 0)
            ::close(fd);
    }

    QString open(const QString &name)
    {
        path = name;
        const QString unfit =
            QStringLiteral("--log: %1 is neither a regular file nor a character device").arg(path);
        const QByteArray encoded = QFile::encodeName(path);
        struct stat info = {};
        if (::stat(encoded.constData(), &info) == 0 && !S_ISREG(info.st_mode) &&
            !S_ISCHR(info.st_mode))
            return unfit;
        fd = ::open(encoded.constData(),
                    O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0)
            return QStringLiteral("--log: cannot write %1: %2")
                .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        // What was opened, checked again: the name may have been replaced since.
        if (::fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISCHR(info.st_mode)))
            return unfit;
        regular = S_ISREG(info.st_mode);
        return {};
    }

    // False when the line is not stored; the first such failure is reported at once.
    bool append(const QByteArray &line)
    {
        if (failed()) {
            ++notStored;
            return false;
        }
        int error = 0;
        for (qsizetype done = 0; done < line.size() && error == 0;) {
            const ssize_t n = ::write(fd, line.constData() + done, size_t(line.size() - done));
            if (n > 0)
                done += n;
            else if (n == 0)
                error = EIO;
            else if (errno != EINTR)
                error = errno;
        }
        // On a file the record counts once it is on the disk.
        if (error == 0 && regular && ::fdatasync(fd) != 0)
            error = errno;
        if (error == 0)
            return true;
        ++notStored;
        reason = QString::fromLocal8Bit(std::strerror(error));
        print(stderr, QStringLiteral("rfcfg: --log: cannot write %1: %2; the modules already "
                                     "started are finished, no other is started, and no "
                                     "more records are stored\n")
                          .arg(path, reason));
        return false;
    }

    bool failed() const { return !reason.isEmpty(); }

    QString path, reason;
    int notStored = 0;

private:
    int fd = -1;
    bool regular = false;
};

QString addressOf(const QString &text, std::optional<protocol::HexWord> *address)
{
    *address = protocol::hexWordFromText(text.trimmed());
    if (*address)
        return {};
    return protocol::notAnAddress(QStringLiteral("'%1'").arg(text));
}

} // namespace

QString assignAddresses(QList<ProvisionTarget> &targets, const QString &start)
{
    std::optional<protocol::HexWord> first;
    if (const QString error = addressOf(start, &first); !error.isEmpty())
        return QStringLiteral("--address: ") + error;
    const int base = first->high << 8 | first->low;
    if (base + targets.size() - 1 > 0xffff)
        return QStringLiteral("--address: %1 ports from %2 run past ffff")
            .arg(targets.size())
            .arg(start);
    for (int i = 0; i < targets.size(); ++i)
        targets[i].address = protocol::HexWord{quint8((base + i) >> 8), quint8((base + i) & 0xff)};
    return {};
}

QString applyAddressMap(QList<ProvisionTarget> &targets, const QString &csvPath)
{
    QByteArray contents;
    // The same bounds as a profile: a regular file, not too large.
    if (const QString error = protocol::readProfileFile(csvPath, &contents); !error.isEmpty())
        return QStringLiteral("--map: ") + error;
    QList<ProvisionTarget> mapped;
    QString text = QString::fromUtf8(contents);
    if (text.startsWith(QChar(0xfeff)))
        text.remove(0, 1); // the byte order mark spreadsheets put before a CSV
    const QStringList lines = text.split(QLatin1Char('\n'));
    bool first = true;
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(','));
        // Column names only by their words: a first line with a mistyped address is no
        // header, and leaving its module out would pass unnoticed.
        if (std::exchange(first, false) && fields.size() == 2 &&
            fields[0].trimmed().compare(QLatin1String("port"), Qt::CaseInsensitive) == 0 &&
            fields[1].trimmed().compare(QLatin1String("address"), Qt::CaseInsensitive) == 0)
            continue;
        std::optional<protocol::HexWord> address;
        const QString error = fields.size() == 2 ? addressOf(fields[1], &address)
                                                 : QStringLiteral("not PORT,ADDRESS");
        if (!error.isEmpty())
            return QStringLiteral("--map: %1 line %2: %3").arg(csvPath).arg(n + 1).arg(error);
        mapped.append({fields[0].trimmed(), address});
    }
    if (targets.isEmpty()) {
        targets = mapped;
    } else {
        for (ProvisionTarget &t : targets) {
            const auto it =
                std::find_if(mapped.begin(), mapped.end(),
                             [&](const ProvisionTarget &m) { return m.port == t.port; });
            if (it == mapped.end())
                return QStringLiteral("--map: %1 has no address for %2").arg(csvPath, t.port);
            t.address = it->address;
        }
    }
    if (targets.isEmpty())
        return QStringLiteral("--map: %1 names no port").arg(csvPath);
    for (int i = 0; i < targets.size(); ++i) {
        for (int j = 0; j < i; ++j) {
            if (targets[i].port == targets[j].port)
                return QStringLiteral("%1 is named twice").arg(targets[i].port);
            if (targets[i].address && targets[j].address &&
                *targets[i].address == *targets[j].address)
                return QStringLiteral("--map: %1 and %2 would both get address %3")
                    .arg(targets[j].port, targets[i].port,
                         protocol::formatHexWord(*targets[i].address));
        }
    }
    return {};
}

int provision(const ProvisionPlan &plan, Run &run)
{
    catchStopSignals();
    RecordLog log;
    if (!plan.logPath.isEmpty()) {
        if (const QString error = log.open(plan.logPath); !error.isEmpty())
            return run.fail(badUsage, error);
    }
    const bool live = !run.json && ::isatty(STDOUT_FILENO);
    int width = 4;
    for (const ProvisionTarget &t : plan.targets)
        width = std::max(width, int(t.port.size()));

    QList<ModuleJob *> jobs;
    QObject owner;
    bool drawn = false, dirty = false;
    auto redraw = [&] {
        if (!live)
            return;
        QString text;
        if (drawn)
            text += QStringLiteral("\x1b[%1A").arg(jobs.size());
        for (const ModuleJob *job : jobs)
            text += QStringLiteral("\r\x1b[K") + job->progressLine() + QLatin1Char('\n');
        print(stdout, text);
        drawn = true;
        dirty = false;
    };
    QList<ModuleJob *> logged;
    auto writeLogLines = [&] {
        for (ModuleJob *job : jobs) {
            if (!job->finished() || logged.contains(job))
                continue;
            logged << job;
            if (plan.logPath.isEmpty() || !job->recorded())
                continue;
            const bool failedBefore = log.failed();
            log.append(QJsonDocument(job->logJson()).toJson(QJsonDocument::Compact) + '\n');
            if (log.failed() && !failedBefore)
                drawn = false; // the report took a line: the progress starts afresh below it
        }
    };
    for (const ProvisionTarget &t : plan.targets) {
        auto *job = new ModuleJob(plan, t, [&] { dirty = true; });
        job->setParent(&owner);
        job->portWidth = width;
        jobs << job;
    }
    redraw();
    // Asking the system for its ports takes milliseconds: once for the whole batch.
    const QList<QSerialPortInfo> known = QSerialPortInfo::availablePorts();
    // Every module is started before the first record is written, so a log that fails holds
    // back no start. Ctrl+C does: a module not started is sent nothing.
    for (ModuleJob *job : jobs) {
        if (stopRequested())
            break;
        job->start(known);
    }

    // The application's event loop runs every module; a tick asks for the stop request,
    // writes the records of the modules that finished and redraws the progress.
    QObject scope;
    QTimer tick;
    bool stopped = false;
    QObject::connect(&tick, &QTimer::timeout, &scope, [&] {
        if (stopRequested() && !stopped) {
            stopped = true;
            for (ModuleJob *job : jobs)
                job->stop();
        }
        writeLogLines();
        if (dirty)
            redraw();
        if (std::all_of(jobs.begin(), jobs.end(), [](const ModuleJob *j) { return j->done(); }))
            QCoreApplication::exit();
    });
    tick.start(50);
    QCoreApplication::exec();
    writeLogLines();
    redraw();

    QJsonArray modules;
    int ok = 0, status = success;
    QString table = QStringLiteral("%1  address  firmware  result      differences\n")
                        .arg(QStringLiteral("port"), -width);
    for (const ModuleJob *job : jobs) {
        modules.append(job->summaryJson());
        table += job->summaryRow();
        if (job->ok())
            ++ok;
        status = std::max(status, job->exitStatus());
    }
    const int failed = int(jobs.size()) - ok;
    const QString notStored = log.notStored == 0 ? QString()
                                                 : QStringLiteral("%1 record%2 not stored in %3")
                                                       .arg(log.notStored)
                                                       .arg(log.notStored == 1 ? "" : "s")
                                                       .arg(log.path);
    run.text(table + QStringLiteral("%1 ok, %2 failed%3%4\n")
                         .arg(ok)
                         .arg(failed)
                         .arg(stopped ? QStringLiteral(" (interrupted)") : QString())
                         .arg(notStored.isEmpty() ? QString() : QStringLiteral("; ") + notStored));
    run.doc.insert(QStringLiteral("modules"), modules);
    run.doc.insert(QStringLiteral("ok"), ok);
    run.doc.insert(QStringLiteral("failed"), failed);
    run.doc.insert(QStringLiteral("interrupted"), stopped);
    if (!plan.logPath.isEmpty())
        run.doc.insert(QStringLiteral("records_not_stored"), log.notStored);
    if (status != success)
        return run.fail(
            std::max(status, log.failed() ? int(outputFailure) : success),
            QStringLiteral("%1 of %2 modules not provisioned%3; the table says why "
                           "for each%4")
                .arg(failed)
                .arg(jobs.size())
                .arg(stopped ? QStringLiteral(" (interrupted)") : QString())
                .arg(notStored.isEmpty() ? QString() : QStringLiteral("; ") + notStored));
    if (log.failed())
        return run.fail(outputFailure, QStringLiteral("%1 (%2)").arg(notStored, log.reason));
    return run.finish(success);
}

} // namespace rfcfg
