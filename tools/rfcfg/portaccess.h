#pragma once

#include "serial/modulelink.h"

#include <QString>

namespace rfcfg {

// Locks the device and opens the link; the one-line error (exit status 3) when it did not open.
// A busy port is told in the window's words: in use by another program.
QString openPort(serial::ModuleLink &link, const QString &portName,
                 const serial::LineSettings &settings);

} // namespace rfcfg
