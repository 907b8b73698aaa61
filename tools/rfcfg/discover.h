#pragma once

#include "commands.h"

#include <QStringList>

namespace rfcfg {

// Searches the ports (none: every listed port) for a module, as many at once as the descriptors
// allow; a port another program holds is left alone.
int discover(Run &run, QStringList ports, bool quick);

} // namespace rfcfg
