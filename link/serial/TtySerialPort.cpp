#include "link/serial/TtySerialPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace rd780 {

namespace {

std::string errnoText(int err) {
    return std::strerror(err);
}

// termios has constants only for the classic speeds.
bool standardSpeed(uint32_t baud, speed_t& out) {
    switch (baud) {
    case 110:
        out = B110;
        return true;
    case 300:
        out = B300;
        return true;
    case 600:
        out = B600;
        return true;
    case 1200:
        out = B1200;
        return true;
    case 2400:
        out = B2400;
        return true;
    case 4800:
        out = B4800;
        return true;
    case 9600:
        out = B9600;
        return true;
    case 19200:
        out = B19200;
        return true;
    case 38400:
        out = B38400;
        return true;
    case 57600:
        out = B57600;
        return true;
    case 115200:
        out = B115200;
        return true;
    default:
        return false;
    }
}

// Modem-line ioctls fail with ENOTTY (or EINVAL) on pseudo-terminals and some adapters;
// the line then simply has no such wire, which is no reason to refuse the port.
void setModemLine(int fd, int line, bool raised) {
    int bits = line;
    (void)::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bits);
}

// The far side of a pseudo-terminal (majors 136 to 143), named by itself rather than by a
// link that someone may point at a new one.
bool ownPseudoTerminalName(int fd, const std::string& device) {
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode)) return false;
    const unsigned m = major(opened.st_rdev);
    return m >= 136 && m <= 143 && ::lstat(device.c_str(), &named) == 0 && S_ISCHR(named.st_mode);
}

} // namespace

TtySerialPort::~TtySerialPort() {
    close();
}

bool TtySerialPort::open(const std::string& device) {
    close();
    error_.clear();
    // O_NOCTTY: a meter port must never become our controlling terminal.
    // O_NONBLOCK: a read returns at once with what is waiting.
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error_ = errnoText(errno);
        return false;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        error_ = "not a serial device";
        return false;
    }
    // Exclusive use. The advisory lock is what other well-behaved programs (and a second
    // open by us) respect; TIOCEXCL alone does not stop root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        error_ = err == EWOULDBLOCK ? "in use by another program" : errnoText(err);
        return false;
    }
    int already = 0;
    if (::ioctl(fd, TIOCGEXCL, &already) == 0 && already) {
        // Another program holds the tty in exclusive mode; as root we got past it, but
        // sharing the line would split the meter's bytes between two readers.
        ::close(fd);
        error_ = "in use by another program";
        return false;
    }
    (void)::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    ownPtyName_ = ownPseudoTerminalName(fd, device);
    return true;
}

void TtySerialPort::close() {
    if (fd_ < 0) return;
    // Exclusive mode stays on the tty while anyone else keeps it open; give it back so
    // the next open (ours or another program's) is not refused.
    (void)::ioctl(fd_, TIOCNXCL);
    (void)::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

void makeLineTermios(const SerialLineSettings& s, termios& t) {
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    switch (s.dataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    switch (s.parity) {
    case SerialParity::None:
        break;
    case SerialParity::Odd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case SerialParity::Even:
        t.c_cflag |= PARENB;
        break;
    case SerialParity::Mark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SerialParity::Space:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // The parity bit is generated and stripped but never checked: a bad bit must not
    // drop or alter a meter byte.
    t.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
    // Linux has no one-and-a-half stop bits; two is the nearest and a receiver only
    // needs the first stop bit anyway.
    if (s.stopBits != SerialStopBits::One) t.c_cflag |= CSTOPB;
    if (s.rtsCts) t.c_cflag |= CRTSCTS;
    if (s.xonXoff) t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    // DTR drops on close when it was raised while open.
    if (s.dtr) t.c_cflag |= HUPCL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t code{};
    if (standardSpeed(s.baud, code)) {
        ::cfsetispeed(&t, code);
        ::cfsetospeed(&t, code);
    }
}

void TtySerialPort::configure(const SerialLineSettings& s) {
    if (fd_ < 0) return;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
        error_ = errnoText(errno);
        return;
    }
    makeLineTermios(s, t);
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) error_ = errnoText(errno);
    speed_t code{};
    if (!standardSpeed(s.baud, code) && !setTtyCustomSpeed(fd_, s.baud)) error_ = errnoText(errno);
    setModemLine(fd_, TIOCM_DTR, s.dtr);
    // With RTS/CTS the kernel drives RTS itself.
    if (!s.rtsCts) setModemLine(fd_, TIOCM_RTS, false);
}

void TtySerialPort::purge(bool input, bool output) {
    if (fd_ < 0 || (!input && !output)) return;
    (void)::tcflush(fd_, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
}

long TtySerialPort::readAvailable(uint8_t* buffer, std::size_t max) {
    if (fd_ < 0) {
        error_ = "port not open";
        return -1;
    }
    // A tty that was hung up (adapter pulled out, far end of a pseudo-terminal closed)
    // reads as "nothing waiting" for ever; only poll tells it apart.
    pollfd p{fd_, POLLIN, 0};
    bool hungUp = ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (max == 0) return 0;
    for (;;) {
        ssize_t n = ::read(fd_, buffer, max);
        if (n > 0 || (n == 0 && !hungUp)) return static_cast<long>(n);
        if (n == 0) {
            error_ = "the device went away";
            return -1;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        error_ = errnoText(errno);
        return -1;
    }
}

} // namespace rd780
