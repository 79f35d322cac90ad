// Creating and opening tables where the folder holds something unexpected: a symbolic link,
// a FIFO, a table in use, a disk that fills during creation.
#include "TableTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using namespace rd780::test;

bool refused(const std::function<void()>& f, const std::string& needle) {
    try {
        f();
    } catch (const px::Error& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(needle), std::string::npos) << what;
        return true;
    }
    return false;
}

std::vector<std::string> namesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs f on a thread and waits for it with a watchdog. If f blocks in open() on the FIFO,
// opening the other end releases it, so the test ends either way.
bool finishesAtOnce(const std::filesystem::path& fifo, const std::function<void()>& f) {
    auto done = std::async(std::launch::async, f);
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
        done.get();
        return true;
    }
    const int rd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int wr = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    done.wait();
    if (wr >= 0) ::close(wr);
    if (rd >= 0) ::close(rd);
    return false;
}

TEST(SafeCreate, SymbolicLinksAreNeverWrittenThrough) {
    ScratchDir d;
    // A dangling link: nothing may appear where it points.
    std::filesystem::create_symlink(d / "elsewhere.db", d / "Kv400db.DB");
    EXPECT_TRUE(
        refused([&] { px::Table::create(d / "Kv400db.DB", readingFields()); }, "symbolic link"));
    EXPECT_FALSE(std::filesystem::exists(d / "elsewhere.db"));
    EXPECT_TRUE(std::filesystem::is_symlink(d / "Kv400db.DB"));

    // A link to a real table: neither replaced nor opened for writing through the link;
    // reading through it is harmless.
    {
        auto t = px::Table::create(d / "real.db", readingFields());
        t.appendRow(readingRow(1));
    }
    std::filesystem::create_symlink(d / "real.db", d / "link.db");
    EXPECT_TRUE(
        refused([&] { px::Table::create(d / "link.db", readingFields()); }, "symbolic link"));
    EXPECT_TRUE(
        refused([&] { px::Table::open(d / "link.db", px::OpenMode::ReadWrite); }, "symbolic link"));
    EXPECT_EQ(px::Table::open(d / "link.db", px::OpenMode::ReadOnly).rowCount(), 1u);
    EXPECT_EQ(px::Table::open(d / "real.db", px::OpenMode::ReadOnly).rowCount(), 1u);
    EXPECT_EQ(namesIn(d.path()), (std::vector<std::string>{"Kv400db.DB", "link.db", "real.db"}))
        << "no temporary file is left behind";
}

TEST(SafeCreate, FifosAndDevicesAreRefusedAtOnce) {
    ScratchDir d;
    const auto fifo = d / "Kv400db.DB";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (auto mode : {px::OpenMode::ReadOnly, px::OpenMode::ReadWrite}) {
        bool wasRefused = false;
        EXPECT_TRUE(finishesAtOnce(fifo, [&] {
            wasRefused = refused([&] { px::Table::open(fifo, mode); }, "not a regular file");
        }));
        EXPECT_TRUE(wasRefused);
    }
    bool wasRefused = false;
    EXPECT_TRUE(finishesAtOnce(fifo, [&] {
        wasRefused =
            refused([&] { px::Table::create(fifo, readingFields()); }, "not a regular file");
    }));
    EXPECT_TRUE(wasRefused) << "a FIFO is not replaced either";
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(refused([] { px::Table::open("/dev/null", px::OpenMode::ReadOnly); },
                        "not a regular file"));

    // The dump tool exits 1 at once with the reason.
    const std::string cmd = "timeout 10 " + std::string(RD780_BINARY_DIR) + "/tools/rd780-table '" +
                            fifo.string() + "' 2>&1";
    const auto start = std::chrono::steady_clock::now();
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int st = ::pclose(p);
    EXPECT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 1) << out;
    EXPECT_NE(out.find("not a regular file"), std::string::npos) << out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SafeCreate, AFailedCreationLeavesNoHalfTableAndTheOldOneIntact) {
    ScratchDir d;
    const auto file = d / "Kv400db.DB";
    {
        auto t = px::Table::create(file, readingFields());
        t.appendRow(readingRow(7));
    }
    const auto sizeBefore = std::filesystem::file_size(file);
    // A disk that fills while the header is written: writes beyond 1000 bytes fail.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    rlimit small = oldLimit;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool failed =
        refused([&] { px::Table::create(file, readingFields()); }, "cannot write the new table");
    const bool failedNew = refused([&] { px::Table::create(d / "new.db", readingFields()); },
                                   "cannot write the new table");
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(failedNew);
    EXPECT_EQ(std::filesystem::file_size(file), sizeBefore) << "the old table is untouched";
    EXPECT_EQ(px::Table::open(file, px::OpenMode::ReadOnly).rowCount(), 1u);
    EXPECT_FALSE(std::filesystem::exists(d / "new.db")) << "no zero-length table appears";
    EXPECT_EQ(namesIn(d.path()), std::vector<std::string>{"Kv400db.DB"});
}

TEST(SafeCreate, ATableInUseIsNotReplacedAndAFreeOneIs) {
    ScratchDir d;
    const auto file = d / "t.db";
    auto held = px::Table::create(file, readingFields());
    held.appendRow(readingRow(1));
    EXPECT_TRUE(refused([&] { px::Table::create(file, readingFields()); }, "already open"));
    EXPECT_EQ(held.rowCount(), 1u);
    held.close();
    EXPECT_EQ(px::Table::open(file, px::OpenMode::ReadOnly).rowCount(), 1u);
    auto fresh = px::Table::create(file, readingFields());
    EXPECT_EQ(fresh.rowCount(), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(namesIn(d.path()), std::vector<std::string>{"t.db"});
}

} // namespace
