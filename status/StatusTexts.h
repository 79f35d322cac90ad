#pragma once
// The three texts of the window's status bar, made from typed state: the link, the table
// the rows go to, and what the recording rule does with the next reading. Plain C++; the
// window gathers the state, these functions word it.
#include "link/LinkWatch.h"
#include "status/FrameRate.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace rd780 {

class ReadingTable;
class RecordingRule;

struct LinkStatus {
    using Kind = LinkKind;
    enum class Health { Waiting, Live, Stalled, Unplugged }; // Waiting: no frame since connect
    Kind kind = Kind::None;
    std::string device; // the cable's name, or the serial device node
    int baud = 0;       // serial only
    Health health = Health::Stalled;
    double framesPerSecond = 0.0;
    std::string problem; // the last link error or hint, until the link next works
};

// Follows the link as the window's handlers report it: which link, its frame rate and
// its last problem. Its health is the link watch's, the one the lamp and the history show.
class LinkMonitor {
public:
    using Clock = FrameRate::Clock;

    // The watch whose health the status shows; without one a link is still waiting.
    void follow(const LinkWatch& watch) { watch_ = &watch; }

    void connectedUsb(const std::string& device);
    void connectedSerial(const std::string& device, int baud);
    void speedChanged(int baud) { status_.baud = baud; }
    void disconnected();
    // A whole frame arrived.
    void frame(Clock::time_point now);
    void problem(const std::string& text) { status_.problem = text; }

    LinkStatus status(Clock::time_point now);

private:
    void connected(LinkStatus::Kind kind, const std::string& device, int baud);

    const LinkWatch* watch_ = nullptr;
    LinkStatus status_;
    FrameRate rate_;
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
