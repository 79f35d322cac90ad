#include "view/LimitMarks.h"

#include "view/IntegerText.h"

namespace rd780::view {

bool digitKeyAllowed(char32_t key) {
    return (key >= U'0' && key <= U'9') || key == 8;
}

bool limitKeyAllowed(char32_t key) {
    return digitKeyAllowed(key) || key == U'+' || key == U'-';
}

float limitFromText(const std::string& text) {
    if (text.empty() || text == "-" || text == "+") return 0.0f;
    return static_cast<float>(toInteger(text));
}

} // namespace rd780::view
