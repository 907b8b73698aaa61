#pragma once

#include "serial/modulelink.h"

#include <QString>

namespace rfcfg {

// Takes the device's lock for as long as rfcfg runs; false, with the reason, only when another
// program holds it.
bool lockDevice(const QString &portName, QString *reason);

// Locks the device and opens the link; the one-line error (exit status 3) when it did not open.
// A busy port is told in the window's words: in use by another program.
QString openPort(serial::ModuleLink &link, const QString &portName,
                 const serial::LineSettings &settings);

} // namespace rfcfg
