// Writing tables and reading them back: every writable type, NULLs, limits, locking.
#include "TableTestSupport.h"
#include "record/paradox/CodePage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace rd780::test;

std::vector<px::Field> allFields() {
    return {{"Txt", px::FieldType::Alpha, 12},      {"Day", px::FieldType::Date, 0},
            {"Small", px::FieldType::Short, 0},     {"Big", px::FieldType::Long, 0},
            {"Money", px::FieldType::Currency, 0},  {"Num", px::FieldType::Number, 0},
            {"Flag", px::FieldType::Logical, 0},    {"Clock", px::FieldType::Time, 0},
            {"Stamp", px::FieldType::Timestamp, 0}, {"Id", px::FieldType::AutoInc, 0},
            {"Dec", px::FieldType::Bcd, 3}};
}

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const px::Error& e) {
        return e.what();
    }
    return {};
}

TEST(RoundTrip, EveryWritableTypeAndNull) {
    ScratchDir tmp;
    const auto file = tmp / "all.db";
    const std::vector<std::vector<px::Value>> rows = {
        {std::string("h\u00e9llo w\u00f6rld"), px::makeDate(2024, 2, 29), std::int64_t{32767},
         std::int64_t{2147483647}, 2514.65, 0.1, true, px::makeTime(23, 59, 59, 999),
         px::makeTimestamp(px::makeDate(1, 1, 1), px::makeTime(0, 0, 0)), std::int64_t{7}, 123.456},
        {std::string("x"), px::makeDate(1, 1, 1), std::int64_t{-32767}, std::int64_t{-2147483647},
         -0.01, -1e300, false, px::makeTime(0, 0, 0),
         px::makeTimestamp(px::makeDate(9999, 12, 31), px::makeTime(12, 34, 56, 789)),
         std::int64_t{8}, -0.001},
        {px::Null{}, px::Null{}, std::int64_t{0}, std::int64_t{0}, 0.0, -0.0, px::Null{},
         px::Null{}, px::Null{}, px::Null{}, 0.0},
        std::vector<px::Value>(11, px::Null{}),
    };
    {
        auto t = px::Table::create(file, allFields());
        for (const auto& r : rows)
            t.appendRow(r);
        t.close();
    }
    auto t = px::Table::open(file, px::OpenMode::ReadOnly);
    ASSERT_EQ(t.rowCount(), rows.size());
    ASSERT_EQ(t.fields().size(), 11u);
    EXPECT_EQ(t.fields()[0].size, 12);
    EXPECT_EQ(t.fields()[10].size, 3);
    for (std::uint32_t r = 0; r < 2; ++r)
        EXPECT_EQ(t.readRow(r), rows[r]) << "row " << r;

    // Zeros are values, not NULLs; a NULL autoincrement takes the next number.
    const auto zeros = t.readRow(2);
    EXPECT_TRUE(px::isNull(zeros[0]));
    EXPECT_EQ(zeros[2], px::Value(std::int64_t{0}));
    EXPECT_EQ(zeros[3], px::Value(std::int64_t{0}));
    EXPECT_EQ(zeros[4], px::Value(0.0));
    EXPECT_TRUE(std::signbit(std::get<double>(zeros[5])));
    EXPECT_EQ(zeros[9], px::Value(std::int64_t{9}));
    EXPECT_EQ(zeros[10], px::Value(0.0));
    const auto nulls = t.readRow(3);
    EXPECT_EQ(nulls[9], px::Value(std::int64_t{10}));
    for (size_t f = 0; f < 11; ++f)
        if (f != 9) {
            EXPECT_TRUE(px::isNull(nulls[f])) << "field " << f;
        }
}

