#pragma once
// The command line of rd780-log.
#include "link/LinkWatch.h"

#include <optional>
#include <string>
#include <vector>

namespace rd780::log {

struct LogOptions {
    // None with a replay: the capture's header names its link.
    LinkKind link = LinkKind::Usb;
    bool simulated = false;     // with Usb: the simulated cable and meter
    std::string serialDevice;   // with Serial
    std::string usbDevice;      // with Usb: a hidraw path, or empty for the first cable
    std::string table;          // empty: no table
    std::string csv;            // empty: no CSV; "-": standard output
    double durationSeconds = 0; // 0: until a signal
    int limit = 0;              // rows to record; 0: no limit
    int intervalSeconds = 0;    // 0: every reading
    bool skipRepeats = false;   // --repeat
    std::string json;           // empty: no JSON lines; "-": standard output
    std::string mqttUrl;        // empty: no publishing
    std::string mqttCaFile;     // mqtts: a private CA
    bool mqttDiscovery = false;
    std::string capture; // empty: no capture of the link
    std::string replay;  // the capture played back instead of a link
    double speed = 1;    // of the replay
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
