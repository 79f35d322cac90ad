#pragma once
// What the serial driver needs from the operating system, kept behind a small interface so
// the driver's rules can be exercised without hardware.
#include <cstddef>
#include <cstdint>
#include <string>

namespace rd780 {

enum class SerialParity : uint8_t { None, Odd, Even, Mark, Space };
enum class SerialStopBits : uint8_t { One, OneAndHalf, Two };

struct SerialLineSettings {
    uint32_t baud = 9600;
    int dataBits = 8; // 5 to 8
    SerialParity parity = SerialParity::None;
    SerialStopBits stopBits = SerialStopBits::One;
    bool dtr = true;      // raise DTR while open
    bool rtsCts = false;  // RTS/CTS handshaking; otherwise RTS is held low
    bool xonXoff = false; // XON/XOFF in both directions
    uint8_t xonChar = 0x11;
    uint8_t xoffChar = 0x13;
    // Flow-control thresholds of the receive queue; a Linux tty keeps its own.
    uint16_t xonLim = 512;
    uint16_t xoffLim = 1;
};

class SerialPortAccess {
public:
    virtual ~SerialPortAccess() = default;

    // Opens the device for exclusive use. On failure returns false and leaves the reason in
    // error().
    virtual bool open(const std::string& device) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Results are not examined by the driver: the port stays open with whatever the
    // platform kept.
    virtual void configure(const SerialLineSettings& settings) = 0;
    virtual void purge(bool input, bool output) = 0;
    // Reads what is waiting, up to max bytes, without waiting. Returns the count (0 when
    // nothing is waiting) or -1 on failure, with the reason in error().
    virtual long readAvailable(uint8_t* buffer, std::size_t max) = 0;
    virtual const std::string& error() const = 0;
    // Whether the device last opened, once gone, can come back under the name it was
    // opened by. A pseudo-terminal's own name (/dev/pts/N) cannot: the next pseudo-terminal
    // opened anywhere on the machine is given it.
    virtual bool returnsUnderItsName() const { return true; }
    // A descriptor that polls readable when bytes wait (or the line hangs up) while open;
    // -1 when there is none, and the driver then looks at every tick.
    virtual int descriptor() const { return -1; }
};

} // namespace rd780