// Texts round-trip in each code page. A byte the code page leaves undefined reads as U+FFFD,
// except in Windows Latin, where such a byte keeps its own number.
TEST(RoundTrip, CodePagesConvertTexts) {
    ScratchDir tmp;
    struct Case {
        int cp;
        std::string text;
        char undefined = 0; // written over the text's first byte on disk, when not 0
        std::string reads = {};
    };
    int n = 0;
    for (const Case& c :
         {Case{1252, "\u20ac \u00e9\u00df", '\x81', "\u0081 \u00e9\u00df"},
          Case{1250, "\u0160\u0165\u0159", '\x81', "\ufffd\u0165\u0159"},
          Case{1250, "\u20ac\u0104", '\x90', "\ufffd\u0104"}, Case{437, "\u00c7\u2591\u03c0"},
          Case{850, "\u00d8\u00e5\u00bd"}, Case{866, "\u041f\u0440\u0438\u0432\u0435\u0442"}}) {
        SCOPED_TRACE(c.cp);
        const auto file = tmp / ("cp" + std::to_string(c.cp) + "-" + std::to_string(++n) + ".db");
        px::CreateOptions opt;
        opt.codePage = c.cp;
        {
            auto t = px::Table::create(file, {{"T", px::FieldType::Alpha, 6}}, opt);
            t.appendRow({c.text});
            // A character the code page lacks is refused, not mangled.
            EXPECT_THROW(t.appendRow({std::string("\u4e2d")}), px::Error);
            EXPECT_EQ(t.rowCount(), 1u);
        }
        {
            auto t = px::Table::open(file, px::OpenMode::ReadOnly);
            EXPECT_EQ(t.codePage(), c.cp);
            EXPECT_EQ(t.readValue(0, 0), px::Value(c.text));
        }
        if (c.undefined == 0) continue;
        std::string encoded;
        ASSERT_TRUE(px::CodePage(c.cp, "").fromUtf8(c.text, encoded));
        std::string disk = readFile(file);
        const auto at = disk.find(encoded);
        ASSERT_NE(at, std::string::npos);
        disk[at] = c.undefined;
        writeFile(file, disk);
        EXPECT_EQ(px::Table::open(file, px::OpenMode::ReadOnly).readValue(0, 0),
                  px::Value(c.reads));
    }
}

TEST(RoundTrip, EveryByteOfWindowsLatinSurvives) {
    EXPECT_EQ(px::windows1252ToUtf8("\xB5V"), "\u00B5V");
    EXPECT_EQ(px::windows1252ToUtf8("\x80\x9F\xFF"), "\u20AC\u0178\u00FF");
    EXPECT_EQ(px::windows1252ToUtf8("\x81\x9D"), "\u0081\u009D");

    ScratchDir tmp;
    const auto file = tmp / "bytes.db";
    std::string bytes;
    for (int c = 1; c < 256; ++c)
        bytes += static_cast<char>(c);
    const std::string text = px::windows1252ToUtf8(bytes);
    {
        auto t = px::Table::create(file, {{"T", px::FieldType::Alpha, 255}});
        t.appendRow({text});
    }
    // The record holds the bytes themselves, and reads back as the same text.
    const std::string disk = readFile(file);
    EXPECT_NE(disk.find(bytes), std::string::npos);
    EXPECT_EQ(px::Table::open(file, px::OpenMode::ReadOnly).readValue(0, 0), px::Value(text));
}

TEST(RoundTrip, BadValuesAreRefusedAndWriteNothing) {
    ScratchDir tmp;
    const auto file = tmp / "bad.db";
    auto t = px::Table::create(file, allFields());
    auto row = t.blankRow();
    t.setField(row, "txt", std::string("0123456789ab"));
    t.setField(row, "SMALL", std::int64_t{1});
    t.appendRow(row);

    auto tooLong = row;
    t.setField(tooLong, "Txt", std::string("0123456789abc"));
    EXPECT_NE(messageOf([&] { t.appendRow(tooLong); }).find("longer"), std::string::npos);
    auto outOfRange = row;
    t.setField(outOfRange, "Small", std::int64_t{32768});
    EXPECT_THROW(t.appendRow(outOfRange), px::Error);
    auto wrongKind = row;
    t.setField(wrongKind, "Day", std::string("2020-01-01"));
    EXPECT_THROW(t.appendRow(wrongKind), px::Error);
    auto badTime = row;
    t.setField(badTime, "Clock", px::TimeOfDay{86'400'000});
    EXPECT_THROW(t.appendRow(badTime), px::Error);
    auto bigBcd = row;
    t.setField(bigBcd, "Dec", 1e40);
    EXPECT_THROW(t.appendRow(bigBcd), px::Error);
    EXPECT_THROW(t.appendRow({px::Null{}}), px::Error);
    EXPECT_NE(messageOf([&] { t.setField(row, "nope", px::Null{}); }).find("nope"),
              std::string::npos);
    EXPECT_EQ(t.rowCount(), 1u);
    t.close();
    EXPECT_EQ(px::Table::open(file, px::OpenMode::ReadOnly).rowCount(), 1u);
}

