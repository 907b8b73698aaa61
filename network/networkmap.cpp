#include "network/networkmap.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace network {

namespace {

const QLatin1String formatName("rfcfgtool-network-map");
constexpr qint64 maxMapFileBytes = 64 * 1024 * 1024;
constexpr qint64 maxTargetFileBytes = 1024 * 1024;

std::optional<quint16> addressFromText(QString text)
{
    text = text.trimmed();
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    static const QRegularExpression fourDigits(QStringLiteral("^[0-9A-Fa-f]{4}$"));
    if (!fourDigits.match(text).hasMatch())
        return std::nullopt;
    return quint16(text.toUInt(nullptr, 16));
}

std::optional<NodeId> nodeFromText(const QString &text)
{
    if (text == QLatin1String("own"))
        return ownNode;
    if (const auto a = addressFromText(text))
        return NodeId(*a);
    return std::nullopt;
}

QString timeText(qint64 ms)
{
    return ms ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs) : QString();
}

std::optional<qint64> timeFromJson(const QJsonValue &value)
{
    if (value.isNull() || value.toString().isEmpty())
        return 0;
    const QDateTime t = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!t.isValid())
        return std::nullopt;
    return t.toMSecsSinceEpoch();
}

QJsonArray addressArray(const QList<quint16> &addresses)
{
    QJsonArray array;
    for (quint16 a : addresses)
        array.append(nodeName(a));
    return array;
}

std::optional<QList<quint16>> addressesFromJson(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    QList<quint16> list;
    for (const QJsonValue &v : value.toArray()) {
        const auto a = addressFromText(v.toString());
        if (!a)
            return std::nullopt;
        list << *a;
    }
    return list;
}

const struct
{
    Learned flag;
    const char *name;
} learnedNames[] = {{LearnedOwn, "own"},
                    {LearnedRelay, "relay"},
                    {LearnedRouteTarget, "route_target"},
                    {LearnedDataReport, "data_report"}};

} // namespace

QString nodeName(NodeId id)
{
    if (id == ownNode)
        return QStringLiteral("own");
    return QString::asprintf("%04x", unsigned(id & 0xffff));
}

quint64 NetworkMap::linkKey(NodeId x, NodeId y)
{
    return x < y ? (quint64(x) << 32) | y : (quint64(y) << 32) | x;
}

Node &NetworkMap::touch(NodeId id, Learned how, qint64 nowMs)
{
    auto it = nodeTable.find(id);
    if (it == nodeTable.end()) {
        it = nodeTable.insert(id, Node{id, nowMs, 0, 0});
    }
    it->learned |= how;
    return *it;
}

NodeId NetworkMap::idOf(quint16 address) const
{
    return own && *own == address ? ownNode : NodeId(address);
}

void NetworkMap::setOwnAddress(quint16 address, qint64 nowMs)
{
    own = address;
    touch(ownNode, LearnedOwn, nowMs).lastSeenMs = nowMs;
}

void NetworkMap::addResult(Target &target, const Result &result)
{
    target.history.append(result);
    if (target.history.size() > historyLimit)
        target.history.remove(0, target.history.size() - historyLimit);
}

