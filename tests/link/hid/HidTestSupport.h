#pragma once
// Helpers for the HID tests: a watchdog that ends a hung test, and services whose input
// reports a test scripts byte for byte.
#include "link/hid/SimulatedHidServices.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace rd780::test {

// Aborts the test program when the scope is not left in time: a deadlock must fail the
// run, not hang it.
class Watchdog {
public:
    explicit Watchdog(int seconds, const char* what) : what_(what) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lk(m_);
            if (!cv_.wait_for(lk, std::chrono::seconds(seconds), [this] { return done_; })) {
                std::fprintf(stderr, "Watchdog: %s did not finish in time\n", what_);
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lk(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    const char* what_;
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// The simulated devices, except that reads return the scripted reports first.
class ScriptedServices : public SimulatedHidServices {
public:
    void push(std::vector<std::uint8_t> report) {
        std::lock_guard<std::mutex> lk(m_);
        script_.push_back(std::move(report));
    }
    HidReadResult readReport(HidHandle, std::uint8_t* buf, std::size_t length,
                             int timeoutMs) override {
        {
            std::lock_guard<std::mutex> lk(m_);
            if (!script_.empty()) {
                const auto r = script_.front();
                script_.pop_front();
                const std::size_t n = std::min(length, r.size());
                std::copy_n(r.begin(), n, buf);
                return {HidReadStatus::Completed, n, 0};
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 5)));
        return {HidReadStatus::TimedOut, 0, 0};
    }

private:
    std::mutex m_;
    std::deque<std::vector<std::uint8_t>> script_;
};

} // namespace rd780::test
