#pragma once
// CSV that spreadsheets and scripts read without help: RFC 4180, UTF-8, a date on every
// timestamp, units in Unicode and every value also in base units.
#include <compare>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rd780 {

class ReadingTable;

struct CivilDate {
    int year = 1970;
    int month = 1;
    int day = 1;
    auto operator<=>(const CivilDate&) const = default;
};

CivilDate addDays(CivilDate d, int days);
// The local date of a moment.
CivilDate localDate(std::time_t t);

// "2026-12-09T14:05:09.120+01:00": the local date and time of day with the offset from UTC
// that applied then.
std::string isoTimestamp(CivilDate date, int32_t timeOfDayMs);

// One field, quoted when it holds a comma, a quote or a line break.
std::string csvField(std::string_view text);

// "Timestamp,No,Value,Unit,Coupling,Auto,SIValue,SIUnit" and CRLF.
std::string csvHeader();

struct CsvReading {
    CivilDate date;
    int32_t timeMs = 0; // local time of day
    std::string no;     // as the table shows it; empty when the row has none
    std::string value;  // display text as recorded, e.g. "-45.05" or "0.L"
    std::string unit;   // unit codes as recorded, e.g. "mV", "k*"
    std::string coupling;
    std::string autoText;
};

// One CSV line, CRLF ended.
std::string csvLine(const CsvReading& r);

// Gives each row of the reading table its date. The table stores only the time of day: rows
// recorded in this run are told their date as they are appended; older rows take the date
// of the file as it was when opened, advancing a day whenever the time of day goes back.
class TableDating {
public:
    // A table was opened (or created) holding rowCount rows; fileDate is its file's date
    // before this run wrote to it.
    void tableOpened(CivilDate fileDate, int64_t rowCount);
    // Row rowIndex (from 0) was appended in this run on the given local date.
    void rowAppended(int64_t rowIndex, CivilDate date);
    // The table was emptied: every later row is one of this run.
    void tableEmptied();

    // Dates the rows in table order, one row at a time.
    class Walker {
    public:
        explicit Walker(const TableDating& dating) : d_(dating), rolling_(dating.fileDate_) {}
        CivilDate next(int32_t timeOfDayMs);

    private:
        const TableDating& d_;
        int64_t row_ = 0;
        CivilDate rolling_;
        int32_t lastTime_ = -1;
        std::size_t change_ = 0;
        CivilDate runDate_;
    };

private:
    CivilDate fileDate_;
    int64_t oldRows_ = 0;
    // Where the date of this run's rows changes: (first row, date), rising row order.
    std::vector<std::pair<int64_t, CivilDate>> runDates_;
};

// The file date to give tableOpened for a file that exists now (today when it cannot say).
CivilDate fileDate(const std::string& path);

// Walks the reading table's rows as CSV readings, in the table's order. Throws when the
// table lacks one of the reading columns (before the first row is visited).
void forEachTableReading(const ReadingTable& table, const TableDating& dating,
                         const std::function<void(const CsvReading&)>& visit);

// Writes the whole table as CSV, replacing the file. Throws if the table lacks a reading
// column (nothing is written then) or if fileName is the table's own file. Returns false
// when the file cannot be written; error then holds the system's reason.
bool writeTableCsv(const ReadingTable& table, const std::string& fileName,
                   const TableDating& dating, std::string* error);

// True when fileName ends in ".csv" in any case.
bool isCsvFileName(const std::string& fileName);

} // namespace rd780
