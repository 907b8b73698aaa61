#pragma once

#include "commands.h"

#include <QStringList>

namespace rfcfg {

// rfcfg decode: frames from hex arguments, hex on standard input, or a capture file, printed
// as text or JSON. Exit status 0 when every frame is good, 1 when any is not, 2 for input that
// is not hex or no capture.
int decode(Run &run, const QStringList &words);

} // namespace rfcfg
