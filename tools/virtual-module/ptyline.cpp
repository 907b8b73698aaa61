// Kept apart from <termios.h>: the kernel's termios2 (which carries any rate, 14400 and 76800
// included) clashes with the C library's termios.
#include "ptyline.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vmodule {

std::optional<PtyLine> readPtyLine(int masterFd)
{
    struct termios2 t
    {
    };
    if (masterFd < 0 || ioctl(masterFd, TCGETS2, &t) != 0)
        return std::nullopt;
    return PtyLine{t.c_ospeed, (t.c_cflag & CSTOPB) != 0};
}

} // namespace vmodule
