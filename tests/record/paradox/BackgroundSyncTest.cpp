// The background sync: appends and the timer's flush never wait for the disk, a failed sync
// is thrown at the next call and retried, and closing waits for the sync in flight.
#include "TableTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using namespace rd780::test;
using namespace std::chrono_literals;

// Stands in for fdatasync: call n waits until n calls are released, then fails with `fail`
// or syncs. Notes the calls entered and finished and any that found its descriptor closed.
struct HeldSync {
    std::mutex m;
    std::condition_variable cv;
    int released = 1 << 30;
    int fail = 0;
    int entered = 0;
    int finished = 0;
    int succeeded = 0;
    bool badDescriptor = false;
    std::thread::id caller;

    int call(int fd) {
        std::unique_lock lock(m);
        const int n = ++entered;
        caller = std::this_thread::get_id();
        cv.notify_all();
        cv.wait(lock, [&] { return released >= n; });
        if (::fcntl(fd, F_GETFD) == -1) badDescriptor = true;
        const int err = fail != 0 ? fail : (::fdatasync(fd) == 0 ? 0 : errno);
        ++finished;
        if (err == 0) ++succeeded;
        cv.notify_all();
        return err;
    }
    void release(int n) {
        std::lock_guard lock(m);
        released = n;
        cv.notify_all();
    }
    void failWith(int err) {
        std::lock_guard lock(m);
        fail = err;
    }
    int count(int HeldSync::*which) {
        std::lock_guard lock(m);
        return this->*which;
    }
    // Waits (at most ten seconds) until what(…) holds.
    bool await(const std::function<bool()>& what) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, 10s, what);
    }
    px::Table::SyncCall seam() {
        return [this](int fd) { return call(fd); };
    }
};

px::Table backgroundTable(const std::filesystem::path& file, HeldSync& sync) {
    auto t = px::Table::create(file, readingFields(), px::CreateOptions{1, 1252});
    t.setSyncCall(sync.seam());
    t.setBackgroundSync(true);
    return t;
}

TEST(BackgroundSync, AppendsAndTheTimersFlushGoOnWhileASyncIsBlocked) {
    ScratchDir tmp;
    HeldSync sync;
    sync.released = 0;
    auto t = backgroundTable(tmp / "held.db", sync);
    t.appendRow(readingRow(0)); // the first sync is due at once
    ASSERT_TRUE(sync.await([&] { return sync.entered == 1; }));
    EXPECT_NE(sync.caller, std::this_thread::get_id());
    // Neither appends (due or not) nor the timer's flush wait for the blocked sync, and none
    // starts a second one while it runs.
    t.setSyncInterval(0);
    for (int i = 1; i < 40; ++i)
        t.appendRow(readingRow(i));
    t.startFlush();
    EXPECT_TRUE(t.flushPending());
    EXPECT_EQ(sync.count(&HeldSync::entered), 1);

    // The blocked sync covered the first row alone: the rest stay pending for the next one.
    sync.release(1);
    ASSERT_TRUE(sync.await([&] { return sync.finished == 1; }));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (sync.count(&HeldSync::entered) < 2 && std::chrono::steady_clock::now() < deadline)
        t.startFlush();
    ASSERT_EQ(sync.count(&HeldSync::entered), 2)
        << "rows appended during a sync were taken as durable";
    sync.release(2);
    t.flush();
    EXPECT_FALSE(t.flushPending());
    EXPECT_EQ(sync.count(&HeldSync::finished), 2);
    t.close();
    EXPECT_EQ(px::Table::open(tmp / "held.db", px::OpenMode::ReadOnly).rowCount(), 40u);
}

// Whichever call comes next tells a failed sync, with the text a synchronous one has; the
// rows it should have covered stay pending and are synced once the disk is back.
TEST(BackgroundSync, AFailureIsThrownByTheNextCallAndItsRowsAreSyncedAgain) {
    for (const char* next : {"appendRow", "startFlush", "flush"}) {
        SCOPED_TRACE(next);
        ScratchDir tmp;
        HeldSync sync;
        sync.fail = EIO;
        auto t = backgroundTable(tmp / "failing.db", sync);
        t.appendRow(readingRow(0)); // the first sync is due at once
        t.setSyncInterval(1 << 30);
        ASSERT_TRUE(sync.await([&] { return sync.finished == 1; }));

        std::string thrown;
        std::int64_t rows = 1;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (thrown.empty() && std::chrono::steady_clock::now() < deadline) {
            try {
                if (std::strcmp(next, "appendRow") == 0) {
                    t.appendRow(readingRow(rows));
                    ++rows;
                } else if (std::strcmp(next, "startFlush") == 0)
                    t.startFlush();
                else
                    t.flush();
            } catch (const px::Error& e) {
                thrown = e.what();
            }
        }
        EXPECT_EQ(thrown,
                  (tmp / "failing.db").string() + ": cannot flush to disk: " + std::strerror(EIO));
        EXPECT_EQ(t.rowCount(), static_cast<std::uint32_t>(rows)) << "the failing call wrote";
        EXPECT_TRUE(t.flushPending());
        // Told once: the next calls go on while the disk keeps failing.
        EXPECT_NO_THROW(t.appendRow(readingRow(rows)));
        EXPECT_NO_THROW(t.startFlush());

        // The retry startFlush began fails too, untold; the waiting flush syncs them all.
        ASSERT_TRUE(sync.await([&] { return sync.finished >= 2; }));
        EXPECT_EQ(sync.count(&HeldSync::succeeded), 0);
        sync.failWith(0);
        t.flush();
        EXPECT_FALSE(t.flushPending());
        EXPECT_GE(sync.count(&HeldSync::succeeded), 1) << "the failed rows were not synced again";
    }
}

// Closing, destroying or replacing a table waits for the sync in flight (whose descriptor
// stays open until it returns), then makes the rows appended meanwhile durable.
TEST(BackgroundSync, ClosingWaitsForTheSyncInFlightAndLeavesEveryRowDurable) {
    for (const char* how : {"close", "destructor", "move"}) {
        SCOPED_TRACE(how);
        ScratchDir tmp;
        HeldSync sync;
        sync.released = 0;
        std::optional<px::Table> t = backgroundTable(tmp / "closing.db", sync);
        for (int i = 0; i < 30; ++i)
            t->appendRow(readingRow(i));
        ASSERT_TRUE(sync.await([&] { return sync.entered == 1; }));

        std::atomic<bool> closing = false;
        std::thread releaser([&] {
            closing.wait(false);
            sync.release(2);
        });
        closing = true;
        closing.notify_one();
        if (std::strcmp(how, "close") == 0)
            t->close();
        else if (std::strcmp(how, "destructor") == 0)
            t.reset();
        else
            *t = px::Table();
        releaser.join();
        EXPECT_FALSE(sync.badDescriptor) << "a sync ran on a closed descriptor";
        EXPECT_EQ(sync.finished, 2) << "the rows appended during the sync were not synced";
        EXPECT_EQ(px::Table::open(tmp / "closing.db", px::OpenMode::ReadOnly).rowCount(), 30u);
    }
}

} // namespace
