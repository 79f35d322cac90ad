#include "record/ReadingValue.h"

#include <cstdlib>

namespace rd780 {

namespace {

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

struct Decimal {
    bool negative = false;
    std::string digits; // without the point, no leading zeros stripped
    int pointAt = 0;    // digits before the point
};

std::optional<Decimal> parseDecimal(std::string_view text) {
    text = trimSpaces(text);
    Decimal d;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            d.digits += c;
        } else if (c == '.' && !point) {
            point = true;
            d.pointAt = static_cast<int>(d.digits.size());
        } else {
            return std::nullopt;
        }
    }
    if (d.digits.empty()) return std::nullopt;
    if (!point) d.pointAt = static_cast<int>(d.digits.size());
    return d;
}

// Writes digits with the point after pointAt digits (which may lie outside the digits),
// without superfluous zeros.
std::string formatDecimal(bool negative, std::string digits, int pointAt) {
    if (pointAt < 0) {
        digits.insert(0, static_cast<std::size_t>(-pointAt), '0');
        pointAt = 0;
    }
    if (pointAt > static_cast<int>(digits.size()))
        digits.append(static_cast<std::size_t>(pointAt) - digits.size(), '0');
    std::string whole = digits.substr(0, static_cast<std::size_t>(pointAt));
    std::string frac = digits.substr(static_cast<std::size_t>(pointAt));
    const auto firstNonZero = whole.find_first_not_of('0');
    whole = firstNonZero == std::string::npos ? "0" : whole.substr(firstNonZero);
    while (!frac.empty() && frac.back() == '0')
        frac.pop_back();
    const bool zero = whole == "0" && frac.empty();
    std::string out = negative && !zero ? "-" : "";
    out += whole;
    if (!frac.empty()) out += "." + frac;
    return out;
}

std::optional<int> prefixExponent(char p) {
    switch (p) {
    case 'n':
        return -9;
    case 'u':
    case '+':
        return -6; // '+' is the segment font's micro sign
    case 'm':
        return -3;
    case 'k':
        return 3;
    case 'M':
        return 6;
    default:
        return std::nullopt;
    }
}

} // namespace

bool isOverloadText(std::string_view text) {
    return text.find('L') != std::string_view::npos;
}

std::optional<std::string> displayDecimal(std::string_view text) {
    auto d = parseDecimal(text);
    if (!d) return std::nullopt;
    return formatDecimal(d->negative, d->digits, d->pointAt);
}

std::optional<double> displayNumber(std::string_view text) {
    auto s = displayDecimal(text);
    if (!s) return std::nullopt;
    return std::strtod(s->c_str(), nullptr);
}

int displayDecimals(std::string_view text) {
    const auto d = parseDecimal(text);
    if (!d) return 0;
    return static_cast<int>(d->digits.size()) - d->pointAt;
}

std::optional<BaseUnit> baseUnitOf(std::string_view unit) {
    unit = trimSpaces(unit);
    if (unit == "Duty") return BaseUnit{0, "%"};
    static const std::pair<std::string_view, const char*> bases[] = {
        {"*&", "\u03A9"}, {"*", "\u03A9"}, {"V)", "V"}, {"Hz", "Hz"},
        {"V", "V"},       {"A", "A"},      {"F", "F"},  {"%", "%"}};
    for (const auto& [codes, name] : bases) {
        if (unit.size() < codes.size() || unit.substr(unit.size() - codes.size()) != codes)
            continue;
        const std::string_view prefix = unit.substr(0, unit.size() - codes.size());
        if (prefix.empty()) return BaseUnit{0, name};
        if (prefix.size() != 1) return std::nullopt;
        const auto e = prefixExponent(prefix[0]);
        if (!e) return std::nullopt;
        return BaseUnit{*e, name};
    }
    return std::nullopt;
}

std::string siValueText(std::string_view displayText, std::string_view unitCodes) {
    if (isOverloadText(displayText)) return {};
    const auto d = parseDecimal(displayText);
    const auto unit = baseUnitOf(unitCodes);
    if (!d || !unit) return {};
    return formatDecimal(d->negative, d->digits, d->pointAt + unit->exponent);
}

} // namespace rd780
