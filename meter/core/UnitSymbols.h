#pragma once
// The LCD draws unit and state symbols with single code characters ("*" is the ohm sign,
// "+" the micro sign ...). Everywhere those codes appear in ordinary text (the grid, the
// printed report, the limit labels) they go through this one mapping.
#include <string>
#include <string_view>

namespace rd780 {

// UTF-8 text for one code character; the character itself when it is no symbol code.
std::string unitSymbol(char code);
// UTF-8 text for a whole unit text such as "k*" or "V)".
std::string unitSymbols(std::string_view codes);
// A reading's unit as the LCD shows it: without the padding space of an empty prefix, and
// with the micro prefix the decoder writes as 'u' ("uA") shown as the micro sign.
std::string readingUnitText(std::string_view unit);

} // namespace rd780
