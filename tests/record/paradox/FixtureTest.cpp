// Tables written by other programs, read by rd780-table and compared with the dumps of an
// independent reader.
#include "TableTestSupport.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <sys/wait.h>

namespace {

using namespace rd780::test;

std::filesystem::path fixtures() {
    return std::filesystem::path(rd780::test::fixtureDir().toStdString());
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    auto out = split(text, '\n');
    if (!out.empty() && out.back().empty()) out.pop_back();
    return out;
}

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun runTool(const std::filesystem::path& file) {
    const std::string cmd =
        std::string(RD780_BINARY_DIR) + "/tools/rd780-table '" + file.string() + "' 2>&1";
    ToolRun r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// The dump names each column "name:TYPE(code)"; the code starts with the Paradox type letter.
struct Column {
    std::string name;
    std::string type;
};

Column parseColumn(const std::string& head) {
    const auto colon = head.rfind(':');
    const auto paren = head.find('(', colon);
    return {head.substr(0, colon), head.substr(colon + 1, paren - colon - 1)};
}

// Compares one cell the tool printed with the dump's cell of the same column.
void expectCell(const Column& col, const std::string& ours, const std::string& theirs,
                const std::string& where) {
    SCOPED_TRACE(where + " column " + col.name);
    if (theirs == "\\N") {
        EXPECT_EQ(ours, "\\N");
        return;
    }
    if (col.type == "NUMBER" || col.type == "BCD") {
        EXPECT_EQ(std::stod(ours), std::stod(theirs)) << ours << " vs " << theirs;
    } else if (col.type == "CURRENCY") {
        // The dump rounds money to 10 decimal places first.
        const double v = std::stod(ours);
        EXPECT_NEAR(std::round(v * 1e10) / 1e10, std::stod(theirs), 1e-9 + std::fabs(v) * 1e-15);
    } else if (col.type == "MEMO") {
        // We report the stored length; the dump holds the text (ASCII in every fixture).
        EXPECT_EQ(ours, "<" + std::to_string(unescape(theirs).size()) + " bytes>");
    } else {
        EXPECT_EQ(ours, theirs);
    }
}

TEST(Fixtures, ToolAgreesWithEveryDump) {
    const auto dir = fixtures();
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        const std::string suffix = ".expected.tsv";
        if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix)
            continue;
        const auto table = dir / name.substr(0, name.size() - suffix.size());
        SCOPED_TRACE(table.filename().string());
        const auto expected = lines(readFile(entry.path()));
        ASSERT_FALSE(expected.empty());
        const ToolRun run = runTool(table);
        if (table.filename() == "encrypted.db") {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.out.find("encrypted.db"), std::string::npos) << run.out;
            EXPECT_NE(run.out.find("not supported"), std::string::npos) << run.out;
            ++compared;
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.out;
        const auto got = lines(run.out);
        ASSERT_EQ(got.size(), expected.size()) << run.out;
        std::vector<Column> cols;
        for (const auto& h : split(expected[0], '\t'))
            cols.push_back(parseColumn(h));
        const auto names = split(got[0], '\t');
        ASSERT_EQ(names.size(), cols.size());
        for (size_t c = 0; c < cols.size(); ++c)
            EXPECT_EQ(names[c], cols[c].name);
        for (size_t r = 1; r < expected.size(); ++r) {
            const auto ours = split(got[r], '\t');
            const auto theirs = split(expected[r], '\t');
            ASSERT_EQ(ours.size(), cols.size()) << got[r];
            ASSERT_EQ(theirs.size(), cols.size());
            for (size_t c = 0; c < cols.size(); ++c)
                expectCell(cols[c], ours[c], theirs[c], "row " + std::to_string(r));
        }
        ++compared;
    }
    EXPECT_GE(compared, 16);
}

TEST(Fixtures, KeyedTablesCodePagesAndTypes) {
    const auto dir = fixtures();
    namespace px = rd780::paradox;

    auto orders = px::Table::open(dir / "ORDERS.DB", px::OpenMode::ReadOnly);
    EXPECT_TRUE(orders.hasPrimaryIndex());
    EXPECT_EQ(orders.codePage(), 437);
    EXPECT_EQ(orders.rowCount(), 224u);
    EXPECT_EQ(orders.fieldIndex("total invoice"), 5);
    EXPECT_EQ(orders.fields()[5].type, px::FieldType::Currency);
    EXPECT_EQ(orders.fieldIndex("nope"), -1);
    EXPECT_THROW(orders.requireField("nope"), px::Error);
    // Random access agrees with a walk in order.
    const auto last = orders.readRow(223);
    for (std::uint32_t r = 0; r < 224; ++r)
        orders.readRow(r);
    EXPECT_EQ(orders.readRow(223), last);
    EXPECT_THROW(orders.readRow(224), px::Error);

    auto contacts = px::Table::open(dir / "CONTACTS.DB", px::OpenMode::ReadOnly);
    EXPECT_FALSE(contacts.hasPrimaryIndex());

    auto roman = px::Table::open(dir / "ROMAN8.db", px::OpenMode::ReadOnly);
    EXPECT_EQ(roman.readValue(0, 0), px::Value(std::string("\u0160\u00BD\u0192\u00B6")));

    auto bcd = px::Table::open(dir / "bcd.db", px::OpenMode::ReadOnly);
    EXPECT_EQ(bcd.fields()[2].size, 32);
    EXPECT_EQ(bcd.readValue(1, 0), px::Value(-1.23));

    auto stamps = px::Table::open(dir / "timestamp.db", px::OpenMode::ReadOnly);
    const auto ts = std::get<px::Timestamp>(stamps.readValue(1, 0));
    EXPECT_EQ(ts, px::makeTimestamp(px::makeDate(2020, 2, 1), px::makeTime(1, 0, 1)));
}

