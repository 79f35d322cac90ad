// rd780-serial-meter: plays a meter on a pseudo-terminal. It prints the device to give to
// `rd780 --serial-port`, then sends display frames at the line speed of the port with a
// pause after each, as the meter does.
#include "meter/core/MeterSimulator.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

struct Options {
    unsigned baud = 2400;
    int pauseMs = 100; // between frames; 0 sends them back to back
    int longEvery = 8;
    long frames = 0; // 0: until stopped
    unsigned seed = 780;
    bool quiet = false;
};

void usage(FILE* to) {
    std::fputs("usage: rd780-serial-meter [--baud N] [--pause MS] [--long-every N] [--frames N] "
               "[--seed N] [--quiet]\n"
               "Opens a pseudo-terminal and sends meter frames on it.\n"
               "  --baud N        line speed, 110 to 115200 (2400)\n"
               "  --pause MS      pause after each frame, 0 to 60000 ms (100)\n"
               "  --long-every N  every Nth frame is a long frame, 0 for none (8)\n"
               "  --frames N      stop after N frames, 0 for never (0)\n"
               "  --seed N        seed of the simulated readings (780)\n"
               "  --quiet         print only the device name\n"
               "  -h, --help      show this help\n"
               "  --version       print the version\n",
               to);
}

bool parseNumber(const char* text, long min, long max, long& out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
    out = v;
    return true;
}

// False with the argument at fault in bad.
bool parse(int argc, char** argv, Options& o, std::string& bad) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bad = a;
        if (a == "--quiet") {
            o.quiet = true;
            continue;
        }
        if (a == "--help" || a == "-h" || i + 1 >= argc) return false;
        long v = 0;
        const char* val = argv[++i];
        if (a == "--baud" && parseNumber(val, 110, 115200, v))
            o.baud = static_cast<unsigned>(v);
        else if (a == "--pause" && parseNumber(val, 0, 60000, v))
            o.pauseMs = static_cast<int>(v);
        else if (a == "--long-every" && parseNumber(val, 0, 1000, v))
            o.longEvery = static_cast<int>(v);
        else if (a == "--frames" && parseNumber(val, 0, 1L << 30, v))
            o.frames = v;
        else if (a == "--seed" && parseNumber(val, 0, 0x7fffffff, v))
            o.seed = static_cast<unsigned>(v);
        else {
            bad = a + " " + val;
            return false;
        }
    }
    return true;
}

std::string describe(const rd780::MeterDisplay& d) {
    std::string s = d.negative ? "-" : "";
    s += d.field;
    s += ' ';
    if (d.prefix == 'A')
        s += "\u00b5"; // the meter's code for micro
    else if (d.prefix != ' ')
        s += d.prefix;
    s += d.unitTail == "Oh" ? "\u03a9" : d.unitTail;
    if ((d.function == 0 || d.function == 1)) s += d.mode == 0 ? " DC" : " AC";
    if (d.autoRange) s += " AUTO";
    return s;
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("rd780-serial-meter " RD780_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::string bad;
    if (!parse(argc, argv, opt, bad)) {
        std::fprintf(stderr, "rd780-serial-meter: cannot use '%s'\n", bad.c_str());
        usage(stderr);
        return 2;
    }

    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const char* slaveName = ::ptsname(master);
    if (!slaveName) {
        std::fprintf(stderr, "no name for the pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slave = slaveName;
    // Keep the slave open ourselves: the line then survives the program closing and
    // reopening it, and nothing is echoed back before the program sets the line up.
    int keep = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (::tcgetattr(master, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
    }
    // Never block on a full line: a meter sends whether or not anyone listens.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", slave.c_str());
    if (!opt.quiet)
        std::fprintf(stderr,
                     "Meter on %s at %u baud. Start the program with:\n  rd780 --serial-port %s\n",
                     slave.c_str(), opt.baud, slave.c_str());
    std::fflush(stdout);

    rd780::MeterSimulator sim(opt.seed);
    sim.setLongFrameInterval(opt.longEvery);
    // One byte is ten bits on the line (start, 8 data, stop).
    const double bytesPerSecond = opt.baud / 10.0;
    using clock = std::chrono::steady_clock;
    long sent = 0;
    unsigned long dropped = 0;

    while (!stopRequested && (opt.frames == 0 || sent < opt.frames)) {
        const std::vector<uint8_t> frame = sim.nextFrame();
        const auto start = clock::now();
        std::size_t done = 0;
        bool full = false;
        while (done < frame.size() && !stopRequested) {
            // Write what the line would have carried by now, at most a few bytes at a time.
            const double elapsed = std::chrono::duration<double>(clock::now() - start).count();
            std::size_t due =
                std::min(frame.size(), static_cast<std::size_t>(elapsed * bytesPerSecond) + 1);
            if (due > done) {
                ssize_t n = ::write(master, frame.data() + done, due - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                } else if (n < 0 && errno != EINTR) {
                    // Nobody reads the line and its buffer is full: the rest is lost, as
                    // on a real wire.
                    full = true;
                    break;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
        if (full) ++dropped;
        ++sent;
        if (!opt.quiet) {
            std::fprintf(stderr, "frame %ld (%zu bytes)%s: %s\n", sent, frame.size(),
                         full ? " not taken" : "", describe(sim.lastDisplay()).c_str());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(opt.pauseMs));
    }
    if (!opt.quiet) std::fprintf(stderr, "%ld frames sent, %lu not taken\n", sent, dropped);
    if (keep >= 0) ::close(keep);
    ::close(master);
    return 0;
}
