#pragma once

#include "commands.h"

#include <QStringList>

namespace rfcfg {

// Searches the ports (none: every listed port) for a module, as many at once as the descriptors
// allow; a port another program holds is left alone, and a second name of one device is
// reported as the same port.
int discover(Run &run, QStringList ports, bool quick);

} // namespace rfcfg
