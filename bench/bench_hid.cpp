// Latency of the USB path: the report that ends a frame leaves the read thread's wait,
// is handed to the GUI thread, assembled, decoded, and the reading is set.
#include "app/TFCOMM.h"
#include "link/hid/HidControllerClass.h"
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/UsbLinkPanel.h"
#include "meter/core/MeterSimulator.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

using namespace rd780;
using BenchClock = std::chrono::steady_clock;

namespace {

// A cable whose input reports the benchmark feeds; it notes when the last report of a
// frame leaves the read.
class FedCable : public SimulatedHidServices {
public:
    void feedFrame(const std::vector<std::uint8_t>& frame) {
        std::lock_guard<std::mutex> lk(m_);
        for (std::size_t i = 0; i < frame.size(); i += 9) {
            const std::size_t n = std::min<std::size_t>(9, frame.size() - i);
            std::vector<std::uint8_t> r(11, 0);
            r[1] = static_cast<std::uint8_t>(0xF0 | n);
            std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(i), n, r.begin() + 2);
            queue_.push_back({r, false});
        }
        queue_.push_back({std::vector<std::uint8_t>(11, 0), true}); // ends the frame
        cv_.notify_all();
    }
    BenchClock::time_point frameEndedAt() const {
        return BenchClock::time_point(BenchClock::duration(ended_.load()));
    }

    HidReadResult readReport(HidHandle, std::uint8_t* buf, std::size_t length,
                             int timeoutMs) override {
        std::unique_lock<std::mutex> lk(m_);
        if (!cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs),
                          [&] { return !queue_.empty(); }))
            return {HidReadStatus::TimedOut, 0, 0};
        auto [report, last] = queue_.front();
        queue_.pop_front();
        const std::size_t n = std::min(length, report.size());
        std::copy_n(report.begin(), n, buf);
        if (last) ended_ = BenchClock::now().time_since_epoch().count();
        return {HidReadStatus::Completed, n, 0};
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::pair<std::vector<std::uint8_t>, bool>> queue_;
    std::atomic<BenchClock::rep> ended_{0};
};

void BM_FrameEndToReading(benchmark::State& state) {
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    auto cable = std::make_shared<FedCable>();
    SimDeviceConfig cfg;
    cfg.hasMeter = false;
    cable->addDevice(cfg);
    TFCOMM::MakeHidServices = [cable](const ProgramOptions&) { return cable; };
    ProgramOptions options;
    options.messageHook = [](const QString&) {};
    {
        TFCOMM w(options);
        TFCOMM::MakeHidServices = nullptr;
        w.Usb->USBCon->click();
        MeterSimulator meter;
        meter.setFramesPerReading(1);
        meter.setLongFrameInterval(state.range(0) ? 1 : 0);
        for (auto _ : state) {
            std::vector<std::uint8_t> frame;
            // Two frames in a row can show the same text: take one that changes it.
            do {
                frame = meter.nextFrame();
            } while (std::string(frame.begin() + 22, frame.begin() + 27) == w.S.ReadingText);
            w.S.ReadingText = "pending";
            cable->feedFrame(frame);
            QDeadlineTimer deadline(5000);
            while (w.S.ReadingText == "pending" && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            const auto done = BenchClock::now();
            if (w.S.ReadingText == "pending") {
                state.SkipWithError("frame not decoded");
                break;
            }
            state.SetIterationTime(
                std::chrono::duration<double>(done - cable->frameEndedAt()).count());
        }
        w.Usb->USBCon->click();
    }
    QDir::setCurrent(old);
}
BENCHMARK(BM_FrameEndToReading)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("waveform")
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
