#include "platform/SharpenLuminance.h"

#include <algorithm>
#include <cmath>

namespace plat {

using vips::VImage;

ImageRef SharpenLuminance(const Image& image, double sharpness, double radius) {
    if (!std::isfinite(sharpness) || !std::isfinite(radius)) {
        return nullptr;
    }
    if (sharpness <= 0.0 || radius <= 0.0) {
        try {
            return Image::Create(image.vimage(), image.bitsPerComponent() > 8);
        } catch (const vips::VError&) {
            return nullptr;
        }
    }
    try {
        // Float samples are sharpened as 16 bits, the precision of the LabS
        // space vips's sharpen works in.
        const bool isFloat = image.bitsPerComponent() == 32;
        const VImage in = isFloat ? AtMostSixteenBitSamples(image.vimage()) : image.vimage();
        const int colour = image.colorComponents();
        VImage colourBands = image.hasAlpha()
                                 ? in.extract_band(0, VImage::option()->set("n", colour))
                                 : in;
        // vips works in LabS: a gain on the difference from a Gaussian blur of
        // L*, the same gain in flat and detailed areas, halos limited to 10
        // (lighter) and 20 (darker) L* steps as libvips recommends.
        const double gain = std::clamp(sharpness, 0.0, 10.0) * 4.0;
        VImage sharpened = colourBands.sharpen(VImage::option()
                                                   ->set("sigma", std::clamp(radius / 2.0, 0.1, 50.0))
                                                   ->set("x1", 0.0)
                                                   ->set("m1", gain)
                                                   ->set("m2", gain)
                                                   ->set("y2", 10.0)
                                                   ->set("y3", 20.0));
        if (sharpened.interpretation() != in.interpretation()) {
            sharpened = sharpened.colourspace(in.interpretation());
        }
        if (sharpened.format() != in.format()) {
            sharpened = sharpened.round(VIPS_OPERATION_ROUND_RINT).cast(in.format());
        }
        if (image.hasAlpha()) {
            sharpened = sharpened.bandjoin(in.extract_band(colour));
        }
        sharpened = sharpened.copy(VImage::option()->set("interpretation", in.interpretation()));
        if (isFloat) sharpened = (sharpened / 65535.0).cast(VIPS_FORMAT_FLOAT);
        return Image::Create(sharpened, image.bitsPerComponent() > 8);
    } catch (const vips::VError&) {
        return nullptr;
    }
}

}  // namespace plat
