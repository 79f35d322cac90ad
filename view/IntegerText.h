#pragma once
// Conversion of typed text to a 32-bit integer the way the edits expect it: an optional
// sign and decimal digits, surrounding spaces ignored. Anything else is an error whose
// text is shown to the user.
#include <cstdint>
#include <string>

namespace rd780::view {

std::int32_t toInteger(const std::string& text);

} // namespace rd780::view
