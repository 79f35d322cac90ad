#pragma once
// What a reading's display text and unit codes mean as a number: the displayed number, the
// base unit with the prefix's power of ten, and the value in base units. Plain C++.
#include <optional>
#include <string>
#include <string_view>

namespace rd780 {

// True when the display text shows an overload (the decoder writes its letter as 'L').
bool isOverloadText(std::string_view text);

// The display text as a canonical decimal ("-45.05", "0.512"): surrounding spaces
// dropped, an optional sign, digits with at most one point. Nothing for an overload or
// any other text.
std::optional<std::string> displayDecimal(std::string_view text);
std::optional<double> displayNumber(std::string_view text);
// Digits after the point of the display text (0 when it has none).
int displayDecimals(std::string_view text);

struct BaseUnit {
    int exponent = 0; // power of ten of the prefix
    std::string name; // UTF-8: "V", "A", "Hz", "F", "Ω", "%"
};

// The base unit of a unit text the decoder writes ("mV", " V", "uA", "k*", "*&", "V)",
// "Duty", ...). Nothing for a text that names no unit the meter measures.
std::optional<BaseUnit> baseUnitOf(std::string_view unitCodes);

// The reading in base units as a plain decimal without exponent ("-45.05" with "mV" gives
// "-0.04505"); empty for an overload or a text or unit with no such value. Exact: the
// point is moved in the text, never through a binary fraction.
std::string siValueText(std::string_view displayText, std::string_view unitCodes);

} // namespace rd780
