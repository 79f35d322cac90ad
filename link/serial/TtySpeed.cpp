// The kernel's arbitrary-speed tty interface. Its header clashes with <termios.h>, so it
// lives in a file of its own.
#include <asm/termbits.h>
#include <cstdint>
#include <sys/ioctl.h>

namespace rd780 {

bool setTtyCustomSpeed(int fd, uint32_t baud) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_cflag &= ~(CBAUD << IBSHIFT);
    t.c_cflag |= BOTHER << IBSHIFT;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

uint32_t ttyOutputSpeed(int fd) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
}

} // namespace rd780