TEST(RoundTrip, CreateRefusesBadDefinitions) {
    ScratchDir tmp;
    const auto file = tmp / "def.db";
    EXPECT_THROW(px::Table::create(file, {}), px::Error);
    EXPECT_THROW(px::Table::create(file, {{"A", px::FieldType::Alpha, 0}}), px::Error);
    EXPECT_THROW(px::Table::create(file, {{"A", px::FieldType::Alpha, 256}}), px::Error);
    EXPECT_THROW(
        px::Table::create(file, {{"a", px::FieldType::Long, 0}, {"A", px::FieldType::Long, 0}}),
        px::Error);
    EXPECT_THROW(px::Table::create(file, {{"", px::FieldType::Long, 0}}), px::Error);
    EXPECT_THROW(
        px::Table::create(file, {{"A", px::FieldType::Long, 0}}, px::CreateOptions{5, 1252}),
        px::Error);
}

TEST(RoundTrip, ManyBlocksRandomAccessAndEmpty) {
    ScratchDir tmp;
    const auto file = tmp / "many.db";
    constexpr std::uint32_t kRows = 5000;
    {
        auto t = px::Table::create(file, readingFields(), px::CreateOptions{1, 1252});
        t.setSyncInterval(1 << 30);
        for (std::uint32_t i = 0; i < kRows; ++i)
            t.appendRow(readingRow(i));
        EXPECT_TRUE(t.flushPending());
        t.flush();
        EXPECT_FALSE(t.flushPending());
        // The same object reads what it appended, at both ends and in the middle.
        EXPECT_EQ(t.readRow(kRows - 1), readingRow(kRows - 1));
        EXPECT_EQ(t.readRow(0), readingRow(0));
    }
    auto t = px::Table::open(file, px::OpenMode::ReadWrite);
    ASSERT_EQ(t.rowCount(), kRows);
    EXPECT_EQ(t.blockSize(), 1024);
    for (std::uint32_t i : {4999u, 0u, 28u, 29u, 30u, 2500u, 1u})
        EXPECT_EQ(t.readRow(i), readingRow(i)) << i;
    t.emptyTable();
    EXPECT_EQ(t.rowCount(), 0u);
    EXPECT_THROW(t.readRow(0), px::Error);
    t.appendRow(readingRow(42));
    t.close();
    auto again = px::Table::open(file, px::OpenMode::ReadOnly);
    ASSERT_EQ(again.rowCount(), 1u);
    EXPECT_EQ(again.readRow(0), readingRow(42));
    EXPECT_LT(std::filesystem::file_size(file), 2048u + 2 * 1024u);
}

TEST(RoundTrip, RowsPerBlockLeaveRoomForTheBlockHeader) {
    // 1 KiB blocks: after the 6-byte header 512-byte records fit once, 340-byte ones twice,
    // although the whole block would take two and three.
    struct Case {
        std::vector<int> alphaSizes;
        std::uint32_t perBlock;
    };
    for (const Case& c : {Case{{255, 255, 2}, 1}, Case{{255, 85}, 2}, Case{{255, 255, 255, 253}, 1},
                          Case{{200, 139}, 3}}) {
        std::vector<px::Field> fields;
        int record = 0;
        for (size_t i = 0; i < c.alphaSizes.size(); ++i) {
            fields.push_back({"F" + std::to_string(i), px::FieldType::Alpha, c.alphaSizes[i]});
            record += c.alphaSizes[i];
        }
        SCOPED_TRACE(record);
        ScratchDir tmp;
        const auto file = tmp / "t.db";
        const std::uint32_t rows = 2 * c.perBlock + 1;
        auto rowOf = [&](std::uint32_t r) {
            std::vector<px::Value> row;
            for (int size : c.alphaSizes) // every byte used: a spill would overwrite a header
                row.emplace_back(
                    std::string(static_cast<size_t>(size), static_cast<char>('a' + r)));
            return row;
        };
        {
            auto t = px::Table::create(file, fields, px::CreateOptions{1, 1252});
            EXPECT_EQ(t.capacity(), std::uint64_t{c.perBlock} * 65535);
            for (std::uint32_t r = 0; r < rows; ++r)
                t.appendRow(rowOf(r));
        }
        const auto bytes = readFile(file);
        const size_t header = static_cast<unsigned char>(bytes[2]) |
                              static_cast<size_t>(static_cast<unsigned char>(bytes[3])) << 8;
        EXPECT_EQ(bytes.size(), header + 3 * 1024); // the third block holds the last row
        auto t = px::Table::open(file, px::OpenMode::ReadOnly);
        ASSERT_EQ(t.rowCount(), rows);
        for (std::uint32_t r = 0; r < rows; ++r)
            EXPECT_EQ(t.readRow(r), rowOf(r)) << r;
    }
}

