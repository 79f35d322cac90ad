#pragma once
// A pseudo-terminal for the tests: the program under test opens the slave path as its
// serial device, the test plays the meter on the master side.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace rd780::test {

class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slave_ = ::ptsname(master_);
        // Raw from the start, so nothing written before the port is configured is echoed
        // back or held for a line end.
        termios t{};
        ::tcgetattr(master_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slave_; }
    int master() const { return master_; }

    // Writes all bytes to the master side; the slave side sees them a moment later.
    void send(const std::vector<uint8_t>& bytes) { send(bytes.data(), bytes.size()); }
    void send(const uint8_t* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::write(master_, data + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw std::runtime_error("pty write failed");
            done += static_cast<std::size_t>(n);
        }
        ::tcdrain(master_);
    }

    // The other processes that hold the slave open, "pid command" each: a program that
    // retries a closed pseudo-terminal's name takes the next one given that name.
    std::string holders() const {
        namespace fs = std::filesystem;
        std::string found;
        const std::string self = std::to_string(::getpid());
        std::error_code e;
        for (fs::directory_iterator p("/proc", e), end; !e && p != end; p.increment(e)) {
            const std::string pid = p->path().filename();
            if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) continue;
            std::error_code fe; // a process may end while it is looked at
            for (fs::directory_iterator fd(p->path() / "fd", fe); !fe && fd != end;
                 fd.increment(fe)) {
                std::error_code le;
                if (fs::read_symlink(fd->path(), le) != slave_) continue;
                std::string cmd;
                if (std::FILE* f = std::fopen((p->path() / "cmdline").c_str(), "r")) {
                    for (int c; (c = std::fgetc(f)) != EOF;)
                        cmd += c ? static_cast<char>(c) : ' ';
                    std::fclose(f);
                }
                found += "held by " + pid + " " + cmd + "; ";
                break;
            }
        }
        return found;
    }

    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_;
};

} // namespace rd780::test
