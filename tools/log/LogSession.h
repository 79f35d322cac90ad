#pragma once
// One logging run without a window: the meter session with the logger's options, its
// outputs beyond the table and the CSV made from the command line, and its summary line.
#include "session/MeterSession.h"
#include "tools/log/LogOptions.h"

#include <functional>
#include <memory>
#include <string>

namespace rd780 {
class HidServices;
class MqttPublisher;
} // namespace rd780

namespace rd780::log {

// What a test puts in place of the machine's own.
struct LogSeams {
    std::shared_ptr<HidServices> hid; // where a USB cable is looked for; null: the system's
    std::function<LinkWatch::Clock::time_point()> linkClock; // empty: the steady clock
};

class LogSession : public MeterSession {
public:
    // The logger's choices where the window's differ: a read error is counted and told on
    // standard error, the limit ends the run at exactly that many rows. ended(code, reason)
    // runs once when the run must end.
    LogSession(const LogOptions& options, std::function<void(int, const std::string&)> ended,
               LogSeams seams = {});

    // Starts the JSON lines and MQTT outputs, then the session.
    bool start(std::string& error);
    // After a signal: the broker gets a moment to take what waits, not the usual wait.
    void hurry();
    std::string summary() const { return "rd780-log: " + MeterSession::summary(); }

private:
    LogOptions options_;
    MqttPublisher* mqtt_ = nullptr;
};

} // namespace rd780::log
