#pragma once
// The serial port as a Linux tty (termios).
#include "link/serial/SerialPortAccess.h"

#include <cstdint>
#include <string>

struct termios;

namespace rd780 {

class TtySerialPort : public SerialPortAccess {
public:
    TtySerialPort() = default;
    ~TtySerialPort() override;
    TtySerialPort(const TtySerialPort&) = delete;
    TtySerialPort& operator=(const TtySerialPort&) = delete;

    bool open(const std::string& device) override;
    bool isOpen() const override { return fd_ >= 0; }
    void close() override;
    void configure(const SerialLineSettings& settings) override;
    void purge(bool input, bool output) override;
    long readAvailable(uint8_t* buffer, std::size_t max) override;
    const std::string& error() const override { return error_; }
    bool returnsUnderItsName() const override { return !ownPtyName_; }
    int descriptor() const override { return fd_; }

    int fd() const { return fd_; }

private:
    int fd_ = -1;
    bool ownPtyName_ = false; // opened by a pseudo-terminal's own name, not a link to it
    std::string error_;
};

// Fills a termios for the line: raw, receiver on, modem control ignored, parity bit
// without checking. Arbitrary speeds are left for setTtyCustomSpeed.
void makeLineTermios(const SerialLineSettings& settings, termios& t);

// Speeds that termios has no constant for (14400, 56000) go through the kernel's arbitrary
// speed interface. Returns false when the kernel refused.
bool setTtyCustomSpeed(int fd, uint32_t baud);
// The output speed of a tty in bits per second, also for arbitrary speeds; 0 on failure.
uint32_t ttyOutputSpeed(int fd);

} // namespace rd780