TEST(Fixtures, CopiesKeepTextsAndRefuseMemoData) {
    const auto dir = fixtures();
    namespace px = rd780::paradox;
    ScratchDir tmp;

    // HP Roman-8 has no code page number: the copy is written as 1252 with the same text.
    px::Table::open(dir / "ROMAN8.db", px::OpenMode::ReadOnly).copyTo(tmp / "roman.db");
    auto roman = px::Table::open(tmp / "roman.db", px::OpenMode::ReadOnly);
    EXPECT_EQ(roman.codePage(), 1252);
    EXPECT_EQ(roman.readValue(0, 0), px::Value(std::string("\u0160\u00BD\u0192\u00B6")));

    // A keyed table with 224 rows copies into an unkeyed one in the same order.
    auto orders = px::Table::open(dir / "ORDERS.DB", px::OpenMode::ReadOnly);
    orders.copyTo(tmp / "orders.db");
    auto copy = px::Table::open(tmp / "orders.db", px::OpenMode::ReadOnly);
    EXPECT_FALSE(copy.hasPrimaryIndex());
    ASSERT_EQ(copy.rowCount(), 224u);
    for (std::uint32_t r = 0; r < 224; r += 37)
        EXPECT_EQ(copy.readRow(r), orders.readRow(r));

    // Bytes live in the record and copy; memo text lives in the .MB file and does not.
    px::Table::open(dir / "bytes.db", px::OpenMode::ReadOnly).copyTo(tmp / "bytes.db");
    EXPECT_EQ(px::Table::open(tmp / "bytes.db", px::OpenMode::ReadOnly).readValue(0, 0),
              px::Value(px::BlobSize{255}));
    auto memo = px::Table::open(dir / "memo.db", px::OpenMode::ReadOnly);
    try {
        memo.copyTo(tmp / "memo.db");
        ADD_FAILURE() << "memo data copied without its .MB file";
    } catch (const px::Error& e) {
        EXPECT_NE(std::string(e.what()).find("memo"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(tmp / "memo.db"));
}

// The end of the last block in the file, as far as its header counts records.
size_t endOfRecords(const std::string& bytes) {
    auto u16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(bytes[at]) |
                                   static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    const size_t record = u16(0), header = u16(2);
    const size_t block = static_cast<size_t>(static_cast<unsigned char>(bytes[5])) * 1024;
    const size_t last = header + ((bytes.size() - header) / block - 1) * block;
    const auto add = static_cast<std::int16_t>(u16(last + 4));
    return last + 6 + (add < 0 ? 0 : static_cast<size_t>(add) + record);
}

TEST(Fixtures, FileEndingInsideItsLastBlockKeepsEveryRecord) {
    namespace px = rd780::paradox;
    ScratchDir tmp;
    for (const char* name : {"ORDERS.DB", "CONTACTS.DB", "CUSTOMER.DB"}) {
        SCOPED_TRACE(name);
        const std::string whole = readFile(fixtures() / name);
        const size_t end = endOfRecords(whole);
        ASSERT_LT(end, whole.size()); // the cut takes something away
        const auto cut = tmp / (std::string("cut-") + name);
        writeFile(cut, whole.substr(0, end));
        const ToolRun full = runTool(fixtures() / name);
        const ToolRun part = runTool(cut);
        ASSERT_EQ(part.status, 0) << part.out;
        EXPECT_EQ(part.out, full.out);

        // One byte less and the last record is gone: refused, saying where.
        writeFile(cut, whole.substr(0, end - 1));
        const ToolRun broken = runTool(cut);
        EXPECT_EQ(broken.status, 1);
        EXPECT_NE(broken.out.find("ends inside block"), std::string::npos) << broken.out;
    }

    // Appending first fills the short block out to its full size.
    const std::string whole = readFile(fixtures() / "CONTACTS.DB");
    const auto cut = tmp / "contacts.db";
    writeFile(cut, whole.substr(0, endOfRecords(whole)));
    auto original = px::Table::open(fixtures() / "CONTACTS.DB", px::OpenMode::ReadOnly);
    const auto fields = original.fields();
    std::vector<px::Value> added;
    for (size_t f = 0; f < fields.size(); ++f)
        added.emplace_back(std::string("new ") + std::to_string(f));
    {
        auto t = px::Table::open(cut, px::OpenMode::ReadWrite);
        ASSERT_EQ(t.rowCount(), original.rowCount());
        t.appendRow(added);
        t.close();
    }
    EXPECT_EQ(readFile(cut).size(), whole.size());
    auto t = px::Table::open(cut, px::OpenMode::ReadOnly);
    ASSERT_EQ(t.rowCount(), original.rowCount() + 1);
    for (std::uint32_t r = 0; r < original.rowCount(); ++r)
        EXPECT_EQ(t.readRow(r), original.readRow(r)) << r;
    EXPECT_EQ(t.readRow(original.rowCount()), added);
}

TEST(Fixtures, CopyOverAKeyedTableRemovesItsIndexFilesOnly) {
    namespace px = rd780::paradox;
    ScratchDir tmp;
    const std::string keyed = readFile(fixtures() / "ORDERS.DB");
    const std::string index = readFile(fixtures() / "ORDERS.PX");
    writeFile(tmp / "Sales.db", keyed);
    for (const char* name : {"Sales.PX", "SALES.X02", "sales.YG1", "Sales.xgf"})
        writeFile(tmp / name, index);
    const std::vector<std::string> others = {"Sales.MB",  "Sales.VAL", "Sales2.PX", "Sales.PXX",
                                             "Sales.txt", "Other.PX",  "Sales.X0G", "Sales.Z01",
                                             "KEEP.DB",   "KEEP.PX"};
    for (const auto& name : others)
        writeFile(tmp / name, "not ours");

    auto orders = px::Table::open(fixtures() / "ORDERS.DB", px::OpenMode::ReadOnly);
    orders.copyTo(tmp / "Sales.db");
    for (const char* name : {"Sales.PX", "SALES.X02", "sales.YG1", "Sales.xgf"})
        EXPECT_FALSE(std::filesystem::exists(tmp / name)) << name;
    for (const auto& name : others)
        EXPECT_EQ(readFile(tmp / name), "not ours") << name;
    auto copy = px::Table::open(tmp / "Sales.db", px::OpenMode::ReadOnly);
    EXPECT_FALSE(copy.hasPrimaryIndex());
    EXPECT_EQ(copy.rowCount(), 224u);

    // KEEP.PX belongs to KEEP.DB, which stays, not to the new Keep.db beside it.
    orders.copyTo(tmp / "Keep.db");
    EXPECT_EQ(readFile(tmp / "KEEP.PX"), "not ours");
}

TEST(Tool, NamesFilesThatAreNoParadoxFileAtAll) {
    ScratchDir tmp;
    std::string text;
    while (text.size() < 4096)
        text += "Just a line of text, 0123456789.\n";
    writeFile(tmp / "notes.db", text);
    const std::filesystem::path tool = std::string(RD780_BINARY_DIR) + "/tools/rd780-table";
    for (const auto& file : {tmp / "notes.db", tool}) {
        const ToolRun run = runTool(file);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("is not a Paradox table"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("index"), std::string::npos) << run.out;
    }
    // A real primary index is still called one.
    const ToolRun index = runTool(fixtures() / "ORDERS.PX");
    EXPECT_EQ(index.status, 1);
    EXPECT_NE(index.out.find("is an index file"), std::string::npos) << index.out;
}

TEST(Tool, ReportsMissingFileAndUsage) {
    ScratchDir tmp;
    const ToolRun run = runTool(tmp / "missing.db");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("missing.db"), std::string::npos) << run.out;
}

TEST(Tool, EscapesTextAndPrintsOurTypes) {
    namespace px = rd780::paradox;
    ScratchDir tmp;
    const auto file = tmp / "t.db";
    {
        auto t = px::Table::create(file, {{"Txt", px::FieldType::Alpha, 20},
                                          {"N", px::FieldType::Number, 0},
                                          {"D", px::FieldType::Date, 0},
                                          {"L", px::FieldType::Logical, 0}});
        t.appendRow({std::string("a\\b\tc\r\nd\u00e9"), 0.1, px::makeDate(1999, 12, 31), true});
        t.appendRow({px::Null{}, -2.5e-300, px::Null{}, false});
        t.close();
    }
    const ToolRun run = runTool(file);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "Txt\tN\tD\tL\n"
                       "a\\\\b\\tc\\r\\nd\u00e9\t0.1\t1999-12-31\ttrue\n"
                       "\\N\t-2.5e-300\t\\N\tfalse\n");
}

} // namespace
