#include "scan.h"

#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "serial/mapfeeder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QSaveFile>
#include <QTimer>

#include <cmath>
#include <unistd.h>

namespace rfcfg {

namespace {

struct TargetResult
{
    quint16 target = 0;
    std::optional<int> status; // nothing: no reply
    QList<quint16> relays;
    double latencyMs = 0;
};

QString address(quint16 a)
{
    return network::nodeName(a);
}

QString relaysText(const QList<quint16> &relays)
{
    QStringList words;
    for (quint16 r : relays)
        words << address(r);
    return words.isEmpty() ? QStringLiteral("-") : words.join(QLatin1Char(' '));
}

QString tableText(const QList<TargetResult> &results)
{
    QString text = QStringLiteral("TARGET  RESULT               HOPS  LATENCY    RELAYS\n");
    int found = 0, failed = 0, silent = 0;
    for (const TargetResult &r : results) {
        QString result, hops = QStringLiteral("-"), latency = QStringLiteral("-");
        if (!r.status) {
            result = QStringLiteral("no reply");
            ++silent;
        } else if (*r.status == 0) {
            result = QStringLiteral("found");
            hops = QString::number(r.relays.size() + 1);
            ++found;
        } else {
            result = QString::asprintf("failed (0x%02x)", *r.status);
            ++failed;
        }
        if (r.status)
            latency = QString::number(r.latencyMs, 'f', 1) + QStringLiteral(" ms");
        text += QStringLiteral("%1    %2 %3  %4 %5\n")
                    .arg(address(r.target), result.leftJustified(20), hops.rightJustified(4),
                         latency.leftJustified(10),
                         r.status == 0 ? relaysText(r.relays) : QStringLiteral("-"));
    }
    text += QStringLiteral("%1 target%2: %3 found, %4 failed, %5 no reply\n")
                .arg(results.size())
                .arg(results.size() == 1 ? "" : "s")
                .arg(found)
                .arg(failed)
                .arg(silent);
    return text;
}

QJsonArray resultsJson(const QList<TargetResult> &results)
{
    QJsonArray array;
    for (const TargetResult &r : results) {
        QJsonArray relays;
        if (r.status == 0) {
            for (quint16 relay : r.relays)
                relays.append(address(relay));
        }
        QJsonObject entry{{"target", address(r.target)},
                          {"status", r.status ? QJsonValue(*r.status) : QJsonValue()},
                          {"relays", relays}};
        if (r.status) {
            entry.insert(QStringLiteral("latency_ms"), std::round(r.latencyMs * 1000.0) / 1000.0);
            if (*r.status == 0)
                entry.insert(QStringLiteral("hops"), int(r.relays.size()) + 1);
        }
        array.append(entry);
    }
    return array;
}

// Waits `ms` unless Ctrl+C comes first.
void pause(int ms)
{
    if (ms <= 0 || stopRequested())
        return;
    QTimer done;
    done.setSingleShot(true);
    QObject::connect(&done, &QTimer::timeout, [] { QCoreApplication::exit(); });
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, [] {
        if (stopRequested())
            QCoreApplication::exit();
    });
    done.start(ms);
    stopPoll.start(50);
    QCoreApplication::exec();
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return {};
}

} // namespace

QString loadScanMap(const ScanPlan &plan, network::NetworkMap *map)
{
    if (plan.mapPath.isEmpty() || !QFileInfo::exists(plan.mapPath))
        return {};
    const QString error = network::loadMapFile(map, plan.mapPath);
    return error.isEmpty() ? QString() : QStringLiteral("--map: ") + error;
}

