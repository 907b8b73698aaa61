#include "network.h"

#include <QQueue>
#include <QStringList>

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
