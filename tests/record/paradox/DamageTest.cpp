// Damaged and foreign files give errors naming the file and the problem, never a crash,
// a hang or a huge allocation.
#include "TableTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace rd780::test;

constexpr int kHeader = 2048, kBlock = 1024;

// A table of three chained 1 KiB blocks (the reading row is 34 bytes: 29 rows a block).
std::string goodTable(const std::filesystem::path& file) {
    auto t = px::Table::create(file, readingFields(), px::CreateOptions{1, 1252});
    for (int i = 0; i < 70; ++i)
        t.appendRow(readingRow(i));
    t.close();
    return readFile(file);
}

void put16(std::string& b, size_t at, unsigned v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}

// Opens the file and reads every row; returns the error text, or "" when all went well.
std::string openError(const std::filesystem::path& file) {
    try {
        auto t = px::Table::open(file, px::OpenMode::ReadOnly);
        for (std::uint32_t i = 0; i < t.rowCount(); ++i)
            t.readRow(i);
    } catch (const px::Error& e) {
        return e.what();
    }
    return {};
}

TEST(Damage, EachFaultGetsAClearError) {
    ScratchDir tmp;
    const auto file = tmp / "damaged.db";
    const std::string good = goodTable(file);
    ASSERT_EQ(good.size(), static_cast<size_t>(kHeader + 3 * kBlock));
    ASSERT_EQ(openError(file), "");

    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        const char* expect;
    };
    const std::vector<Case> cases = {
        {"empty file", [](std::string& b) { b.clear(); }, "too short"},
        {"cut in the header", [](std::string& b) { b.resize(300); }, "header size"},
        {"last block cut inside a record",
         [](std::string& b) { b.resize(kHeader + 2 * kBlock + 10); }, "ends inside block 3"},
        {"last block cut inside its header",
         [](std::string& b) { b.resize(kHeader + 2 * kBlock + 5); }, "beyond the end"},
        {"more rows counted than stored", [](std::string& b) { b[6] = 71; }, "counts 71 rows"},
        {"chain loops", [](std::string& b) { put16(b, kHeader + 2 * kBlock, 1); }, "loops"},
        {"chain points past the file", [](std::string& b) { put16(b, kHeader, 900); },
         "beyond the end"},
        {"ragged block size", [](std::string& b) { put16(b, kHeader + 4, 100); }, "not a multiple"},
        {"overfull block", [](std::string& b) { put16(b, kHeader + 4, 34 * 40); },
         "more than a block holds"},
        {"index file", [](std::string& b) { b[4] = 1; }, "index file"},
        {"bad block size", [](std::string& b) { b[5] = 5; }, "block size"},
        {"foreign version", [](std::string& b) { b[0x39] = 0x42; }, "version"},
        {"no fields", [](std::string& b) { put16(b, 0x21, 0); }, "field count"},
        {"unknown field type", [](std::string& b) { b[0x78] = 0x30; }, "type code"},
        {"record size disagrees", [](std::string& b) { put16(b, 0, 37); }, "bytes but records"},
        {"header larger than file", [](std::string& b) { put16(b, 2, 0xF000); }, "header size"},
        {"encrypted", [](std::string& b) { b[0x5C] = 1; }, "not supported"},
        {"field names run off the header",
         [](std::string& b) {
             const size_t names = 0x78 + 14 + 4 + 28 + 261;
             std::memset(b.data() + names, 'x', kHeader - names);
         },
         "field names"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = good;
        c.damage(bytes);
        writeFile(file, bytes);
        const std::string msg = openError(file);
        EXPECT_NE(msg.find("damaged.db"), std::string::npos) << msg;
        EXPECT_NE(msg.find(c.expect), std::string::npos) << msg;
    }
}

TEST(Damage, OneRowMoreThanCountedIsACrashLeftoverAndIsRepaired) {
    ScratchDir tmp;
    const auto file = tmp / "leftover.db";
    std::string bytes = goodTable(file);
    bytes[6] = 69; // header written before the last row was counted
    writeFile(file, bytes);
    EXPECT_EQ(px::Table::open(file, px::OpenMode::ReadOnly).rowCount(), 70u);
    px::Table::open(file, px::OpenMode::ReadWrite).close();
    EXPECT_EQ(static_cast<unsigned char>(readFile(file)[6]), 70);
}

TEST(Damage, RandomCorruptionNeverCrashes) {
    ScratchDir tmp;
    const auto file = tmp / "random.db";
    const std::string good = goodTable(file);
    std::mt19937 rng(7);
    int failures = 0;
    for (int round = 0; round < 800; ++round) {
        std::string bytes = good;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < flips; ++i) {
            // Mostly the header's numbers and the block headers, where damage matters most.
            const size_t at = rng() % 3 == 0 ? rng() % 0x80
                              : rng() % 2    ? kHeader + (rng() % 3) * kBlock + rng() % 6
                                             : rng() % bytes.size();
            bytes[at] = static_cast<char>(rng());
        }
        if (rng() % 8 == 0) bytes.resize(rng() % bytes.size());
        writeFile(file, bytes);
        if (!openError(file).empty()) ++failures;
    }
    EXPECT_GT(failures, 50);
}

TEST(Damage, DirectoryAndMissingFile) {
    ScratchDir tmp;
    EXPECT_NE(openError(tmp.path()).find("regular file"), std::string::npos);
    EXPECT_NE(openError(tmp / "none.db").find("none.db"), std::string::npos);
}

} // namespace