void NetworkMap::addRouteResult(quint16 targetAddress, int status, const QList<quint16> &listed,
                                double latencyMs, qint64 nowMs)
{
    // The own module as its own relay adds no hop.
    QList<quint16> relays = listed;
    if (own)
        relays.removeAll(*own);
    Target &target = targetTable[targetAddress];
    target.address = targetAddress;
    touch(ownNode, LearnedOwn, nowMs).lastSeenMs = nowMs;
    Node &node = touch(idOf(targetAddress), LearnedRouteTarget, nowMs);
    Result result{Result::Kind::Route, nowMs, status, float(latencyMs), {}};

    // The hops of the route the target had, to tell which of them the new result contradicts.
    QList<NodeId> oldPath;
    if (target.route) {
        oldPath << ownNode;
        for (quint16 r : *target.route)
            oldPath << idOf(r);
        oldPath << idOf(targetAddress);
    }
    QSet<quint64> confirmed;
    if (status == 0) {
        ++target.routesFound;
        node.lastSeenMs = nowMs;
        result.relays = relays;
        QList<NodeId> path{ownNode};
        for (quint16 r : relays) {
            touch(idOf(r), LearnedRelay, nowMs).lastSeenMs = nowMs;
            path << idOf(r);
        }
        path << idOf(targetAddress);
        for (int i = 0; i + 1 < path.size(); ++i) {
            if (path[i] == path[i + 1])
                continue;
            const quint64 key = linkKey(path[i], path[i + 1]);
            Link &l = linkTable[key];
            l.a = path[i];
            l.b = path[i + 1];
            l.lastConfirmedMs = nowMs;
            l.contradictedMs = 0;
            confirmed.insert(key);
        }
        for (int i = 0; i + 1 < oldPath.size(); ++i) {
            const quint64 key = linkKey(oldPath[i], oldPath[i + 1]);
            auto it = linkTable.find(key);
            if (it != linkTable.end() && !confirmed.contains(key))
                it->contradictedMs = nowMs;
        }
        target.route = relays;
        target.routeMs = nowMs;
    } else {
        ++target.routesFailed;
        // The target is not reached the way it was: its last hop is no longer believed. The
        // relays before it may still carry other routes.
        if (oldPath.size() >= 2) {
            auto it = linkTable.find(linkKey(oldPath[oldPath.size() - 2], oldPath.last()));
            if (it != linkTable.end())
                it->contradictedMs = nowMs;
        }
    }
    addResult(target, result);
}

void NetworkMap::addRouteNoReply(quint16 targetAddress, qint64 nowMs)
{
    Target &target = targetTable[targetAddress];
    target.address = targetAddress;
    touch(idOf(targetAddress), LearnedRouteTarget, nowMs);
    addResult(target, Result{Result::Kind::Route, nowMs, Result::noReply, -1, {}});
}

void NetworkMap::addDataResult(quint16 targetAddress, int status, double latencyMs, qint64 nowMs)
{
    Target &target = targetTable[targetAddress];
    target.address = targetAddress;
    Node &node = touch(idOf(targetAddress), LearnedDataReport, nowMs);
    if (status == 0) {
        node.lastSeenMs = nowMs;
        ++target.sendsDelivered;
    } else {
        ++target.sendsFailed;
    }
    addResult(target, Result{Result::Kind::Data, nowMs, status, float(latencyMs), {}});
}

std::optional<Link> NetworkMap::link(NodeId x, NodeId y) const
{
    const auto it = linkTable.constFind(linkKey(x, y));
    if (it == linkTable.constEnd())
        return std::nullopt;
    return *it;
}

LinkState NetworkMap::linkState(const Link &l, qint64 nowMs) const
{
    if (l.contradictedMs != 0)
        return LinkState::Contradicted;
    if (nowMs - l.lastConfirmedMs > staleAfter)
        return LinkState::Aged;
    return LinkState::Fresh;
}

QHash<NodeId, int> NetworkMap::hopCounts() const
{
    QHash<NodeId, int> hops;
    if (nodeTable.contains(ownNode))
        hops.insert(ownNode, 0);
    const auto lower = [&hops](NodeId id, int h) {
        const auto it = hops.find(id);
        if (it == hops.end())
            hops.insert(id, h);
        else if (h < *it)
            *it = h;
    };
    for (const Target &t : targetTable) {
        if (!t.route)
            continue;
        for (int i = 0; i < t.route->size(); ++i)
            lower(idOf((*t.route)[i]), i + 1);
        if (idOf(t.address) != ownNode)
            lower(t.address, int(t.route->size()) + 1);
    }
    return hops;
}

void NetworkMap::clear()
{
    own.reset();
    nodeTable.clear();
    linkTable.clear();
    targetTable.clear();
}

