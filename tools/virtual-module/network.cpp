#include "network.h"

#include <QQueue>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace vmodule {

void Network::addNode(quint16 node)
{
    links[node];
}

void Network::addLink(quint16 a, quint16 b)
{
    links[a].insert(b);
    links[b].insert(a);
}

bool Network::linked(quint16 a, quint16 b) const
{
    return links.value(a).contains(b);
}

QList<quint16> Network::shortestPath(quint16 from, quint16 to) const
{
    if (!hasNode(from) || !hasNode(to))
        return {};
    QMap<quint16, quint16> cameFrom;
    QQueue<quint16> queue;
    queue.enqueue(from);
    cameFrom.insert(from, from);
    while (!queue.isEmpty()) {
        const quint16 node = queue.dequeue();
        if (node == to)
            break;
        // Sorted neighbours keep the chosen path the same from run to run.
        QList<quint16> next = links.value(node).values();
        std::sort(next.begin(), next.end());
        for (quint16 n : next) {
            if (!cameFrom.contains(n)) {
                cameFrom.insert(n, node);
                queue.enqueue(n);
            }
        }
    }
    if (!cameFrom.contains(to))
        return {};
    QList<quint16> path{to};
    while (path.first() != from)
        path.prepend(cameFrom.value(path.first()));
    return path;
}

Network Network::standard()
{
    Network n;
    n.addLink(0x0001, 0x0002);
    n.addLink(0x0002, 0x0003);
    n.addLink(0x0003, 0x1234);
    n.addLink(0x0001, 0x0004);
    n.addLink(0x0004, 0x00ab);
    n.addNode(0x0005); // out of reach
    return n;
}

namespace {

// splitmix64: the same numbers from the same seed everywhere (the standard distributions are
// not specified bit for bit).
struct Random
{
    quint64 state;
    quint64 next()
    {
        quint64 z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double unit() { return double(next() >> 11) / double(1ULL << 53); }
};

} // namespace

Network Network::random(int count, quint32 seed)
{
    count = std::clamp(count, 1, maxRandomNodes);
    Random rng{seed};
    QList<std::pair<double, double>> place(count);
    place[0] = {0.5, 0.02}; // the own module, at the middle of one side
    for (int i = 1; i < count; ++i) {
        const double x = rng.unit();
        place[i] = {x, rng.unit()};
    }
    // About seven neighbours a node on average.
    const double radius = std::sqrt(7.0 / (3.14159265358979 * count));
    const auto distance = [&](int i, int j) {
        return std::hypot(place[i].first - place[j].first, place[i].second - place[j].second);
    };
    Network n;
    const auto address = [](int i) { return quint16(i + 1); };
    for (int i = 0; i < count; ++i) {
        n.addNode(address(i));
        for (int j = 0; j < i; ++j) {
            if (distance(i, j) <= radius)
                n.addLink(address(i), address(j));
        }
    }
    // Islands are joined to what the own module reaches by their nearest pair of nodes.
    for (;;) {
        QSet<int> reached{0};
        QList<int> queue{0};
        while (!queue.isEmpty()) {
            const int i = queue.takeFirst();
            for (quint16 next : n.links.value(address(i))) {
                if (!reached.contains(next - 1)) {
                    reached.insert(next - 1);
                    queue << next - 1;
                }
            }
        }
        if (reached.size() == count)
            break;
        int bestIn = -1, bestOut = -1;
        double best = 1e9;
        for (int out = 0; out < count; ++out) {
            if (reached.contains(out))
                continue;
            for (int in : reached) {
                if (distance(in, out) < best) {
                    best = distance(in, out);
                    bestIn = in;
                    bestOut = out;
                }
            }
        }
        n.addLink(address(bestIn), address(bestOut));
    }
    return n;
}

QString Network::toText() const
{
    QString text;
    for (auto it = links.begin(); it != links.end(); ++it) {
        QList<quint16> next = it.value().values();
        std::sort(next.begin(), next.end());
        if (next.isEmpty())
            text += QString::asprintf("node %04x\n", it.key());
        for (quint16 other : next) {
            if (other > it.key())
                text += QString::asprintf("link %04x %04x\n", it.key(), other);
        }
    }
    return text;
}

std::optional<Network> Network::parse(const QString &text, QString *error)
{
    Network n;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].section(QLatin1Char('#'), 0, 0).simplified();
        if (line.isEmpty())
            continue;
        const QStringList words = line.split(QLatin1Char(' '));
        QList<quint16> addresses;
        bool ok = true;
        for (int w = 1; w < words.size() && ok; ++w) {
            const uint value = words[w].toUInt(&ok, 16);
            ok = ok && value <= 0xffff;
            addresses << quint16(value);
        }
        if (ok && words[0] == QLatin1String("node") && addresses.size() == 1) {
            n.addNode(addresses[0]);
        } else if (ok && words[0] == QLatin1String("link") && addresses.size() == 2) {
            n.addLink(addresses[0], addresses[1]);
        } else {
            if (error)
                *error =
                    QStringLiteral("line %1: expected 'node ADDR' or 'link ADDR ADDR'").arg(i + 1);
            return std::nullopt;
        }
    }
    return n;
}

} // namespace vmodule
