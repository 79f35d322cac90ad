#pragma once
// What the command line (or a test) asks of the window.
#include "record/NewQuestion.h"

#include <QString>

#include <chrono>
#include <functional>
#include <string>

namespace rd780 {

struct ProgramOptions {
    bool simulateMeter = false; // add the simulated cable to the HID device list
    QString serialPort;         // device opened for pnCOM1 instead of /dev/ttyS0
    std::string capture;        // the links' deliveries are captured into this file
    std::string replay;         // a capture played back as a cable (or on Connect for serial)
    double replaySpeed = 1;     // of the replay
    // Receives the information boxes instead of a modal dialog (tests, headless runs).
    std::function<void(const QString&)> messageHook;
    // The link watch's clock (tests); empty: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> linkClock;
    QuestionHook questionHook; // answers New's question instead of a box (tests)
};

} // namespace rd780
