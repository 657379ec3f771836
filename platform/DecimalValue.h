#pragma once
// The decimal value of a text, as port and channel texts are read everywhere:
// skip leading white space, take one optional sign, then decimal digits up to
// the first other character; no digits gives 0 ("80x" is 80, "" is 0).
// Values beyond the int range saturate instead of overflowing.

#include <string_view>

namespace kavrel {

int DecimalValue(std::string_view text);
int DecimalValue(std::u16string_view text);

}  // namespace kavrel
