#pragma once

#include <optional>

namespace vmodule {

// The rate and stop bits that the client set on the pseudo-terminal. The pty driver keeps both
// but clears the parity bit, so parity cannot be told from the line.
struct PtyLine
{
    unsigned baudRate = 0;
    bool twoStopBits = false;
};

// Read from the master side, which on Linux reports the slave's settings; nothing on failure.
std::optional<PtyLine> readPtyLine(int masterFd);

} // namespace vmodule