void NetworkMap::merge(const NetworkMap &newer)
{
    if (newer.own)
        own = newer.own;
    for (const Node &n : newer.nodeTable) {
        auto it = nodeTable.find(n.id);
        if (it == nodeTable.end()) {
            nodeTable.insert(n.id, n);
            continue;
        }
        it->firstSeenMs = it->firstSeenMs ? qMin(it->firstSeenMs, n.firstSeenMs) : n.firstSeenMs;
        it->lastSeenMs = qMax(it->lastSeenMs, n.lastSeenMs);
        it->learned |= n.learned;
    }
    for (auto it = newer.linkTable.begin(); it != newer.linkTable.end(); ++it) {
        auto mine = linkTable.find(it.key());
        if (mine == linkTable.end() || it->lastConfirmedMs >= mine->lastConfirmedMs ||
            it->contradictedMs > mine->lastConfirmedMs)
            linkTable.insert(it.key(), *it);
    }
    for (const Target &t : newer.targetTable) {
        auto mine = targetTable.find(t.address);
        if (mine == targetTable.end()) {
            targetTable.insert(t.address, t);
            continue;
        }
        if (t.route && t.routeMs >= mine->routeMs) {
            // The later route contradicts the hops of the earlier one it does not pass along,
            // as it would have, had both come to one map.
            if (mine->route && *mine->route != *t.route) {
                const auto pathOf = [this, address = t.address](const QList<quint16> &relays) {
                    QList<NodeId> path{ownNode};
                    for (quint16 r : relays)
                        path << idOf(r);
                    return path << idOf(address);
                };
                const QList<NodeId> oldPath = pathOf(*mine->route), newPath = pathOf(*t.route);
                QSet<quint64> kept;
                for (int i = 0; i + 1 < newPath.size(); ++i)
                    kept.insert(linkKey(newPath[i], newPath[i + 1]));
                for (int i = 0; i + 1 < oldPath.size(); ++i) {
                    const quint64 key = linkKey(oldPath[i], oldPath[i + 1]);
                    auto l = linkTable.find(key);
                    if (l != linkTable.end() && !kept.contains(key) &&
                        l->lastConfirmedMs < t.routeMs)
                        l->contradictedMs = t.routeMs;
                }
            }
            mine->route = t.route;
            mine->routeMs = t.routeMs;
        }
        QList<Result> joined = mine->history + t.history;
        std::stable_sort(joined.begin(), joined.end(),
                         [](const Result &x, const Result &y) { return x.timeMs < y.timeMs; });
        mine->history.clear();
        for (const Result &r : joined)
            addResult(*mine, r);
        mine->routesFound += t.routesFound;
        mine->routesFailed += t.routesFailed;
        mine->sendsDelivered += t.sendsDelivered;
        mine->sendsFailed += t.sendsFailed;
    }
}

// ---- JSON -------------------------------------------------------------------------------------

