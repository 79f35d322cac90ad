// The reading table on disk, its text and table exports, the grid model and the report.
#include "base/Guard.h"
#include "record/ReadingTable.h"
#include "record/ReadingTableModel.h"
#include "record/ReportLayout.h"
#include "record/TableExport.h"

#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

namespace rd780 {
namespace {

namespace px = paradox;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

ReadingRow row(int no, int32_t ms, const std::string& value, const std::string& unit,
               const std::string& coupling = "DC", const std::string& autoFlag = "") {
    ReadingRow r;
    r.No = no;
    r.TimeMs = ms;
    r.Value = value;
    r.Unit = unit;
    r.Coupling = coupling;
    r.Auto = autoFlag;
    r.Nval = no * 1.25;
    return r;
}

struct TableFiles : ::testing::Test {
    QTemporaryDir dir;
    std::string at(const char* name) { return dir.filePath(name).toStdString(); }
    ReadingTable table;
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        table.openOrCreate(at("Kv400db.DB"));
    }
};

TEST_F(TableFiles, RowsAreOnDiskAtOnceAndTheFileIsOurs) {
    table.appendReading(row(1, 50'709'000, "00.66", " V"));
    table.appendReading(row(3, 50'710'500, "-1.234", "k*", "", "AUTO"));
    // Another reader sees both rows while we still hold the table.
    px::Table other = px::Table::open(at("Kv400db.DB"), px::OpenMode::ReadOnly);
    ASSERT_EQ(other.rowCount(), 2u);
    std::vector<px::Value> r = other.readRow(1);
    EXPECT_EQ(std::get<int64_t>(r[size_t(other.fieldIndex("No"))]), 3);
    EXPECT_EQ(std::get<std::string>(r[size_t(other.fieldIndex("Unit"))]), "k*");
    EXPECT_TRUE(px::isNull(r[size_t(other.fieldIndex("DC/AC"))]));
    EXPECT_EQ(std::get<double>(r[size_t(other.fieldIndex("Nval"))]), 3.75);
    EXPECT_EQ(table.displayRow(1, true),
              (std::vector<std::string>{"3", "14:05:10", "", "-1.234", "k*", "AUTO"}));

    // A second holder, in this process or another, is refused with a clear error.
    ReadingTable second;
    EXPECT_THROW(second.openOrCreate(at("Kv400db.DB")), std::exception);
}

TEST_F(TableFiles, FieldsHoldTheLongestDecoderTexts) {
    table.appendReading(row(1, 0, "-0.0.0.0", "MDuty", "AC", "AUTO"));
    EXPECT_EQ(table.displayRow(0, true)[3], "-0.0.0.0");
    EXPECT_EQ(table.displayRow(0, true)[4], "MDuty");
}

TEST_F(TableFiles, FailedOpenKeepsTheTableWeHad) {
    table.appendReading(row(1, 0, "1", " V"));
    EXPECT_THROW(table.open(at("missing.DB")), std::exception);
    ASSERT_TRUE(table.isOpen());
    table.appendReading(row(2, 0, "2", " V"));
    EXPECT_EQ(table.rowCount(), 2);
}

TEST_F(TableFiles, TextExportMatchesByteForByte) {
    table.appendReading(row(1, (14 * 3600 + 5 * 60 + 9) * 1000 + 250, "00.66", " V"));
    table.appendReading(row(4, 0, "-1.234", "k*", "", "AUTO"));
    std::string error;
    ASSERT_TRUE(writeTableText(table, at("out.xls"), &error)) << error;
    EXPECT_EQ(slurp(at("out.xls")), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"
                                    "1\t14:05:09\tDC\t00.66\t V\t\r\n"
                                    "4\t00:00:00\t\t-1.234\tk*\tAUTO\r\n");
    // Same format whatever the extension; an existing file is replaced.
    ASSERT_TRUE(writeTableText(table, at("out.txt"), &error));
    EXPECT_EQ(slurp(at("out.txt")), slurp(at("out.xls")));
    ASSERT_TRUE(writeTableText(table, at("out.txt"), &error));
    EXPECT_EQ(slurp(at("out.txt")), slurp(at("out.xls")));
}

TEST_F(TableFiles, MeterBytesThatAreNoUtf8AreRecordedShownAndExported) {
    // The decoder hands over the display's bytes: 0xFF in an overload, 0xB5 as the prefix.
    table.appendReading(row(1, 0, "\xFF\xFF.\xFF", "\xB5V"));
    table.appendReading(row(2, 1000, "1.000", "\x81\x8D"));
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.displayRow(0, true)[3], "\u00FF\u00FF.\u00FF");
    EXPECT_EQ(table.displayRow(0, true)[4], "\u00B5V");
    // On disk they are the meter's bytes, each in place.
    const std::string disk = slurp(at("Kv400db.DB"));
    EXPECT_NE(disk.find("\xFF\xFF.\xFF"), std::string::npos);
    EXPECT_NE(disk.find(std::string("\xB5V\0", 3)), std::string::npos);
    EXPECT_NE(disk.find(std::string("\x81\x8D\0", 3)), std::string::npos);
    std::string error;
    ASSERT_TRUE(writeTableText(table, at("out.txt"), &error)) << error;
    EXPECT_EQ(slurp(at("out.txt")), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"
                                    "1\t00:00:00\tDC\t\u00FF\u00FF.\u00FF\t\u00B5V\t\r\n"
                                    "2\t00:00:01\tDC\t1.000\t\u0081\u008D\t\r\n");
}

