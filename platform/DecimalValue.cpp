#include "platform/DecimalValue.h"

#include <climits>

#include "platform/TextCodec.h"

namespace kavrel {

int DecimalValue(std::string_view text) {
    size_t i = 0;
    // The C library's isspace in the "C" locale: blank, tab, LF, VT, FF, CR.
    while (i < text.size() &&
           (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-value < INT_MIN ? INT_MIN : -value);
    return static_cast<int>(value > INT_MAX ? INT_MAX : value);
}

int DecimalValue(std::u16string_view text) { return DecimalValue(ToUtf8(text)); }

}  // namespace kavrel
