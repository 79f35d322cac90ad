// A recording process killed with SIGKILL loses at most the row it was writing.
#include "TableTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace rd780::test;

// Child: appends numbered rows forever, posting the count of finished appends on the pipe.
[[noreturn]] void recordUntilKilled(const std::filesystem::path& file, int out) {
    try {
        auto t = px::Table::open(file, px::OpenMode::ReadWrite);
        std::int64_t next = t.rowCount();
        for (;;) {
            t.appendRow(readingRow(next));
            ++next;
            const std::uint32_t posted = static_cast<std::uint32_t>(next);
            if (::write(out, &posted, sizeof posted) != sizeof posted) ::_exit(3);
        }
    } catch (...) {
        ::_exit(2);
    }
}

// Reads every count the child managed to post; returns the last one (or fallback).
std::uint32_t lastPosted(int in, std::uint32_t fallback) {
    std::uint32_t last = fallback, v;
    ::fcntl(in, F_SETFL, O_NONBLOCK);
    while (::read(in, &v, sizeof v) == sizeof v)
        last = v;
    return last;
}

TEST(Durability, KilledRecorderLosesAtMostTheRowInFlight) {
    ScratchDir tmp;
    const auto file = tmp / "Kv400db.DB";
    // Small blocks so kills also land while new blocks are being linked in.
    px::Table::create(file, readingFields(), px::CreateOptions{1, 1252}).close();

    std::mt19937 rng(20261208);
    std::uint32_t posted = 0;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            recordUntilKilled(file, fds[1]);
        }
        ::close(fds[1]);
        // Wait for the first post so the child is really writing, then kill at random.
        pollfd p{fds[0], POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 10000), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 40000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself with " << status;
        posted = lastPosted(fds[0], posted);
        ::close(fds[0]);

        // Read-only first (no repair), then read-write, which fixes the header counts.
        for (auto mode : {px::OpenMode::ReadOnly, px::OpenMode::ReadWrite}) {
            auto t = px::Table::open(file, mode);
            const std::uint32_t n = t.rowCount();
            ASSERT_GE(n, posted);
            ASSERT_LE(n, posted + 1);
            for (std::uint32_t i = 0; i < n; i += 97)
                ASSERT_EQ(t.readRow(i), readingRow(i));
            ASSERT_EQ(t.readRow(n - 1), readingRow(n - 1));
            posted = n; // the next child continues from what is on disk
        }
    }
    EXPECT_GT(posted, 100u);
}

} // namespace
