#pragma once

#include <string_view>

namespace plat {

// Name ordering as a file manager sorts: digits compare as numbers (img2
// before img10), letter case and character width are ignored, and the
// result is the same whatever the user's locale. Names equal under those
// rules are then ordered by case and width, then by code points, so two
// different strings never compare equal.
class Collation {
public:
    // Negative, zero or positive; zero only for identical strings (UTF-8).
    static int compare(std::string_view a, std::string_view b);
    static bool less(std::string_view a, std::string_view b) { return compare(a, b) < 0; }
};

}  // namespace plat
