#pragma once
// Helpers shared by the test programs.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QString>

#include <functional>
#include <string>

namespace rd780::test {

// The shared fixtures folder beside the project, or empty when it is absent.
inline QString sharedDir() {
    QDir d(QStringLiteral(RD780_SHARED_DIR));
    return d.exists() ? d.absolutePath() : QString();
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
