#pragma once

#include "commands.h"

#include "network/networkmap.h"

#include <QString>

namespace rfcfg {

struct ScanPlan
{
    network::TargetList targets;
    int maxHops = 7;
    int repeat = 1;
    int intervalMs = 0; // between rounds
    QString dotPath;    // the map as Graphviz DOT, written at the end
    QString mapPath;    // the map read before the scan and written back after it
};

// Reads --map (when the file exists) into `map`; the usage error otherwise, before any port is
// opened.
QString loadScanMap(const ScanPlan &plan, network::NetworkMap *map);

// Route searches to every target, one at a time, round after round; a table (or JSON) of the
// last result of each target, also after Ctrl+C.
int scan(Link &link, Run &run, const ScanPlan &plan, network::NetworkMap &map);

} // namespace rfcfg