TEST(RoundTrip, ReadingTableHoldsMoreThanTenMillionRows) {
    ScratchDir tmp;
    auto t = px::Table::create(tmp / "Kv400db.DB", readingFields());
    EXPECT_GT(t.capacity(), 10'000'000u);
}

TEST(RoundTrip, FullTableRefusesTheNextRowAndNeverWraps) {
    ScratchDir tmp;
    const auto file = tmp / "full.db";
    // One record per 1 KiB block: 65,535 rows fill every block number.
    std::vector<px::Field> wide;
    for (int i = 0; i < 4; ++i)
        wide.push_back({"W" + std::to_string(i), px::FieldType::Alpha, 250});
    auto t = px::Table::create(file, wide, px::CreateOptions{1, 1252});
    t.setSyncInterval(1 << 30);
    ASSERT_EQ(t.capacity(), 65535u);
    const std::vector<px::Value> row(4, std::string("x"));
    for (int i = 0; i < 65535; ++i)
        t.appendRow(row);
    const std::string msg = [&] {
        try {
            t.appendRow(row);
        } catch (const px::Error& e) {
            return std::string(e.what());
        }
        return std::string();
    }();
    EXPECT_NE(msg.find("table is full"), std::string::npos) << msg;
    EXPECT_NE(msg.find("full.db"), std::string::npos) << msg;
    EXPECT_EQ(t.rowCount(), 65535u);
    t.close();
    auto back = px::Table::open(file, px::OpenMode::ReadOnly);
    EXPECT_EQ(back.rowCount(), 65535u);
    EXPECT_EQ(back.readRow(65534), row);
}

TEST(Locking, OneWriterAtATime) {
    ScratchDir tmp;
    const auto file = tmp / "lock.db";
    auto writer = px::Table::create(file, readingFields());
    writer.appendRow(readingRow(1));
    const std::string msg = messageOf([&] { px::Table::open(file, px::OpenMode::ReadWrite); });
    EXPECT_NE(msg.find("lock.db"), std::string::npos) << msg;
    EXPECT_NE(msg.find("already open"), std::string::npos) << msg;
    // Creating over a table open for writing must not destroy it.
    EXPECT_THROW(px::Table::create(file, readingFields()), px::Error);
    EXPECT_EQ(px::Table::open(file, px::OpenMode::ReadOnly).rowCount(), 1u);
    writer.close();
    EXPECT_NO_THROW(px::Table::open(file, px::OpenMode::ReadWrite));
}

