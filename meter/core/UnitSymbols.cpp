#include "meter/core/UnitSymbols.h"

namespace rd780 {

std::string unitSymbol(char code) {
    switch (code) {
    case '*':
        return "\u03A9"; // ohm sign
    case '+':
        return "\u00B5"; // micro sign
    case '@':
        return "L"; // the overload letter
    case ')':
        return "\u25B6|"; // diode mark
    case '&':
        return "\u00B7)))"; // continuity beeper
    case '"':
        return "HOLD";
    case '!':
        return "REC";
    case '$':
        return "BAT";
    default:
        return std::string(1, code);
    }
}

std::string unitSymbols(std::string_view codes) {
    std::string out;
    out.reserve(codes.size() * 2);
    for (char c : codes)
        out += unitSymbol(c);
    return out;
}

std::string readingUnitText(std::string_view unit) {
    while (!unit.empty() && unit.front() == ' ')
        unit.remove_prefix(1);
    while (!unit.empty() && unit.back() == ' ')
        unit.remove_suffix(1);
    // A 'u' before a unit letter is the micro prefix; "Duty" and the like keep theirs.
    if (unit.size() >= 2 && unit[0] == 'u' &&
        (unit[1] == 'A' || unit[1] == 'V' || unit[1] == 'F' || unit[1] == '*' || unit[1] == 'H'))
        return unitSymbol('+') + unitSymbols(unit.substr(1));
    return unitSymbols(unit);
}

} // namespace rd780
