#pragma once

#include <string>

namespace plat {

class Uuid {
public:
    // A new random UUID as 36 upper-case characters
    // (XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX).
    static std::string newString();
};

}  // namespace plat
