#include "view/IntegerText.h"

#include "base/Guard.h"

#include <cstddef>

namespace rd780::view {

std::int32_t toInteger(const std::string& text) {
    auto fail = [&]() -> std::int32_t {
        throw AppError("'" + text + "' is not a valid integer value");
    };
    std::size_t i = 0, end = text.size();
    while (i < end && text[i] == ' ')
        ++i;
    while (end > i && text[end - 1] == ' ')
        --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == end) return fail();
    std::int64_t value = 0;
    for (; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return fail();
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) return fail();
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return fail();
    return static_cast<std::int32_t>(value);
}

} // namespace rd780::view
