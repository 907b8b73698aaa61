#pragma once

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <optional>

namespace vmodule {

// The radio network around the simulated module: nodes and the links between them.
class Network
{
public:
    void addNode(quint16 node);
    void addLink(quint16 a, quint16 b);
    bool hasNode(quint16 node) const { return links.contains(node); }
    bool linked(quint16 a, quint16 b) const;
    QList<quint16> nodes() const { return links.keys(); }

    // The nodes of a shortest path from `from` to `to`, both included; empty when there is none.
    QList<quint16> shortestPath(quint16 from, quint16 to) const;

    // A few nodes in a chain and one that nothing reaches; own address 0x0001.
    static Network standard();
    // A connected mesh of `nodes` nodes, addresses 0001 up (0001 the own module's), the same for
    // the same seed on every machine: nodes at random places in a square, linked when near one
    // another, the own module at one side so that hop counts spread from 1 to beyond 7 (in a mesh
    // of 100).
    static Network random(int nodes, quint32 seed);
    static constexpr int maxRandomNodes = 4096;

    // The text format below, one link a line (and a node line for a node without links).
    QString toText() const;

    // Text format, one statement per line, '#' starts a comment:
    //   node ABCD           a node with no link yet
    //   link 0001 0002      a link both ways (creates the nodes)
    static std::optional<Network> parse(const QString &text, QString *error = nullptr);

private:
    QMap<quint16, QSet<quint16>> links;
};

} // namespace vmodule
