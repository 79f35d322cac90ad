#pragma once
// The three texts of the window's status bar, made from typed state: the link, the table
// the rows go to, and what the recording rule does with the next reading. Plain C++; the
// window gathers the state, these functions word it.
#include "status/FrameRate.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace rd780 {

class ReadingTable;
class RecordingRule;

struct LinkStatus {
    enum class Kind { None, Usb, Serial };
    enum class Health { Waiting, Live, Stalled, Unplugged }; // Waiting: no byte since connect
    Kind kind = Kind::None;
    std::string device; // the cable's name, or the serial device node
    int baud = 0;       // serial only
    Health health = Health::Stalled;
    double framesPerSecond = 0.0;
    std::string problem; // the last link error or hint, until the link next works
};

// Follows the link as the window's handlers report it.
class LinkMonitor {
public:
    using Clock = FrameRate::Clock;
    // No byte for this long and the link counts as stalled. Long enough for a long frame
    // at 2400 baud to arrive in pieces without the link looking dead.
    static constexpr std::chrono::seconds StallAfter{3};

    void connectedUsb(const std::string& device, Clock::time_point now);
    void connectedSerial(const std::string& device, int baud, Clock::time_point now);
    void speedChanged(int baud) { status_.baud = baud; }
    void disconnected();
    void unplugged();
    // Bytes of a frame arrived: the link lives even while a long frame is incomplete.
    void activity(Clock::time_point now);
    // A whole frame arrived.
    void frame(Clock::time_point now);
    void problem(const std::string& text) { status_.problem = text; }

    LinkStatus status(Clock::time_point now);

private:
    void connected(LinkStatus::Kind kind, const std::string& device, int baud,
                   Clock::time_point now);

    LinkStatus status_;
    FrameRate rate_;
    Clock::time_point connectedAt_{};
    Clock::time_point lastActivity_{};
    bool seen_ = false; // a byte arrived since the connect
};

struct TableStatus {
    bool open = false;
    std::string path; // absolute
    int64_t rows = 0;
    bool readOnly = false;
    std::string notRecording; // why no row can be recorded into it; empty when rows can be
};

TableStatus tableStatusOf(const ReadingTable& table);

struct RecordingStatus {
    enum class State {
        Recording,
        Waiting,        // the sampling interval has not run out
        RepeatFiltered, // the last reading repeated the one before and was dropped
        LimitReached,
        TableFull,
        BadInterval,  // the interval text is not a number
        NotRecording, // the table takes no rows (the table's text says why)
    };
    State state = State::NotRecording;
    int secondsLeft = 0;
    int recorded = 0; // rows recorded since New
    int limit = 0;
};

// What the recording rule will do with the next reading, in the order it checks.
RecordingStatus recordingStatusOf(const RecordingRule& rule, const ReadingTable& table);

struct StatusTexts {
    std::string link;
    std::string table;
    std::string recording;
    bool operator==(const StatusTexts&) const = default;
};

std::string linkText(const LinkStatus& s);
std::string tableText(const TableStatus& s);
std::string recordingText(const RecordingStatus& s);

StatusTexts statusTexts(const LinkStatus& link, const TableStatus& table,
                        const RecordingStatus& recording);

} // namespace rd780
