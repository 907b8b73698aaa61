// Kept apart from <termios.h>: the kernel's termios2 (which carries any baud rate, 56000
// included) clashes with the C library's termios.
#include "ptypair.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

PtyPair::LineSettings PtyPair::lineSettings() const
{
    LineSettings s;
    struct termios2 t
    {
    };
    // On Linux the master reports the slave's settings.
    if (masterFd < 0 || ioctl(masterFd, TCGETS2, &t) != 0)
        return s;
    s.baud = t.c_ospeed;
    s.oddParity = (t.c_cflag & PARODD) != 0;
    s.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    s.eightDataBits = (t.c_cflag & CSIZE) == CS8;
    return s;
}
