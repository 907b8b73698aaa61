#include "provision.h"

#include "portaccess.h"
#include "replywords.h"

#include "protocol/configrecord.h"
#include "protocol/replyframe.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QTimer>

#include <memory>
#include <unistd.h>

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

// One module's way through the steps, driven by its link's signals.
class ModuleJob : public QObject
{
public:
    ModuleJob(const ProvisionPlan &plan, const ProvisionTarget &target,
              std::function<void()> changed)
        : plan(plan), target(target), changed(std::move(changed))
    {
        connect(&link, &ModuleLink::answered, this,
                [this](const ModuleLink::Request &r, const QByteArray &reply, qint64) {
                    if (r.id == requestId)
                        onReply(protocol::decodeReplyFrame(reply));
                });
        connect(&link, &ModuleLink::noReply, this, [this](const ModuleLink::Request &r) {
            if (r.id == requestId)
                onNoReply();
        });
        connect(&link, &ModuleLink::lost, this, [this](const QString &reason) {
            if (step != Step::Done)
                finish(QStringLiteral("port_error"), portProblem,
                       QStringLiteral("lost the port (%1)").arg(reason));
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
        ask(Step::Version,
            protocol::commandFrame(protocol::group::module, protocol::code::readVersion));
    }

    // Ctrl+C: nothing more is sent; the port closes once the frame in flight is out.
    void stop()
    {
        if (step != Step::Done) {
            interrupted = true;
            finish(QStringLiteral("interrupted"), noReply, QStringLiteral("interrupted"));
        }
    }

    bool done() const { return step == Step::Done && link.state() == ModuleLink::State::Closed; }
    bool finished() const { return step == Step::Done; }
    bool wasInterrupted() const { return interrupted; }
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

    QJsonArray differencesJson() const
    {
        QJsonArray list;
        for (const protocol::RecordDifference &d : differences) {
            QJsonObject entry{{"written", d.written}, {"read_back", d.readBack}};
            if (d.key.isEmpty())
                entry.insert(QStringLiteral("byte"), d.byte);
            else
                entry.insert(QStringLiteral("key"), d.key);
            list.append(entry);
        }
        return list;
    }

    QJsonObject summaryJson() const
    {
        QJsonObject o{{"port", target.port},
                      {"address", orNull(addressText())},
                      {"firmware", orNull(firmware)},
                      {"result", result},
                      {"differences", differencesJson()}};
        if (!error.isEmpty())
            o.insert(QStringLiteral("error"), error);
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
        QStringList described;
        for (const protocol::RecordDifference &d : differences)
            described << QStringLiteral("%1 wrote %2, reads %3")
                             .arg(d.key.isEmpty() ? QStringLiteral("byte %1").arg(d.byte) : d.key,
                                  d.written, d.readBack);
        QString detail = described.join(QLatin1String("; "));
        if (detail.isEmpty() && !ok())
            detail = error;
        return QStringLiteral("%1  %2  %3  %4  %5\n")
                   .arg(target.port, -portWidth)
                   .arg(orDash(addressText()), -7)
                   .arg(orDash(firmware), -8)
                   .arg(result, -10)
                   .arg(detail)
                   .trimmed() +
               QLatin1Char('\n');
    }

    int portWidth = 4;

private:
    static QJsonValue orNull(const QString &s) { return s.isEmpty() ? QJsonValue() : s; }
    static QString orDash(const QString &s) { return s.isEmpty() ? QStringLiteral("-") : s; }

    void ask(Step next, const QByteArray &frame)
    {
        step = next;
        request = frame;
        attempts = 0;
        send();
        changed();
    }

    void send()
    {
        ++attempts;
        const auto id = link.sendRequest(request, plan.timeoutMs);
        if (!id) {
            finish(QStringLiteral("port_error"), portProblem,
                   QStringLiteral("the port took not every byte"));
            return;
        }
        requestId = *id;
    }

    void onNoReply()
    {
        if (attempts <= plan.retries) {
            send();
            return;
        }
        finish(QStringLiteral("no_reply"), noReply,
               QStringLiteral("no reply while %1 (%2 attempts)")
                   .arg(QLatin1String(stepText(step)))
                   .arg(attempts));
    }

    void onReply(const protocol::ReplyFrame &reply)
    {
        requestId = 0;
        if (!reply.isReadable()) {
            finish(QStringLiteral("no_reply"), noReply,
                   QStringLiteral("unreadable reply while %1").arg(QLatin1String(stepText(step))));
            return;
        }
        switch (step) {
        case Step::Version:
            firmware = versionOf(*reply.version).version;
            ask(Step::Read,
                protocol::commandFrame(protocol::group::module, protocol::code::readConfig));
            break;
        case Step::Read:
            readRecord = *reply.record;
            writeProfile();
            break;
        case Step::Write:
            if (const int s = replyStatus(reply); s != 0) {
                finish(QStringLiteral("failed"), moduleFailure,
                       QStringLiteral("the module refused the configuration (status 0x%1)")
                           .arg(s, 2, 16, QLatin1Char('0')));
                return;
            }
            ask(Step::ReadBack,
                protocol::commandFrame(protocol::group::module, protocol::code::readConfig));
            break;
        case Step::ReadBack:
            // The whole record counts: a bit no key shows may still have been lost.
            differences = protocol::recordDifferences(written, *reply.record, plan.profile.lora);
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
        ask(Step::Write,
            protocol::commandFrame(protocol::group::module, protocol::code::writeConfig,
                                   QByteArrayView(written.data(), written.size())));
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

public:
    ModuleLink link;

private:
    Step step = Step::Opening;
    QByteArray request;
    ModuleLink::RequestId requestId = 0;
    int attempts = 0;
    QString firmware, usbSerial, result, error;
    std::optional<protocol::ConfigRecord> readRecord;
    protocol::ConfigRecord written{};
    QList<protocol::RecordDifference> differences;
    QDateTime finishedAt;
    int status = success;
    bool interrupted = false;
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
    const QStringList lines = QString::fromUtf8(contents).split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(','));
        std::optional<protocol::HexWord> address;
        const QString error = fields.size() == 2 ? addressOf(fields[1], &address)
                                                 : QStringLiteral("not PORT,ADDRESS");
        if (!error.isEmpty()) {
            if (mapped.isEmpty() && n == 0 && fields.size() == 2)
                continue; // column names
            return QStringLiteral("--map: %1 line %2: %3").arg(csvPath).arg(n + 1).arg(error);
        }
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
    std::unique_ptr<QFile> log;
    if (!plan.logPath.isEmpty()) {
        log = std::make_unique<QFile>(plan.logPath);
        if (!log->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            return run.fail(
                badUsage,
                QStringLiteral("--log: cannot write %1: %2").arg(plan.logPath, log->errorString()));
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
            if (!job->finished() || job->wasInterrupted() || logged.contains(job))
                continue;
            logged << job;
            if (log) {
                log->write(QJsonDocument(job->logJson()).toJson(QJsonDocument::Compact) + '\n');
                log->flush();
            }
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
    for (ModuleJob *job : jobs)
        job->start(known);

    QEventLoop loop;
    QTimer tick;
    bool stopped = false;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (stopRequested() && !stopped) {
            stopped = true;
            for (ModuleJob *job : jobs)
                job->stop();
        }
        writeLogLines();
        if (dirty)
            redraw();
        if (std::all_of(jobs.begin(), jobs.end(), [](const ModuleJob *j) { return j->done(); }))
            loop.quit();
    });
    tick.start(50);
    loop.exec();
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
    run.text(table + QStringLiteral("%1 ok, %2 failed%3\n")
                         .arg(ok)
                         .arg(failed)
                         .arg(stopped ? QStringLiteral(" (interrupted)") : QString()));
    run.doc.insert(QStringLiteral("modules"), modules);
    run.doc.insert(QStringLiteral("ok"), ok);
    run.doc.insert(QStringLiteral("failed"), failed);
    run.doc.insert(QStringLiteral("interrupted"), stopped);
    if (status != success)
        return run.fail(status, QStringLiteral("%1 of %2 modules not provisioned%3; the table "
                                               "says why for each")
                                    .arg(failed)
                                    .arg(jobs.size())
                                    .arg(stopped ? QStringLiteral(" (interrupted)") : QString()));
    return run.finish(success);
}

} // namespace rfcfg
