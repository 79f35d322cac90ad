#pragma once
// The upper and lower limit marks: what the limit edits accept and how their text becomes
// a limit.
#include <string>

namespace rd780::view {

// Key filter of the limit edits: digits, backspace, "+" and "-".
bool limitKeyAllowed(char32_t key);
// Key filter of the page-size edit: digits and backspace.
bool digitKeyAllowed(char32_t key);

// The limit for an edit's text: "-", "+" and "" count as 0; anything else must be a
// 32-bit decimal integer (AppError otherwise). Held in single precision.
float limitFromText(const std::string& text);

} // namespace rd780::view
