#pragma once

#include "network/networkmap.h"
#include "serial/modulelink.h"

#include <QObject>

#include <functional>

namespace serial {

// Feeds a network map with every route reply and data-send report a link sees, whoever asked
// (a command, the window's buttons, a link test, a scan) or nobody: the map learns from the
// module, not from one front end. A configuration read names the own module.
class MapFeeder : public QObject
{
    Q_OBJECT

public:
    MapFeeder(ModuleLink *link, network::NetworkMap *map, QObject *parent = nullptr);

    network::NetworkMap *map() const { return networkMap; }
    // The wall clock, in ms since the epoch (tests set their own).
    void setClock(std::function<qint64()> clock) { now = std::move(clock); }

signals:
    // The map learned something about this node (a target, or the own module).
    void changed(network::NodeId node);
    // A configuration read named the module's address. The map takes it as its own module's
    // only when it has none or the same: another address is another module (or one given a new
    // address), whose map is not this one.
    void ownAddressRead(quint16 address);

private:
    void learn(const QByteArray &reply, double latencyMs);

    network::NetworkMap *networkMap;
    std::function<qint64()> now;
};

} // namespace serial
