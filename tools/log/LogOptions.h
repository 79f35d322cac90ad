#pragma once
// The command line of rd780-log.
#include <optional>
#include <string>
#include <vector>

namespace rd780::log {

enum class LinkKind { Usb, Serial, Simulated };

struct LogOptions {
    LinkKind link = LinkKind::Usb;
    std::string serialDevice;   // with Serial
    std::string usbDevice;      // with Usb: a hidraw path, or empty for the first cable
    std::string table;          // empty: no table
    std::string csv;            // empty: no CSV; "-": standard output
    double durationSeconds = 0; // 0: until a signal
    int limit = 0;              // rows to record; 0: no limit
    int intervalSeconds = 0;    // 0: every reading
    bool skipRepeats = false;   // --repeat
    bool help = false;
    bool version = false;
};

struct ParseResult {
    std::optional<LogOptions> options;
    std::string error; // why the arguments were refused
};

ParseResult parseArguments(const std::vector<std::string>& args);

std::string usageText();

} // namespace rd780::log
