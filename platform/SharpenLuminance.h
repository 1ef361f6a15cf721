#pragma once

#include "platform/Image.h"
#include "platform/ImageRef.h"

namespace plat {

// Unsharp masking of the lightness (L*) alone, so edges gain contrast without
// colour fringes. `sharpness` is the gain of the detail added back (0 leaves
// the image as it is; 0.4 is a moderate default), `radius` the size in pixels
// of the detail that is sharpened. The colour model and alpha are kept.
// Null when the image cannot be processed.
ImageRef SharpenLuminance(const Image& image, double sharpness = 0.4, double radius = 1.69);

}  // namespace plat