QByteArray NetworkMap::toJson() const
{
    QJsonArray nodeArray;
    for (const Node &n : nodeTable) {
        QJsonArray learned;
        for (const auto &l : learnedNames) {
            if (n.learned & l.flag)
                learned.append(QLatin1String(l.name));
        }
        nodeArray.append(QJsonObject{{"address", nodeName(n.id)},
                                     {"first_seen", timeText(n.firstSeenMs)},
                                     {"last_seen", timeText(n.lastSeenMs)},
                                     {"learned", learned}});
    }
    // Sorted, so that a saved map compares with another line by line.
    QList<Link> sorted = linkTable.values();
    std::sort(sorted.begin(), sorted.end(), [](const Link &x, const Link &y) {
        return std::pair(x.a, x.b) < std::pair(y.a, y.b);
    });
    QJsonArray linkArray;
    for (const Link &l : sorted)
        linkArray.append(
            QJsonObject{{"from", nodeName(l.a)},
                        {"to", nodeName(l.b)},
                        {"last_confirmed", timeText(l.lastConfirmedMs)},
                        {"contradicted", l.contradictedMs ? QJsonValue(timeText(l.contradictedMs))
                                                          : QJsonValue()}});
    QJsonArray targetArray;
    for (const Target &t : targetTable) {
        QJsonArray history;
        for (const Result &r : t.history) {
            QJsonObject entry{
                {"kind", r.kind == Result::Kind::Route ? "route" : "data"},
                {"time", timeText(r.timeMs)},
                {"status", r.status},
                {"latency_ms", r.latencyMs < 0
                                   ? QJsonValue()
                                   : QJsonValue(std::round(r.latencyMs * 1000.0) / 1000.0)}};
            if (r.kind == Result::Kind::Route && r.status == 0)
                entry.insert(QStringLiteral("relays"), addressArray(r.relays));
            history.append(entry);
        }
        QJsonObject entry{{"target", nodeName(t.address)},
                          {"route", t.route ? QJsonValue(addressArray(*t.route)) : QJsonValue()},
                          {"route_found", timeText(t.routeMs)},
                          {"routes_found", t.routesFound},
                          {"routes_failed", t.routesFailed},
                          {"sends_delivered", t.sendsDelivered},
                          {"sends_failed", t.sendsFailed},
                          {"history", history}};
        targetArray.append(entry);
    }
    const QJsonObject doc{{"format", formatName},
                          {"version", formatVersion},
                          {"own", own ? QJsonValue(nodeName(*own)) : QJsonValue()},
                          {"stale_after_s", double(staleAfter) / 1000.0},
                          {"nodes", nodeArray},
                          {"links", linkArray},
                          {"targets", targetArray}};
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

bool NetworkMap::fromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("not JSON (%1 at byte %2)")
                        .arg(parseError.errorString())
                        .arg(parseError.offset));
    const QJsonObject doc = document.object();
    if (doc.value(QLatin1String("format")).toString() != formatName)
        return fail(QStringLiteral("not a network map (no \"format\": \"%1\")").arg(formatName));
    const int version = doc.value(QLatin1String("version")).toInt(-1);
    if (version < 1 || version > formatVersion)
        return fail(QStringLiteral("map version %1 is not one this program reads (1 to %2)")
                        .arg(doc.value(QLatin1String("version")).toVariant().toString())
                        .arg(formatVersion));

    NetworkMap map;
    map.historyLimit = historyLimit;
    const QJsonValue ownValue = doc.value(QLatin1String("own"));
    if (!ownValue.isNull() && !ownValue.isUndefined()) {
        const auto a = addressFromText(ownValue.toString());
        if (!a)
            return fail(QStringLiteral("\"own\" is not an address"));
        map.own = *a;
    }
    if (doc.contains(QLatin1String("stale_after_s"))) {
        const double s = doc.value(QLatin1String("stale_after_s")).toDouble(-1);
        if (s <= 0)
            return fail(QStringLiteral("\"stale_after_s\" is not a positive number"));
        map.staleAfter = qint64(s * 1000.0);
    }
    for (const QJsonValue &v : doc.value(QLatin1String("nodes")).toArray()) {
        const QJsonObject o = v.toObject();
        const auto id = nodeFromText(o.value(QLatin1String("address")).toString());
        const auto first = timeFromJson(o.value(QLatin1String("first_seen")));
        const auto last = timeFromJson(o.value(QLatin1String("last_seen")));
        if (!id || !first || !last)
            return fail(QStringLiteral("node %1: bad address or time").arg(map.nodeTable.size()));
        Node n{*id, *first, *last, 0};
        for (const QJsonValue &l : o.value(QLatin1String("learned")).toArray()) {
            for (const auto &name : learnedNames) {
                if (l.toString() == QLatin1String(name.name))
                    n.learned |= name.flag;
            }
        }
        map.nodeTable.insert(n.id, n);
    }
    int index = 0;
    for (const QJsonValue &v : doc.value(QLatin1String("links")).toArray()) {
        const QJsonObject o = v.toObject();
        const auto a = nodeFromText(o.value(QLatin1String("from")).toString());
        const auto b = nodeFromText(o.value(QLatin1String("to")).toString());
        const auto confirmed = timeFromJson(o.value(QLatin1String("last_confirmed")));
        const auto contradicted = timeFromJson(o.value(QLatin1String("contradicted")));
        if (!a || !b || !confirmed || !contradicted || *a == *b)
            return fail(QStringLiteral("link %1: bad ends or time").arg(index));
        if (!map.nodeTable.contains(*a) || !map.nodeTable.contains(*b))
            return fail(QStringLiteral("link %1: an end is not among the nodes").arg(index));
        map.linkTable.insert(linkKey(*a, *b), Link{*a, *b, *confirmed, *contradicted});
        ++index;
    }
    index = 0;
    for (const QJsonValue &v : doc.value(QLatin1String("targets")).toArray()) {
        const QJsonObject o = v.toObject();
        const auto a = addressFromText(o.value(QLatin1String("target")).toString());
        const auto routeFound = timeFromJson(o.value(QLatin1String("route_found")));
        if (!a || !routeFound)
            return fail(QStringLiteral("target %1: bad address or time").arg(index));
        Target t;
        t.address = *a;
        t.routeMs = *routeFound;
        if (const QJsonValue route = o.value(QLatin1String("route"));
            !route.isNull() && !route.isUndefined()) {
            const auto relays = addressesFromJson(route);
            if (!relays)
                return fail(QStringLiteral("target %1: bad route").arg(nodeName(*a)));
            t.route = *relays;
        }
        t.routesFound = o.value(QLatin1String("routes_found")).toInt();
        t.routesFailed = o.value(QLatin1String("routes_failed")).toInt();
        t.sendsDelivered = o.value(QLatin1String("sends_delivered")).toInt();
        t.sendsFailed = o.value(QLatin1String("sends_failed")).toInt();
        for (const QJsonValue &h : o.value(QLatin1String("history")).toArray()) {
            const QJsonObject e = h.toObject();
            Result r;
            const QString kind = e.value(QLatin1String("kind")).toString();
            if (kind != QLatin1String("route") && kind != QLatin1String("data"))
                return fail(QStringLiteral("target %1: a result of unknown kind '%2'")
                                .arg(nodeName(*a), kind));
            r.kind = kind == QLatin1String("route") ? Result::Kind::Route : Result::Kind::Data;
            const auto time = timeFromJson(e.value(QLatin1String("time")));
            if (!time || !e.value(QLatin1String("status")).isDouble())
                return fail(
                    QStringLiteral("target %1: a result without time or status").arg(nodeName(*a)));
            r.timeMs = *time;
            r.status = e.value(QLatin1String("status")).toInt();
            r.latencyMs = float(e.value(QLatin1String("latency_ms")).toDouble(-1));
            if (e.contains(QLatin1String("relays"))) {
                const auto relays = addressesFromJson(e.value(QLatin1String("relays")));
                if (!relays)
                    return fail(QStringLiteral("target %1: bad relays").arg(nodeName(*a)));
                r.relays = *relays;
            }
            map.addResult(t, r);
        }
        map.targetTable.insert(t.address, t);
        ++index;
    }
    *this = map;
    return true;
}

