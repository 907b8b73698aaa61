#pragma once

#include "commands.h"

#include <QStringList>

#include <functional>

namespace rfcfg {

// Searches the ports (none: every listed port) for a module, all at once. `lock` takes a
// port's lock and is false when another program holds it.
int discover(Run &run, QStringList ports, bool quick,
             const std::function<bool(const QString &)> &lock);

} // namespace rfcfg
