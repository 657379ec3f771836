#pragma once
// The delivered res/config.txt, built into the program: the texts of keys a
// user's older config.txt lacks come from here (see Localisation.h).

#include <string_view>

namespace kavrel {

std::string_view BuiltinConfigText();

}  // namespace kavrel
