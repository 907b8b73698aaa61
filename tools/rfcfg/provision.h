#pragma once

#include "commands.h"

#include "protocol/frame.h"
#include "protocol/profile.h"
#include "serial/capture.h"
#include "serial/session.h"

#include <QList>
#include <QString>

#include <optional>

namespace rfcfg {

// One module of a batch: its port and, when given, the address it gets.
struct ProvisionTarget
{
    QString port;
    std::optional<protocol::HexWord> address;
};

struct ProvisionPlan
{
    // Its address key is never written: each module keeps or gets its own.
    protocol::Profile profile;
    QList<ProvisionTarget> targets;
    serial::LineSettings settings;
    int timeoutMs = 1000;
    int retries = 2;
    QString logPath; // appended to, one JSON line per finished module; empty: none
    serial::Capture *capture = nullptr; // records every module's port, one interface each
};

// Addresses START, START+1, ... for the ports in the order named; the usage error when they
// run past ffff.
QString assignAddresses(QList<ProvisionTarget> &targets, const QString &start);
// The port,address lines of `csv` (blank lines, # comments and a first line of column names
// skipped). With no ports given, the map's ports in its order; otherwise every port given
// needs a line. Ports and addresses must be unique.
QString applyAddressMap(QList<ProvisionTarget> &targets, const QString &csvPath);

// Provisions every target at once in the application's event loop: reads version and
// configuration, writes the profile's values plus the address, reads back and compares the whole
// record, following a module to the serial settings the profile gives it (also when the write's
// reply is lost). A port that fails never holds up the others; Ctrl+C closes every port and still
// reports the modules that finished. Returns the exit status: 0 when every module is ok, else the
// highest of theirs.
int provision(const ProvisionPlan &plan, Run &run);

} // namespace rfcfg