// ---- DOT --------------------------------------------------------------------------------------

QByteArray NetworkMap::toDot(qint64 nowMs) const
{
    const QHash<NodeId, int> hops = hopCounts();
    QString dot = QStringLiteral("graph network {\n"
                                 "  graph [rankdir=LR];\n"
                                 "  node [shape=circle, fontname=\"monospace\"];\n");
    for (const Node &n : nodeTable) {
        QString label =
            n.id == ownNode ? (own ? nodeName(*own) : QStringLiteral("own")) : nodeName(n.id);
        QString attributes;
        if (n.id == ownNode) {
            label += QStringLiteral("\\n(own)");
            attributes = QStringLiteral(", shape=doublecircle");
        } else if (hops.contains(n.id)) {
            label += QStringLiteral("\\n%1 hop%2").arg(hops[n.id]).arg(hops[n.id] == 1 ? "" : "s");
        } else {
            // Known, but no current route reaches it.
            attributes = QStringLiteral(", style=dashed, color=gray50, fontcolor=gray50");
        }
        dot +=
            QStringLiteral("  \"%1\" [label=\"%2\"%3];\n").arg(nodeName(n.id), label, attributes);
    }
    QList<Link> sorted = linkTable.values();
    std::sort(sorted.begin(), sorted.end(), [](const Link &x, const Link &y) {
        return std::pair(x.a, x.b) < std::pair(y.a, y.b);
    });
    for (const Link &l : sorted) {
        QString attributes;
        switch (linkState(l, nowMs)) {
        case LinkState::Fresh:
            break;
        case LinkState::Contradicted:
            attributes = QStringLiteral(" [style=dashed, color=gray60, tooltip=\"contradicted\"]");
            break;
        case LinkState::Aged:
            attributes = QStringLiteral(" [style=dotted, color=gray60, tooltip=\"aged\"]");
            break;
        }
        dot +=
            QStringLiteral("  \"%1\" -- \"%2\"%3;\n").arg(nodeName(l.a), nodeName(l.b), attributes);
    }
    dot += QStringLiteral("}\n");
    return dot.toUtf8();
}

