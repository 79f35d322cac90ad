// Field types, calendar helpers and the display texts of values.
#include "ParadoxTable.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace rd780::paradox {

namespace {

struct TypeInfo {
    FieldType type;
    char letter;
};

constexpr TypeInfo kTypes[] = {
    {FieldType::Alpha, 'A'},   {FieldType::Date, 'D'},      {FieldType::Short, 'S'},
    {FieldType::Long, 'I'},    {FieldType::Currency, '$'},  {FieldType::Number, 'N'},
    {FieldType::Logical, 'L'}, {FieldType::Memo, 'M'},      {FieldType::Blob, 'B'},
    {FieldType::FmtMemo, 'F'}, {FieldType::Ole, 'O'},       {FieldType::Graphic, 'G'},
    {FieldType::Time, 'T'},    {FieldType::Timestamp, '@'}, {FieldType::AutoInc, '+'},
    {FieldType::Bcd, '#'},     {FieldType::Bytes, 'Y'},
};

constexpr std::int64_t kMsPerDay = 86'400'000;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// Paradox day 1 is 0001-01-01, which is day -719162 counted from 1970.
constexpr std::int64_t kEpochShift = 719163;

std::string dateText(std::int64_t days) {
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days - kEpochShift, y, m, d);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    return buf;
}

std::string timeText(std::int64_t ms, bool withMs) {
    const char* sign = ms < 0 ? "-" : "";
    if (ms < 0) ms = -ms;
    char buf[64];
    const long long h = ms / 3'600'000, mi = ms / 60'000 % 60, s = ms / 1000 % 60, f = ms % 1000;
    if (withMs)
        std::snprintf(buf, sizeof buf, "%s%02lld:%02lld:%02lld.%03lld", sign, h, mi, s, f);
    else
        std::snprintf(buf, sizeof buf, "%s%02lld:%02lld:%02lld", sign, h, mi, s);
    return buf;
}

} // namespace

char typeLetter(FieldType t) {
    for (const auto& i : kTypes)
        if (i.type == t) return i.letter;
    return '?';
}

FieldType typeFromLetter(char c) {
    for (const auto& i : kTypes)
        if (i.letter == c) return i.type;
    throw Error(std::string("unknown field type letter '") + c + "'");
}

bool isBlobType(FieldType t) {
    switch (t) {
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FmtMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
    case FieldType::Bytes:
        return true;
    default:
        return false;
    }
}

int storageSize(const Field& f) {
    switch (f.type) {
    case FieldType::Short:
        return 2;
    case FieldType::Logical:
        return 1;
    case FieldType::Date:
    case FieldType::Long:
    case FieldType::Time:
    case FieldType::AutoInc:
        return 4;
    case FieldType::Currency:
    case FieldType::Number:
    case FieldType::Timestamp:
        return 8;
    case FieldType::Bcd:
        return 17;
    default:
        return f.size;
    }
}

Date makeDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31)
        throw Error("date out of range");
    return Date{static_cast<std::int32_t>(
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kEpochShift)};
}

void splitDate(Date d, int& year, int& month, int& day) {
    std::int64_t y;
    unsigned m, dd;
    civilFromDays(d.days - kEpochShift, y, m, dd);
    year = static_cast<int>(y);
    month = static_cast<int>(m);
    day = static_cast<int>(dd);
}

TimeOfDay makeTime(int hour, int minute, int second, int millisecond) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999)
        throw Error("time of day out of range");
    return TimeOfDay{((hour * 60 + minute) * 60 + second) * 1000 + millisecond};
}

Timestamp makeTimestamp(Date d, TimeOfDay t) {
    return Timestamp{static_cast<double>(d.days) * kMsPerDay + t.ms};
}

std::string formatDate(Date d) {
    return dateText(d.days);
}

std::string formatTime(TimeOfDay t, bool withMilliseconds) {
    return timeText(t.ms, withMilliseconds);
}

std::string formatTimestamp(Timestamp t) {
    if (!std::isfinite(t.ms) || std::fabs(t.ms) > 1e15) return formatNumber(t.ms);
    const auto total = static_cast<std::int64_t>(std::llround(t.ms));
    std::int64_t days = total / kMsPerDay, ms = total % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --days;
    }
    return dateText(days) + " " + timeText(ms, true);
}

std::string formatNumber(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::string displayText(const Value& v) {
    struct Visitor {
        std::string operator()(const Null&) const { return "\\N"; }
        std::string operator()(std::int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return formatNumber(d); }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(const Date& d) const { return formatDate(d); }
        std::string operator()(const TimeOfDay& t) const { return formatTime(t); }
        std::string operator()(const Timestamp& t) const { return formatTimestamp(t); }
        std::string operator()(const BlobSize& b) const {
            std::string out = "<";
            out += std::to_string(b.bytes);
            out += " bytes>";
            return out;
        }
        std::string operator()(const std::string& s) const {
            std::string out;
            out.reserve(s.size());
            for (char c : s) {
                switch (c) {
                case '\\':
                    out += "\\\\";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                default:
                    out += c;
                }
            }
            return out;
        }
    };
    return std::visit(Visitor{}, v);
}

} // namespace rd780::paradox
