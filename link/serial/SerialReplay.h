#pragma once
// Plays a serial capture back as the port would have delivered it: each recorded read's
// bytes at its recorded time divided by the speed, and a poll tick without bytes wherever
// the line was quiet, so the same frame finding sees the same stream.
#include "link/capture/CaptureFile.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace rd780 {

class SerialReplay : public QObject {
public:
    using Bytes = std::function<void(const std::uint8_t*, std::size_t)>;
    SerialReplay(std::shared_ptr<const Capture> capture, double speed, Bytes bytes,
                 std::function<void()> idle, std::function<void()> ended,
                 QObject* parent = nullptr);
    void start();
    void stop() { timer_.stop(); }
    bool running() const { return timer_.isActive(); }

private:
    void tick();
    std::shared_ptr<const Capture> capture_;
    double speed_;
    Bytes bytes_;
    std::function<void()> idle_, ended_;
    QTimer timer_;
    QElapsedTimer clock_;
    std::size_t next_ = 0;
    int settle_ = 0;
};

} // namespace rd780