// ---- Target lists -----------------------------------------------------------------------------

namespace {

bool addWord(const QString &word, bool allowFile, TargetList *list, QSet<quint16> *seen,
             QString *error)
{
    const auto add = [&](quint16 a) {
        if (!seen->contains(a)) {
            seen->insert(a);
            list->addresses << a;
        }
    };
    if (word == QLatin1String("whitelist")) {
        list->whitelist = true;
        return true;
    }
    if (word.startsWith(QLatin1Char('@'))) {
        const QString path = word.mid(1);
        if (!allowFile) {
            *error = QStringLiteral("'%1': a target file cannot name another").arg(word);
            return false;
        }
        const QFileInfo info(path);
        if (!info.isFile() || info.size() > maxTargetFileBytes) {
            *error = QStringLiteral("%1: not a readable file of targets").arg(path);
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
        const QStringList lines = QString::fromUtf8(file.read(maxTargetFileBytes)).split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            const QString line = lines[i].section(QLatin1Char('#'), 0, 0).trimmed();
            if (line.isEmpty())
                continue;
            if (!addWord(line, false, list, seen, error)) {
                *error = QStringLiteral("%1 line %2: %3").arg(path).arg(i + 1).arg(*error);
                return false;
            }
        }
        return true;
    }
    const qsizetype dash = word.indexOf(QLatin1Char('-'));
    if (dash > 0) {
        const auto from = addressFromText(word.left(dash));
        const auto to = addressFromText(word.mid(dash + 1));
        if (!from || !to || *to < *from) {
            *error = QStringLiteral("'%1' is not a range such as 0001-0040").arg(word);
            return false;
        }
        for (uint a = *from; a <= *to; ++a)
            add(quint16(a));
        return true;
    }
    const auto a = addressFromText(word);
    if (!a) {
        *error = QStringLiteral("'%1' is not an address (four hex digits), a range, @FILE or "
                                "whitelist")
                     .arg(word);
        return false;
    }
    add(*a);
    return true;
}

} // namespace

std::optional<TargetList> parseTargetList(const QStringList &words, QString *error)
{
    TargetList list;
    QSet<quint16> seen;
    QString why;
    for (const QString &word : words) {
        if (!addWord(word.trimmed(), true, &list, &seen, &why)) {
            if (error)
                *error = why;
            return std::nullopt;
        }
    }
    return list;
}

std::optional<TargetList> parseTargetText(const QString &text, QString *error)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    return parseTargetList(text.split(separators, Qt::SkipEmptyParts), error);
}

// ---- Files ------------------------------------------------------------------------------------

QString saveMapFile(const NetworkMap &map, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    file.write(map.toJson());
    if (!file.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return {};
}

QString loadMapFile(NetworkMap *map, const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return QStringLiteral("%1: not a file").arg(path);
    if (info.size() > maxMapFileBytes)
        return QStringLiteral("%1: larger than %2 bytes").arg(path).arg(maxMapFileBytes);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    QString error;
    if (!map->fromJson(file.read(maxMapFileBytes), &error))
        return QStringLiteral("%1: %2").arg(path, error);
    return {};
}

} // namespace network
