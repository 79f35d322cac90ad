#include "record/RowOutput.h"

#include "meter/core/UnitSymbols.h"
#include "record/ReadingValue.h"

#include <cstdio>

namespace rd780 {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", u);
                out += esc;
            } else {
                out += c; // UTF-8 passes through
            }
        }
    }
    return out + '"';
}

namespace {

// The row number as the table shows it is digits; anything else has no number.
std::string jsonNumberOrNull(const std::string& digits) {
    if (digits.empty() || digits.size() > 15) return "null";
    for (const char c : digits)
        if (c < '0' || c > '9') return "null";
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? "0" : digits.substr(first);
}

} // namespace

std::string readingJson(const CsvReading& r) {
    const auto base = baseUnitOf(r.unit);
    // Exact decimal text such as "-0.04505": a valid JSON number as it stands.
    const std::string si = siValueText(r.value, r.unit);
    std::string j = "{\"timestamp\":" + jsonString(isoTimestamp(r.date, r.timeMs));
    j += ",\"no\":" + jsonNumberOrNull(r.no);
    j += ",\"value\":" + jsonString(r.value);
    j += ",\"unit\":" + jsonString(readingUnitText(r.unit));
    j += ",\"coupling\":" + jsonString(r.coupling);
    j += ",\"auto\":";
    j += r.autoText.empty() ? "false" : "true";
    j += ",\"si_value\":" + (si.empty() ? std::string("null") : si);
    j += ",\"si_unit\":" + (base ? jsonString(base->name) : std::string("null"));
    return j + '}';
}

} // namespace rd780
