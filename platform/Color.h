#pragma once

namespace plat {

// A colour with sRGB components and alpha, each 0.0 to 1.0.
struct Color {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace plat
