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

} // namespace rd780
