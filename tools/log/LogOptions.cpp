#include "tools/log/LogOptions.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace rd780::log {

namespace {

std::optional<long> wholeNumber(const std::string& s) {
    if (s.empty() || s[0] == '-' || s[0] == '+' || s[0] == ' ') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v > INT_MAX) return std::nullopt;
    return v;
}

std::optional<double> seconds(const std::string& s) {
    if (s.empty() || s[0] == '-' || s[0] == '+' || s[0] == ' ') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v <= 0 || v > 1e9) return std::nullopt;
    return v;
}

} // namespace

std::string usageText() {
    return "Usage: rd780-log [--simulate-meter | --serial-port DEVICE | --usb [--device PATH]]\n"
           "                 [--table FILE] [--csv FILE|-] [--duration SECONDS] [--limit N]\n"
           "                 [--interval SECONDS] [--repeat] [--json FILE|-]\n"
           "                 [--mqtt URL [--mqtt-cafile FILE] [--mqtt-discovery]]\n"
           "                 [--capture FILE] [--replay FILE [--speed X]]\n"
           "       rd780-log --help | --version\n"
           "  --mqtt mqtt://[USER@]HOST[:PORT]/PREFIX (or mqtts://): each row on PREFIX/reading;\n"
           "         the password comes from the environment variable RD780_MQTT_PASSWORD\n";
}

ParseResult parseArguments(const std::vector<std::string>& args) {
    LogOptions o;
    int links = 0;
    bool deviceGiven = false;
    bool speedGiven = false;
    auto fail = [](std::string why) { return ParseResult{std::nullopt, std::move(why)}; };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--simulate-meter") {
            o.link = LinkKind::Usb;
            o.simulated = true;
            ++links;
        } else if (a == "--usb") {
            o.link = LinkKind::Usb;
            ++links;
        } else if (a == "--serial-port") {
            if (!value(o.serialDevice) || o.serialDevice.empty())
                return fail("--serial-port needs a device");
            o.link = LinkKind::Serial;
            ++links;
        } else if (a == "--device") {
            if (!value(o.usbDevice) || o.usbDevice.empty()) return fail("--device needs a path");
            deviceGiven = true;
        } else if (a == "--table") {
            if (!value(o.table) || o.table.empty()) return fail("--table needs a file name");
        } else if (a == "--csv") {
            if (!value(o.csv) || o.csv.empty()) return fail("--csv needs a file name or -");
        } else if (a == "--duration") {
            if (!value(v)) return fail("--duration needs a number of seconds");
            const auto d = seconds(v);
            if (!d) return fail("--duration: '" + v + "' is not a positive number of seconds");
            o.durationSeconds = *d;
        } else if (a == "--limit") {
            if (!value(v)) return fail("--limit needs a number of rows");
            const auto n = wholeNumber(v);
            if (!n || *n < 1) return fail("--limit: '" + v + "' is not a whole number above 0");
            o.limit = static_cast<int>(*n);
        } else if (a == "--interval") {
            if (!value(v)) return fail("--interval needs a number of seconds");
            const auto n = wholeNumber(v);
            if (!n || *n < 1)
                return fail("--interval: '" + v + "' is not a whole number of seconds above 0");
            o.intervalSeconds = static_cast<int>(*n);
        } else if (a == "--repeat") {
            o.skipRepeats = true;
        } else if (a == "--json") {
            if (!value(o.json) || o.json.empty()) return fail("--json needs a file name or -");
        } else if (a == "--mqtt") {
            if (!value(o.mqttUrl) || o.mqttUrl.empty()) return fail("--mqtt needs a URL");
        } else if (a == "--mqtt-cafile") {
            if (!value(o.mqttCaFile) || o.mqttCaFile.empty())
                return fail("--mqtt-cafile needs a file name");
        } else if (a == "--mqtt-discovery") {
            o.mqttDiscovery = true;
        } else if (a == "--capture") {
            if (!value(o.capture) || o.capture.empty()) return fail("--capture needs a file name");
        } else if (a == "--replay") {
            if (!value(o.replay) || o.replay.empty()) return fail("--replay needs a capture file");
            o.link = LinkKind::None;
            ++links;
        } else if (a == "--speed") {
            if (!value(v)) return fail("--speed needs a factor");
            const auto x = seconds(v);
            if (!x || *x > 1000)
                return fail("--speed: '" + v + "' is not a factor above 0 up to 1000");
            o.speed = *x;
            speedGiven = true;
        } else {
            return fail("unknown argument '" + a + "'");
        }
    }
    if (links > 1) return fail("give one of --simulate-meter, --serial-port, --usb and --replay");
    if (speedGiven && o.replay.empty()) return fail("--speed goes with --replay");
    if ((!o.mqttCaFile.empty() || o.mqttDiscovery) && o.mqttUrl.empty())
        return fail("--mqtt-cafile and --mqtt-discovery go with --mqtt");
    {
        // Two outputs into one file would interleave; standard output takes one stream.
        std::vector<std::string> files;
        for (const std::string* f : {&o.table, &o.csv, &o.json, &o.capture, &o.replay})
            if (!f->empty()) files.push_back(*f);
        std::sort(files.begin(), files.end());
        if (std::adjacent_find(files.begin(), files.end()) != files.end())
            return fail("the table, CSV, JSON, capture and replay files must differ");
    }
    if (deviceGiven && (o.link != LinkKind::Usb || o.simulated))
        return fail("--device goes with --usb");
    if (!o.help && !o.version && o.table.empty() && o.csv.empty() && o.json.empty() &&
        o.mqttUrl.empty() && o.capture.empty())
        return fail("nothing to record into: give --table FILE, --csv FILE, --json FILE, "
                    "--mqtt URL or --capture FILE");
    return {o, {}};
}

} // namespace rd780::log
