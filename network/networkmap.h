#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// What the tool has learned of the radio network from the module's route replies and data-send
// reports: nodes, the links that found routes passed along, and each target's results. Plain
// data on Qt Core; every front end feeds one and shows it its own way.
namespace network {

// A node key: a 16-bit address, or ownNode for the attached module (whose address may be
// unknown until a configuration read tells it).
using NodeId = quint32;
constexpr NodeId ownNode = 0x10000;

// Four lower-case hex digits, or "own" for the attached module.
QString nodeName(NodeId id);

// How a node became known; a node may have been learned several ways.
enum Learned : quint8 {
    LearnedOwn = 0x01,         // the attached module
    LearnedRelay = 0x02,       // a relay of a found route
    LearnedRouteTarget = 0x04, // a route search's target (found or not)
    LearnedDataReport = 0x08,  // the target of a data-send report
};

struct Node
{
    NodeId id = 0;
    qint64 firstSeenMs = 0; // ms since the epoch
    qint64 lastSeenMs = 0;
    quint8 learned = 0; // Learned flags
};

// A link between two nodes, learned from a route that passed along it. `a` is the end nearer
// to the own module in the route that last confirmed it.
struct Link
{
    NodeId a = 0;
    NodeId b = 0;
    qint64 lastConfirmedMs = 0;
    // When a newer route to the same target went another way, or failed after it; 0: never,
    // or confirmed again since.
    qint64 contradictedMs = 0;
};

enum class LinkState {
    Fresh,
    Contradicted, // a newer route did not pass along it
    Aged,         // no route confirmed it within the map's age limit
};

// One route search or data send to a target.
struct Result
{
    enum class Kind : quint8 { Route, Data };
    Kind kind = Kind::Route;
    qint64 timeMs = 0;
    int status = 0;        // the module's status; noReply when nothing came back
    float latencyMs = -1;  // -1: not measured (an unasked reply)
    QList<quint16> relays; // Route with status 0: the relays in route order
    static constexpr int noReply = -1;
};

struct Target
{
    quint16 address = 0;
    std::optional<QList<quint16>> route; // the last route found (its relays)
    qint64 routeMs = 0;                  // when it was found
    QList<Result> history;               // oldest first, at most historyLimit entries
    // Totals over the whole life of the map: the history keeps only the newest.
    int routesFound = 0, routesFailed = 0, sendsDelivered = 0, sendsFailed = 0;

    // Hops of the last route found: relays + 1.
    std::optional<int> hops() const
    {
        return route ? std::optional<int>(int(route->size()) + 1) : std::nullopt;
    }
};

class NetworkMap
{
public:
    static constexpr int formatVersion = 1;
    static constexpr int defaultHistoryLimit = 50;
    static constexpr qint64 defaultStaleAfterMs = 30 * 60 * 1000;

    // ---- What the module reports ----
    void setOwnAddress(quint16 address, qint64 nowMs);
    std::optional<quint16> ownAddress() const { return own; }
    // The node of an address: ownNode for the own module's.
    NodeId idOf(quint16 address) const;
    // A route reply: status 0 with its relays in route order, or the module's failure status;
    // latencyMs < 0 when not measured.
    void addRouteResult(quint16 target, int status, const QList<quint16> &relays, double latencyMs,
                        qint64 nowMs);
    // A route search that got no reply.
    void addRouteNoReply(quint16 target, qint64 nowMs);
    // A data-send report (status), or Result::noReply.
    void addDataResult(quint16 target, int status, double latencyMs, qint64 nowMs);

    // ---- What was learned ----
    const QMap<NodeId, Node> &nodes() const { return nodeTable; }
    const QMap<quint16, Target> &targets() const { return targetTable; }
    QList<Link> links() const { return linkTable.values(); }
    std::optional<Link> link(NodeId x, NodeId y) const;
    LinkState linkState(const Link &link, qint64 nowMs) const;
    // The fewest hops from the own module any found route gives the node (0 for the own module);
    // nothing for a node no current route reaches.
    QHash<NodeId, int> hopCounts() const;
    bool isEmpty() const { return nodeTable.isEmpty(); }
    void clear();
    // Adds what `newer` learned (later than this map): nodes and links joined, the later route
    // of each target kept, histories joined in time order, totals added.
    void merge(const NetworkMap &newer);

    // A link no route confirmed for this long is aged.
    void setStaleAfterMs(qint64 ms) { staleAfter = ms; }
    qint64 staleAfterMs() const { return staleAfter; }
    // Results kept per target (the oldest go first).
    void setHistoryLimit(int n) { historyLimit = qMax(1, n); }

    // ---- Files ----
    QByteArray toJson() const;
    // Replaces the map with the document's; false, the map kept, with the reason otherwise.
    bool fromJson(const QByteArray &json, QString *error);
    // Graphviz: an undirected graph, the own module first, stale links dashed and grey, each
    // node labelled with its address and hop count.
    QByteArray toDot(qint64 nowMs) const;

private:
    Node &touch(NodeId id, Learned how, qint64 nowMs);
    void addResult(Target &target, const Result &result);
    static quint64 linkKey(NodeId x, NodeId y);

    std::optional<quint16> own;
    QMap<NodeId, Node> nodeTable;
    QHash<quint64, Link> linkTable;
    QMap<quint16, Target> targetTable;
    qint64 staleAfter = defaultStaleAfterMs;
    int historyLimit = defaultHistoryLimit;
};

// ---- Target lists, as rfcfg scan and the window's scan take them ----

// Words: an address (four hex digits, 0x allowed), a range "0001-0040", "@FILE" (one word per
// line, '#' starts a comment; no nested @) or "whitelist" (the module's entries, read later).
struct TargetList
{
    QList<quint16> addresses; // in the order given, each once
    bool whitelist = false;
};
std::optional<TargetList> parseTargetList(const QStringList &words, QString *error);
// The same from one line of text (a window's field): words split at blanks and commas.
std::optional<TargetList> parseTargetText(const QString &text, QString *error);

// A file of the map as JSON, written whole or not at all; the reason when it failed.
QString saveMapFile(const NetworkMap &map, const QString &path);
QString loadMapFile(NetworkMap *map, const QString &path);

} // namespace network