int scan(Link &link, Run &run, const ScanPlan &plan, network::NetworkMap &map)
{
    catchStopSignals();
    serial::MapFeeder feeder(&link.module, &map);
    std::optional<quint16> ownRead;
    QObject::connect(&feeder, &serial::MapFeeder::ownAddressRead,
                     [&ownRead](quint16 address) { ownRead = address; });
    QString message;
    protocol::ReplyFrame reply;

    // The own module's address names the map; a map of another module is not mixed in.
    int status =
        request(link, protocol::commandFrame(protocol::group::module, protocol::code::readConfig),
                link.retries, QStringLiteral("config get"), &reply, &message);
    if (status != success)
        return run.fail(status, message);
    if (ownRead && map.ownAddress() != ownRead)
        return run.fail(badUsage,
                        QStringLiteral("--map: %1 is the map of module %2, this module "
                                       "is %3; give another file")
                            .arg(plan.mapPath, address(*map.ownAddress()), address(*ownRead)));

    QList<quint16> targets = plan.targets.addresses;
    if (plan.targets.whitelist) {
        status = request(
            link, protocol::commandFrame(protocol::group::whitelist, protocol::code::readWhitelist),
            link.retries, QStringLiteral("whitelist get"), &reply, &message);
        if (status != success)
            return run.fail(status, message);
        for (const protocol::HexWord &w : reply.whitelist) {
            const quint16 a = quint16(w.high << 8 | w.low);
            if (a != 0xffff && !targets.contains(a))
                targets << a;
        }
    }
    if (targets.isEmpty())
        return run.fail(badUsage, QStringLiteral("no target to scan (the whitelist is empty)"));

    const bool live = ::isatty(STDERR_FILENO);
    QMap<quint16, TargetResult> latest;
    int lastStatus = success;
    QString lastMessage;
    int rounds = 0;
    bool interrupted = false;
    for (int round = 0; round < plan.repeat && !interrupted; ++round) {
        if (round > 0)
            pause(plan.intervalMs);
        for (int i = 0; i < targets.size(); ++i) {
            if (stopRequested()) {
                interrupted = true;
                break;
            }
            const quint16 target = targets[i];
            if (live)
                print(stderr,
                      QStringLiteral("\r\033[Kscanning %1 (%2/%3%4)")
                          .arg(address(target))
                          .arg(i + 1)
                          .arg(targets.size())
                          .arg(plan.repeat > 1
                                   ? QStringLiteral(", round %1/%2").arg(round + 1).arg(plan.repeat)
                                   : QString()));
            const auto payload = protocol::routeSearchPayload(
                protocol::HexWord{quint8(target >> 8), quint8(target & 0xff)}, plan.maxHops - 1);
            double latencyMs = 0;
            status = request(link,
                             protocol::commandFrame(protocol::group::network,
                                                    protocol::code::routeSearch,
                                                    QByteArrayView(payload.data(), payload.size())),
                             link.retries, QStringLiteral("route to ") + address(target), &reply,
                             &message, &latencyMs);
            if (stopRequested()) {
                interrupted = true;
                break;
            }
            TargetResult result{target, {}, {}, latencyMs};
            if (status == success) {
                result.status = reply.status.value_or(0);
                for (const protocol::HexWord &r : reply.relays)
                    result.relays << quint16(r.high << 8 | r.low);
            } else if (status == portProblem) {
                lastStatus = status; // the port is gone: nothing more to ask
                lastMessage = message;
                interrupted = true;
                break;
            }
            latest.insert(target, result);
        }
        if (!interrupted)
            ++rounds;
        if (live)
            print(stderr, QStringLiteral("\r\033[K"));
        if (!run.json && plan.repeat > 1 && !interrupted) {
            QList<TargetResult> shown;
            for (quint16 t : targets)
                shown << latest.value(t);
            run.text(QStringLiteral("round %1/%2\n").arg(round + 1).arg(plan.repeat) +
                     tableText(shown) + (round + 1 < plan.repeat ? "\n" : ""));
        }
    }

    // What was learned: the latest result of every target answered at least once.
    QList<TargetResult> results;
    for (quint16 t : targets) {
        if (latest.contains(t))
            results << latest.value(t);
    }
    if (run.json || plan.repeat == 1 || interrupted) {
        if (interrupted && !run.json)
            run.text(QStringLiteral("interrupted; learned so far:\n"));
        run.text(tableText(results));
    }
    run.doc.insert(QStringLiteral("targets"), resultsJson(results));
    run.doc.insert(QStringLiteral("rounds"), rounds);
    run.doc.insert(QStringLiteral("interrupted"), interrupted && lastStatus == success);
    if (map.ownAddress())
        run.doc.insert(QStringLiteral("own"), address(*map.ownAddress()));

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!plan.dotPath.isEmpty()) {
        if (const QString error = writeFile(plan.dotPath, map.toDot(now)); !error.isEmpty())
            return run.fail(outputFailure, QStringLiteral("--dot: ") + error);
    }
    if (!plan.mapPath.isEmpty()) {
        if (const QString error = network::saveMapFile(map, plan.mapPath); !error.isEmpty())
            return run.fail(outputFailure, QStringLiteral("--map: ") + error);
    }
    if (lastStatus != success)
        return run.fail(lastStatus, lastMessage);
    int silent = 0;
    for (const TargetResult &r : results)
        silent += r.status ? 0 : 1;
    if (silent > 0 && !interrupted)
        return run.fail(noReply, QStringLiteral("%1 of %2 targets got no reply; check the module, "
                                                "or raise --timeout")
                                     .arg(silent)
                                     .arg(results.size()));
    return run.finish(success);
}

} // namespace rfcfg
