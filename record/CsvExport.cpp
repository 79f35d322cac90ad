#include "record/CsvExport.h"

#include "base/Guard.h"
#include "meter/core/UnitSymbols.h"
#include "record/FileWriter.h"
#include "record/ReadingTable.h"
#include "record/ReadingValue.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace rd780 {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(CivilDate d) {
    const int64_t y = d.year - (d.month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (d.month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + d.day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0)), m, d};
}

} // namespace

CivilDate addDays(CivilDate d, int days) {
    return civilFromDays(daysFromCivil(d) + days);
}

CivilDate localDate(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::string isoTimestamp(CivilDate date, int32_t timeMs) {
    timeMs = std::clamp<int32_t>(timeMs, 0, 86399999);
    const int h = timeMs / 3600000, mi = timeMs / 60000 % 60, s = timeMs / 1000 % 60,
              ms = timeMs % 1000;
    // The offset that applied at that local time; mktime settles daylight saving itself.
    std::tm tm{};
    tm.tm_year = date.year - 1900;
    tm.tm_mon = date.month - 1;
    tm.tm_mday = date.day;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    long offset = 0;
    std::tm probe = tm;
    if (std::mktime(&probe) != std::time_t(-1)) offset = probe.tm_gmtoff;
    const char sign = offset < 0 ? '-' : '+';
    offset = std::labs(offset);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", date.year,
                  date.month, date.day, h, mi, s, ms, sign, offset / 3600, offset / 60 % 60);
    return buf;
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string csvHeader() {
    return "Timestamp,No,Value,Unit,Coupling,Auto,SIValue,SIUnit\r\n";
}

std::string csvLine(const CsvReading& r) {
    const auto base = baseUnitOf(r.unit);
    const std::string si = siValueText(r.value, r.unit);
    std::string line = isoTimestamp(r.date, r.timeMs);
    for (const std::string& f : {r.no, r.value, readingUnitText(r.unit), r.coupling, r.autoText, si,
                                 base ? base->name : std::string()}) {
        line += ',';
        line += csvField(f);
    }
    line += "\r\n";
    return line;
}

void TableDating::tableOpened(CivilDate fileDate, int64_t rowCount) {
    fileDate_ = fileDate;
    oldRows_ = rowCount;
    runDates_.clear();
}

void TableDating::rowAppended(int64_t rowIndex, CivilDate date) {
    if (!runDates_.empty() && runDates_.back().second == date && runDates_.back().first <= rowIndex)
        return;
    runDates_.emplace_back(rowIndex, date);
}

void TableDating::tableEmptied() {
    oldRows_ = 0;
    runDates_.clear();
}

CivilDate TableDating::Walker::next(int32_t timeMs) {
    const int64_t row = row_++;
    while (change_ < d_.runDates_.size() && d_.runDates_[change_].first <= row)
        runDate_ = d_.runDates_[change_++].second;
    if (row >= d_.oldRows_ && change_ > 0) return runDate_;
    if (lastTime_ >= 0 && timeMs < lastTime_) rolling_ = addDays(rolling_, 1);
    lastTime_ = timeMs;
    return rolling_;
}

CivilDate fileDate(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return localDate(std::time(nullptr));
    return localDate(st.st_mtime);
}

void forEachTableReading(const ReadingTable& table, const TableDating& dating,
                         const std::function<void(const CsvReading&)>& visit) {
    const paradox::Table& t = table.table();
    const int no = t.requireField("No"), time = t.requireField("Time"),
              coupling = t.requireField("DC/AC"), value = t.requireField("Value"),
              unit = t.requireField("Unit"), autoText = t.requireField("AUTO");
    auto text = [](const paradox::Value& v) {
        const auto* s = std::get_if<std::string>(&v);
        return s ? *s : std::string();
    };
    TableDating::Walker dates(dating);
    CsvReading r;
    const uint32_t n = t.rowCount();
    for (uint32_t i = 0; i < n; ++i) {
        const std::vector<paradox::Value> row = t.readRow(i);
        r.no = fieldDisplay(row[size_t(no)]);
        const auto* tod = std::get_if<paradox::TimeOfDay>(&row[size_t(time)]);
        r.timeMs = tod ? tod->ms : 0;
        r.date = dates.next(r.timeMs);
        r.value = text(row[size_t(value)]);
        r.unit = text(row[size_t(unit)]);
        r.coupling = text(row[size_t(coupling)]);
        r.autoText = text(row[size_t(autoText)]);
        visit(r);
    }
}

bool writeTableCsv(const ReadingTable& table, const std::string& fileName,
                   const TableDating& dating, std::string* error) {
    const paradox::Table& t = table.table();
    for (const char* name : {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"})
        t.requireField(name);
    if (table.isSameFile(fileName))
        throw AppError("Cannot save the table into its own file " + fileName);
    FileWriter out(fileName);
    out.add(csvHeader());
    forEachTableReading(table, dating, [&](const CsvReading& r) {
        if (!out.failed()) out.add(csvLine(r));
    });
    const bool ok = out.finish();
    if (!ok && error) *error = out.error();
    return ok;
}

bool isCsvFileName(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = fileName.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".csv";
}

} // namespace rd780