TEST_F(TableFiles, EmptyTableExportsTheHeaderOnly) {
    std::string error;
    ASSERT_TRUE(writeTableText(table, at("empty.txt"), &error));
    EXPECT_EQ(slurp(at("empty.txt")), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n");
}

TEST_F(TableFiles, UnwritableTargetsFail) {
    for (int i = 0; i < 3000; ++i)
        table.appendReading(row(i, 0, "1", " V")); // past one buffer
    std::string error;
    EXPECT_FALSE(writeTableText(table, "/dev/full", &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(writeTableText(table, at("no/such/folder/x.txt"), &error));
    EXPECT_FALSE(error.empty());
    // Never text into the table being recorded.
    EXPECT_THROW(writeTableText(table, at("Kv400db.DB"), &error), AppError);
    EXPECT_THROW(writeTableCopy(table, at("Kv400db.DB")), AppError);
    EXPECT_EQ(table.rowCount(), 3000);
}

TEST_F(TableFiles, TableWithoutTheColumnsIsNotExported) {
    px::Table::create(at("other.DB"), {{"Name", px::FieldType::Alpha, 10}}).close();
    table.open(at("other.DB"));
    std::string error;
    EXPECT_THROW(writeTableText(table, at("x.txt"), &error), std::exception);
    EXPECT_FALSE(QFile::exists(dir.filePath("x.txt")));
    EXPECT_THROW(table.appendReading(row(1, 0, "1", " V")), std::exception);
}

TEST_F(TableFiles, TableExportCopiesEveryRowWithoutIndex) {
    for (int i = 1; i <= 50; ++i)
        table.appendReading(row(i, i * 1000, std::to_string(i), "mV"));
    writeTableCopy(table, at("copy.db"));
    px::Table copy = px::Table::open(at("copy.db"), px::OpenMode::ReadOnly);
    EXPECT_FALSE(copy.hasPrimaryIndex());
    ASSERT_EQ(copy.rowCount(), 50u);
    ASSERT_EQ(copy.fields().size(), table.table().fields().size());
    for (uint32_t i = 0; i < 50; ++i)
        EXPECT_EQ(copy.readRow(i), table.table().readRow(i));
}

TEST(TableFileNames, DbInAnyCaseIsATable) {
    for (const char* n : {"a.db", "a.DB", "/x/y.Db", "a.dB", ".db"})
        EXPECT_TRUE(isTableFileName(n)) << n;
    for (const char* n : {"a.dbf", "a.xls", "a", "/x.db/y", "a.d", "adb"})
        EXPECT_FALSE(isTableFileName(n)) << n;
}

TEST_F(TableFiles, GridReadsOnlyWhatIsShownAndFollowsAppends) {
    for (int i = 0; i < 5000; ++i)
        table.appendReading(row(i + 1, 0, std::to_string(i), "*"));
    ReadingTableModel model(table);
    ASSERT_EQ(model.rowCount(), 5000);
    EXPECT_EQ(model.rowsRead(), 0u); // opening reads no rows
    EXPECT_EQ(model.data(model.index(4999, 3), Qt::DisplayRole).toString(), "4999");
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), "1");
    EXPECT_EQ(model.data(model.index(10, 4), Qt::DisplayRole).toString(), QStringLiteral("Ω"));
    EXPECT_LE(model.rowsRead(), uint64_t(2 * ReadingTableModel::ChunkRows));
    EXPECT_EQ(model.headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), "AUTO");
    EXPECT_EQ(model.data(model.index(0, 3), Qt::TextAlignmentRole).value<Qt::Alignment>(),
              Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    table.appendReading(row(9000, 0, "new", "mV"));
    model.refresh();
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 5000);
    EXPECT_EQ(model.data(model.index(5000, 3), Qt::DisplayRole).toString(), "new");
    // Each row appended while recording is read once; the rows before it are not read again.
    const uint64_t read = model.rowsRead();
    for (int i = 1; i <= 3; ++i) {
        table.appendReading(row(9000 + i, 0, "new" + std::to_string(i), "mV"));
        model.refresh();
        EXPECT_EQ(model.data(model.index(4999 + i, 3), Qt::DisplayRole).toString(),
                  QString("new%1").arg(i - 1).replace("new0", "new"));
        EXPECT_EQ(model.data(model.index(5000 + i, 3), Qt::DisplayRole).toString(),
                  QString("new%1").arg(i));
    }
    EXPECT_EQ(model.rowsRead() - read, 3u);
    EXPECT_EQ(reset.count(), 0);
    table.emptyTable();
    model.refresh();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(ReportLayoutTest, BandsAndPages) {
    EXPECT_EQ(ReportLayout(0).pageCount(), 0);
    ReportLayout one(1);
    const int perPage = one.rowsPerPage();
    EXPECT_EQ(perPage, 37); // (277 - 3 x 10.6) / 6.6
    EXPECT_EQ(ReportLayout(perPage).pageCount(), 1);
    EXPECT_EQ(ReportLayout(perPage + 1).pageCount(), 2);

    ReportLayout layout(perPage + 2);
    auto rows = [](int64_t r) {
        return std::vector<std::string>{std::to_string(r + 1), "12:00:00", "AC", "1.5", "k*", ""};
    };
    auto find = [](const std::vector<ReportText>& texts, const std::string& t) {
        for (const auto& x : texts)
            if (x.text == t) return x;
        return ReportText{-1, -1, "", ReportFont::Base};
    };
    std::vector<ReportText> p1 = layout.page(0, rows);
    ReportText title = find(p1, "The Data Print Title");
    EXPECT_DOUBLE_EQ(title.xMm, 87.3);
    EXPECT_DOUBLE_EQ(title.yMm, 12.1);
    ReportText dcac = find(p1, "DC/AC");
    EXPECT_DOUBLE_EQ(dcac.xMm, 74.3);
    EXPECT_DOUBLE_EQ(dcac.yMm, 24.8);
    EXPECT_EQ(dcac.font, ReportFont::Arial);
    ReportText first = find(p1, "1");
    EXPECT_DOUBLE_EQ(first.xMm, 18.5);
    EXPECT_DOUBLE_EQ(first.yMm, 33.3);
    EXPECT_EQ(first.font, ReportFont::Arial);
    ReportText second = find(p1, "2");
    EXPECT_NEAR(second.yMm - first.yMm, 6.6, 1e-9);
    ReportText unit = find(p1, "kΩ");
    EXPECT_DOUBLE_EQ(unit.xMm, 141.2);
    EXPECT_EQ(unit.font, ReportFont::Base);
    ReportText foot = find(p1, "The Data Print Foot");
    EXPECT_DOUBLE_EQ(foot.xMm, 18.5);
    EXPECT_DOUBLE_EQ(foot.yMm, 297 - 10 - 10.6 + 4.2);
    EXPECT_EQ(find(p1, std::to_string(perPage + 1)).yMm, -1); // next page's row

    // Header and footer repeat on the last page, which holds the remaining two rows.
    std::vector<ReportText> p2 = layout.page(1, rows);
    EXPECT_GE(find(p2, "The Data Print Title").yMm, 0);
    EXPECT_GE(find(p2, "AUTO").yMm, 0);
    EXPECT_GE(find(p2, "The Data Print Foot").yMm, 0);
    EXPECT_DOUBLE_EQ(find(p2, std::to_string(perPage + 1)).yMm, 33.3);
    EXPECT_GE(find(p2, std::to_string(perPage + 2)).yMm, 0);
    EXPECT_TRUE(layout.page(2, rows).empty());
}

int pdfPages(const std::string& pdf) {
    std::regex page(R"(/Type\s*/Page[^s])");
    return int(
        std::distance(std::sregex_iterator(pdf.begin(), pdf.end(), page), std::sregex_iterator()));
}

TEST_F(TableFiles, ReportRendersOnePdfPagePerThirtySevenRows) {
    for (int i = 1; i <= 80; ++i)
        table.appendReading(row(i, i * 1000, "0" + std::to_string(i), "mV"));
    {
        QPdfWriter pdf(dir.filePath("report.pdf"));
        renderReport(table, pdf);
    }
    EXPECT_EQ(pdfPages(slurp(at("report.pdf"))), 3);

    // On paper, ink lies in the bands: the title line and the first detail line.
    QImage page(210 * 4, 297 * 4, QImage::Format_RGB32);
    page.fill(Qt::white);
    ReportLayout layout(80);
    QPainter painter(&page);
    paintReportPage(painter,
                    layout.page(0, [&](int64_t r) { return table.displayRow(uint32_t(r), true); }),
                    4.0);
    painter.end();
    auto inkInBand = [&](double topMm, double bottomMm) {
        for (int y = int(topMm * 4); y < int(bottomMm * 4); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (qGray(page.pixel(x, y)) < 128) return true;
        return false;
    };
    EXPECT_TRUE(inkInBand(12.1, 16));   // title
    EXPECT_TRUE(inkInBand(33.3, 37));   // first row
    EXPECT_FALSE(inkInBand(0, 10));     // top margin
    EXPECT_TRUE(inkInBand(280.6, 286)); // footer
}

TEST_F(TableFiles, StoppedReportKeepsThePagesMadeSoFar) {
    for (int i = 1; i <= 37 * 5; ++i)
        table.appendReading(row(i, 0, "1", " V"));
    int64_t told = 0;
    {
        QPdfWriter pdf(dir.filePath("part.pdf"));
        renderReport(table, pdf, [&](int64_t done, int64_t pages) {
            EXPECT_EQ(pages, 5);
            told = done;
            return done < 2;
        });
    }
    EXPECT_EQ(told, 2);
    EXPECT_EQ(pdfPages(slurp(at("part.pdf"))), 2);
}

TEST_F(TableFiles, EmptyTablePrintsNothing) {
    {
        QPdfWriter pdf(dir.filePath("empty.pdf"));
        renderReport(table, pdf);
    }
    EXPECT_EQ(pdfPages(slurp(at("empty.pdf"))), 0);
}

} // namespace
} // namespace rd780