TEST(Keyed, AppendRefusedCopyMakesAnUnkeyedTable) {
    ScratchDir tmp;
    const auto file = tmp / "keyed.db";
    {
        auto t = px::Table::create(file, readingFields());
        t.appendRow(readingRow(1));
        t.appendRow(readingRow(2));
    }
    // Turn it into a keyed table the way other programs mark one (type 0, one key field).
    auto bytes = readFile(file);
    bytes[4] = 0;
    bytes[0x23] = 1;
    writeFile(file, bytes);

    auto t = px::Table::open(file, px::OpenMode::ReadWrite);
    EXPECT_TRUE(t.hasPrimaryIndex());
    const std::string msg = messageOf([&] { t.appendRow(readingRow(3)); });
    EXPECT_NE(msg.find("primary index"), std::string::npos) << msg;
    EXPECT_EQ(t.rowCount(), 2u);
    EXPECT_NE(messageOf([&] { t.emptyTable(); }).find("primary index"), std::string::npos);
    EXPECT_EQ(t.rowCount(), 2u);

    const auto copy = tmp / "copy.DB";
    t.copyTo(copy);
    EXPECT_THROW(t.copyTo(file), px::Error);
    auto c = px::Table::open(copy, px::OpenMode::ReadWrite);
    EXPECT_FALSE(c.hasPrimaryIndex());
    EXPECT_EQ(c.fields().size(), readingFields().size());
    for (size_t i = 0; i < c.fields().size(); ++i) {
        EXPECT_EQ(c.fields()[i].name, readingFields()[i].name);
        EXPECT_EQ(c.fields()[i].type, readingFields()[i].type);
    }
    ASSERT_EQ(c.rowCount(), 2u);
    EXPECT_EQ(c.readRow(1), readingRow(2));
    c.appendRow(readingRow(3));
    EXPECT_EQ(c.rowCount(), 3u);
}

TEST(Display, TextsOfValues) {
    EXPECT_EQ(px::displayText(px::Null{}), "\\N");
    EXPECT_EQ(px::displayText(px::makeTime(14, 5, 9, 7)), "14:05:09.007");
    EXPECT_EQ(px::formatTime(px::makeTime(14, 5, 9, 7), false), "14:05:09");
    EXPECT_EQ(px::displayText(px::makeDate(1988, 4, 3)), "1988-04-03");
    EXPECT_EQ(px::displayText(px::makeTimestamp(px::makeDate(2020, 2, 1), px::makeTime(1, 0, 1))),
              "2020-02-01 01:00:01.000");
    EXPECT_EQ(px::displayText(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(px::displayText(px::BlobSize{12}), "<12 bytes>");
    EXPECT_EQ(px::displayText(std::int64_t{-5}), "-5");
    int y, m, d;
    px::splitDate(px::makeDate(2000, 2, 29), y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20000229);
    EXPECT_EQ(px::makeDate(1, 1, 1).days, 1);
    EXPECT_THROW(px::makeTime(24, 0, 0), px::Error);
}

TEST(Display, MidnightStartsItsOwnDay) {
    const auto day = px::makeDate(2024, 3, 1);
    EXPECT_EQ(px::formatTimestamp(px::makeTimestamp(day, px::TimeOfDay{0})),
              "2024-03-01 00:00:00.000");
    EXPECT_EQ(px::formatTimestamp(px::makeTimestamp(day, px::TimeOfDay{1})),
              "2024-03-01 00:00:00.001");
    EXPECT_EQ(px::formatTimestamp(px::Timestamp{day.days * 86'400'000.0 - 1}),
              "2024-02-29 23:59:59.999");
}

TEST(Display, TimeOfDayRefusesEachFieldPastItsRange) {
    EXPECT_EQ(px::makeTime(23, 59, 59, 999).ms, 86'399'999);
    EXPECT_EQ(px::makeTime(0, 0, 0, 0).ms, 0);
    EXPECT_THROW(px::makeTime(0, 0, 60), px::Error);
    EXPECT_THROW(px::makeTime(0, 60, 0), px::Error);
    EXPECT_THROW(px::makeTime(0, 0, 0, 1000), px::Error);
    EXPECT_THROW(px::makeTime(-1, 0, 0), px::Error);
    EXPECT_THROW(px::makeTime(0, -1, 0), px::Error);
    EXPECT_THROW(px::makeTime(0, 0, -1), px::Error);
    EXPECT_THROW(px::makeTime(0, 0, 0, -1), px::Error);
    EXPECT_EQ(px::typeFromLetter('#'), px::FieldType::Bcd);
    EXPECT_EQ(px::typeLetter(px::FieldType::Timestamp), '@');
    EXPECT_THROW(px::typeFromLetter('Q'), px::Error);
}

} // namespace
