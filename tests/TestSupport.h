#pragma once
// Helpers shared by the test programs.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QString>

#include <functional>
#include <string>

namespace rd780::test {

// The Paradox tables written by other programs, kept with the tests.
inline QString fixtureDir() {
    return QDir(QStringLiteral(RD780_FIXTURE_DIR)).absolutePath();
}

// Runs the event loop until pred holds or the time is up; returns pred's last value.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace rd780::test
