#include "meter/core/FrameAssembler.h"
#include "meter/core/FrameDecoder.h"
#include "meter/core/MeterSimulator.h"
#include "record/CsvExport.h"
#include "record/ReadingTable.h"
#include "record/ReadingValue.h"
#include "record/paradox/TableTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace rd780 {
namespace {

using test::ScratchDir;

// Sets TZ for one test and puts the old value back.
class TimeZone {
public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(csvField("12.34"), "12.34");
    EXPECT_EQ(csvField(""), "");
    EXPECT_EQ(csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(csvField("lf\nonly"), "\"lf\nonly\"");
}

TEST(CsvLine, HeaderAndUnicodeUnits) {
    TimeZone tz("UTC0");
    EXPECT_EQ(csvHeader(), "Timestamp,No,Value,Unit,Coupling,Auto,SIValue,SIUnit\r\n");
    CsvReading r{{2026, 12, 9}, 14 * 3600000 + 5 * 60000 + 9000 + 120, "7", "4.700", "k*", "",
                 "AUTO"};
    EXPECT_EQ(csvLine(r), "2026-12-09T14:05:09.120+00:00,7,4.700,k\u03A9,,AUTO,4700,\u03A9\r\n");
    r.value = "123.4";
    r.unit = "uA";
    r.coupling = "AC";
    EXPECT_EQ(csvLine(r), "2026-12-09T14:05:09.120+00:00,7,123.4,\u00B5A,AC,AUTO,0.0001234,A\r\n");
    r.value = "0.512";
    r.unit = " V)";
    r.coupling = "";
    EXPECT_EQ(csvLine(r), "2026-12-09T14:05:09.120+00:00,7,0.512,V\u25B6|,,AUTO,0.512,V\r\n");
    // A foreign table's text with a comma stays one field.
    r.value = "1,5";
    EXPECT_EQ(csvLine(r), "2026-12-09T14:05:09.120+00:00,7,\"1,5\",V\u25B6|,,AUTO,,V\r\n");
}

TEST(CsvLine, OverloadHasNoSiValueButKeepsItsUnit) {
    TimeZone tz("UTC0");
    const CsvReading r{{2026, 1, 2}, 0, "1", "0.L", "M*", "", "AUTO"};
    EXPECT_EQ(csvLine(r), "2026-01-02T00:00:00.000+00:00,1,0.L,M\u03A9,,AUTO,,\u03A9\r\n");
    EXPECT_EQ(siValueText("-0.L", " V"), "");
    EXPECT_EQ(siValueText("-0L", "mV"), "");
}

TEST(SiValue, ExactForEveryPrefixAndUnit) {
    struct Case {
        const char *text, *unit, *si, *base;
    } cases[] = {
        {"-45.05", "mV", "-0.04505", "V"},    {"1.234", " V", "1.234", "V"},
        {"229.6", "V", "229.6", "V"},         {"12.34", "mA", "0.01234", "A"},
        {"123.4", "uA", "0.0001234", "A"},    {"2.013", "kHz", "2013", "Hz"},
        {"49.9", "Duty", "49.9", "%"},        {"47.12", "nF", "0.00000004712", "F"},
        {"10.05", "uF", "0.00001005", "F"},   {"100.2", " *", "100.2", "\u03A9"},
        {"4.700", "k*", "4700", "\u03A9"},    {"1.003", "M*", "1003000", "\u03A9"},
        {"0.400", " *&", "0.4", "\u03A9"},    {"0.512", " V)", "0.512", "V"},
        {"-0.001", "mV", "-0.000001", "V"},   {"0000", "kHz", "0", "Hz"},
        {"-0.000", "mV", "0", "V"},           {"5.000", "+A", "0.000005", "A"},
        {"0012", "M*", "12000000", "\u03A9"}, {"1.5", "m*", "0.0015", "\u03A9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + c.unit);
        EXPECT_EQ(siValueText(c.text, c.unit), c.si);
        const auto base = baseUnitOf(c.unit);
        ASSERT_TRUE(base.has_value());
        EXPECT_EQ(base->name, c.base);
    }
    EXPECT_FALSE(baseUnitOf("xV").has_value());
    EXPECT_FALSE(baseUnitOf("7").has_value());
    EXPECT_EQ(siValueText("1.2.3", "V"), "");
    EXPECT_EQ(siValueText("12", "q"), "");
}

// Every unit the decoder writes for a meter frame, checked against the displayed number
// times the prefix's power of ten.
TEST(SiValue, AgreesWithTheDecoderForEveryFunctionAndPrefix) {
    struct Function {
        int code, mode;
        const char* base;
    } functions[] = {{0, 0, "V"}, {0, 1, "V"}, {1, 0, "A"},      {1, 1, "A"},      {2, 0, "Hz"},
                     {2, 1, "%"}, {3, 0, "F"}, {4, 0, "\u03A9"}, {5, 0, "\u03A9"}, {6, 0, "V"}};
    const std::pair<char, int> prefixes[] = {{' ', 0},  {'m', -3}, {'u', -6},
                                             {'n', -9}, {'k', 3},  {'M', 6}};
    int checked = 0;
    for (const Function& f : functions) {
        for (auto [prefix, exponent] : prefixes) {
            if (f.code == 2 && f.mode == 1 && prefix != ' ') continue; // duty has no prefix
            MeterDisplay d;
            d.function = f.code;
            d.mode = f.mode;
            d.prefix = prefix;
            d.field = "12.34";
            d.negative = true;
            const auto bytes = MeterSimulator::encode(d);
            std::string frame;
            appendHex(frame, bytes.data(), bytes.size());
            std::string text, unit, coupling, autoText;
            float value = 0;
            DecodeSink sink;
            decodeFrame(frame, ScaleSettings{}, {text, value, unit, coupling, autoText}, sink);
            SCOPED_TRACE(text + " [" + unit + "]");
            const auto base = baseUnitOf(unit);
            ASSERT_TRUE(base.has_value());
            EXPECT_EQ(base->name, f.base);
            // The diode function puts the point after the first digit whatever the frame says.
            const double shown = f.code == 6 ? -1.234 : -12.34;
            ASSERT_EQ(displayNumber(text), shown);
            const double expected = shown * std::pow(10.0, exponent);
            const std::string si = siValueText(text, unit);
            ASSERT_FALSE(si.empty());
            EXPECT_EQ(si.find('e'), std::string::npos);
            EXPECT_NEAR(std::strtod(si.c_str(), nullptr), expected, std::fabs(expected) * 1e-12);
            ++checked;
        }
    }
    // The micro range of the current function, which the meter sends as prefix 'A'.
    MeterDisplay d;
    d.function = 1;
    d.prefix = 'A';
    d.field = "123.4";
    const auto bytes = MeterSimulator::encode(d);
    std::string frame, text, unit, coupling, autoText;
    appendHex(frame, bytes.data(), bytes.size());
    float value = 0;
    DecodeSink sink;
    decodeFrame(frame, ScaleSettings{}, {text, value, unit, coupling, autoText}, sink);
    EXPECT_EQ(siValueText(text, unit), "0.0001234");
    EXPECT_GT(checked, 50);
}

TEST(IsoTimestamp, CarriesTheOffsetThatAppliedThatDay) {
    {
        TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(isoTimestamp({2026, 1, 15}, 3723004), "2026-01-15T01:02:03.004+01:00");
        EXPECT_EQ(isoTimestamp({2026, 7, 15}, 3723004), "2026-07-15T01:02:03.004+02:00");
    }
    {
        TimeZone tz("EST5EDT,M3.2.0,M11.1.0");
        EXPECT_EQ(isoTimestamp({2026, 12, 31}, 86399999), "2026-12-31T23:59:59.999-05:00");
    }
    {
        TimeZone tz("IST-5:30");
        EXPECT_EQ(isoTimestamp({2024, 2, 29}, 0), "2024-02-29T00:00:00.000+05:30");
    }
}

TEST(TableDating, OldRowsRollOverWhenTheTimeGoesBack) {
    TableDating dating;
    dating.tableOpened({2026, 2, 28}, 5);
    TableDating::Walker w(dating);
    EXPECT_EQ(w.next(23 * 3600000), (CivilDate{2026, 2, 28}));
    EXPECT_EQ(w.next(23 * 3600000), (CivilDate{2026, 2, 28})); // equal time: same day
    EXPECT_EQ(w.next(1000), (CivilDate{2026, 3, 1}));
    EXPECT_EQ(w.next(5000), (CivilDate{2026, 3, 1}));
    EXPECT_EQ(w.next(4000), (CivilDate{2026, 3, 2}));
    EXPECT_EQ(addDays({2024, 12, 31}, 1), (CivilDate{2025, 1, 1}));
    EXPECT_EQ(addDays({2024, 2, 28}, 1), (CivilDate{2024, 2, 29}));
}

TEST(TableDating, RowsOfThisRunCarryTheirOwnDate) {
    TableDating dating;
    dating.tableOpened({2020, 5, 1}, 2);
    dating.rowAppended(2, {2026, 12, 8});
    dating.rowAppended(3, {2026, 12, 8});
    dating.rowAppended(4, {2026, 12, 9}); // recorded over midnight
    TableDating::Walker w(dating);
    EXPECT_EQ(w.next(50000), (CivilDate{2020, 5, 1}));
    EXPECT_EQ(w.next(40000), (CivilDate{2020, 5, 2}));
    EXPECT_EQ(w.next(86000000), (CivilDate{2026, 12, 8}));
    EXPECT_EQ(w.next(86399000), (CivilDate{2026, 12, 8}));
    EXPECT_EQ(w.next(1000), (CivilDate{2026, 12, 9}));

    dating.tableEmptied();
    dating.rowAppended(0, {2026, 12, 10});
    TableDating::Walker again(dating);
    EXPECT_EQ(again.next(3000), (CivilDate{2026, 12, 10}));
    EXPECT_EQ(again.next(1000), (CivilDate{2026, 12, 10})); // not an old row: no roll-over
}

TEST(CsvFileName, AnyCaseOfTheExtension) {
    EXPECT_TRUE(isCsvFileName("/tmp/a.csv"));
    EXPECT_TRUE(isCsvFileName("a.CSV"));
    EXPECT_TRUE(isCsvFileName("a.Csv"));
    EXPECT_FALSE(isCsvFileName("a.csv.txt"));
    EXPECT_FALSE(isCsvFileName("/tmp/x.csv/readings"));
    EXPECT_FALSE(isCsvFileName("csv"));
}

TEST(TableCsv, WritesEveryRowWithItsDate) {
    TimeZone tz("UTC0");
    ScratchDir dir;
    ReadingTable table;
    table.openOrCreate(dir / "r.DB");
    const ReadingRow rows[] = {{1, 23 * 3600000 + 59 * 60000, "DC", "-45.05", "mV", "", -4505},
                               {2, 2000, "AC", "229.6", " V", "AUTO", 2296},
                               {3, 3000, "", "0.L", "M*", "AUTO", 60}};
    for (const auto& r : rows)
        table.appendReading(r);
    TableDating dating;
    dating.tableOpened({2026, 12, 8}, 3);
    std::string error;
    ASSERT_TRUE(writeTableCsv(table, (dir / "r.csv").string(), dating, &error)) << error;
    EXPECT_EQ(test::readFile(dir / "r.csv"),
              "Timestamp,No,Value,Unit,Coupling,Auto,SIValue,SIUnit\r\n"
              "2026-12-08T23:59:00.000+00:00,1,-45.05,mV,DC,,-0.04505,V\r\n"
              "2026-12-09T00:00:02.000+00:00,2,229.6,V,AC,AUTO,229.6,V\r\n"
              "2026-12-09T00:00:03.000+00:00,3,0.L,M\u03A9,,AUTO,,\u03A9\r\n");

    EXPECT_THROW(writeTableCsv(table, (dir / "r.DB").string(), dating, &error), std::exception);
    EXPECT_FALSE(writeTableCsv(table, (dir / "missing" / "r.csv").string(), dating, &error));
    EXPECT_FALSE(error.empty());
}

TEST(TableCsv, ATableWithoutTheReadingColumnsWritesNothing) {
    ScratchDir dir;
    {
        auto t = paradox::Table::create(dir / "other.DB", {{"Name", paradox::FieldType::Alpha, 8}});
        t.close();
    }
    ReadingTable table;
    table.open(dir / "other.DB");
    std::string error;
    EXPECT_THROW(writeTableCsv(table, (dir / "o.csv").string(), TableDating{}, &error),
                 std::exception);
    EXPECT_FALSE(std::filesystem::exists(dir / "o.csv"));
}

} // namespace
} // namespace rd780
