#include "platform/ColorSpace.h"

#include "platform/Image.h"
#include "platform/Initialize.h"

#include <lcms2.h>
#include <vips/vips8>

#include <cmath>
#include <memory>

namespace plat {

using vips::VImage;

namespace {

struct ProfileCloser {
    void operator()(void* profile) const {
        if (profile) cmsCloseProfile(profile);
    }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

bool ToxyY(double x, double y, double z, cmsCIExyY* out) {
    const double sum = x + y + z;
    if (!(sum > 0.0) || !std::isfinite(sum) || !(y > 0.0)) return false;
    *out = {x / sum, y / sum, 1.0};
    return true;
}

std::vector<std::uint8_t> SaveProfile(cmsHPROFILE profile) {
    std::vector<std::uint8_t> bytes;
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile, nullptr, &size) || size == 0) return bytes;
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
    return bytes;
}

double SafeGamma(double g) { return g > 0.0 && std::isfinite(g) ? g : 1.0; }

// An ICC profile for a calibrated space; empty when its values describe none.
std::vector<std::uint8_t> CalibratedProfile(const ColorSpace& space) {
    cmsCIExyY white;
    if (!ToxyY(space.whitePoint[0], space.whitePoint[1], space.whitePoint[2], &white)) return {};
    if (space.family == ColorSpace::Family::CalGray) {
        cmsToneCurve* curve = cmsBuildGamma(nullptr, SafeGamma(space.gamma[0]));
        if (!curve) return {};
        Profile profile(cmsCreateGrayProfile(&white, curve));
        cmsFreeToneCurve(curve);
        return SaveProfile(profile.get());
    }
    const auto& m = space.matrix;
    cmsCIExyYTRIPLE primaries;
    if (!ToxyY(m[0], m[1], m[2], &primaries.Red) || !ToxyY(m[3], m[4], m[5], &primaries.Green) ||
        !ToxyY(m[6], m[7], m[8], &primaries.Blue)) {
        return {};
    }
    cmsToneCurve* curves[3] = {cmsBuildGamma(nullptr, SafeGamma(space.gamma[0])),
                               cmsBuildGamma(nullptr, SafeGamma(space.gamma[1])),
                               cmsBuildGamma(nullptr, SafeGamma(space.gamma[2]))};
    std::vector<std::uint8_t> bytes;
    if (curves[0] && curves[1] && curves[2]) {
        Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
        bytes = SaveProfile(profile.get());
    }
    for (cmsToneCurve* curve : curves) {
        if (curve) cmsFreeToneCurve(curve);
    }
    return bytes;
}

VipsInterpretation InterpretationFor(int components) {
    return components == 1 ? VIPS_INTERPRETATION_B_W
           : components == 4 ? VIPS_INTERPRETATION_CMYK
                             : VIPS_INTERPRETATION_sRGB;
}

void AttachProfile(VImage& image, const std::vector<std::uint8_t>& profile) {
    if (!profile.empty()) {
        vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, profile.data(), profile.size());
    }
}

}  // namespace

ColorSpace ColorSpace::Device(int components) {
    ColorSpace space;
    space.family = components == 4 ? Family::DeviceCMYK : components == 3 ? Family::DeviceRGB : Family::DeviceGray;
    return space;
}

int ColorSpace::components() const {
    switch (family) {
    case Family::DeviceGray:
    case Family::CalGray: return 1;
    case Family::DeviceCMYK: return 4;
    case Family::ICCBased: return iccComponents == 1 || iccComponents == 4 ? iccComponents : 3;
    default: return 3;
    }
}

bool IsUsableICCProfile(std::span<const std::uint8_t> profile, int components) {
    if (profile.empty() || profile.size() > (std::size_t{64} << 20)) return false;
    Profile handle(cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
    if (!handle) return false;
    return static_cast<int>(cmsChannelsOf(cmsGetColorSpace(handle.get()))) == components;
}

ImageRef CreateImageFromSamples(int width, int height, const ColorSpace& space, std::span<const std::uint8_t> samples,
                                std::span<const std::uint8_t> alpha) {
    const int components = space.components();
    if (!Image::sizeAllowed(width, height)) return nullptr;
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    if (samples.size() < pixels * std::size_t(components) || (!alpha.empty() && alpha.size() < pixels)) {
        return nullptr;
    }
    Initialize();
    try {
        VipsImage* copied = vips_image_new_from_memory_copy(samples.data(), pixels * std::size_t(components), width,
                                                            height, components, VIPS_FORMAT_UCHAR);
        if (!copied) {
            vips_error_clear();
            return nullptr;
        }
        VImage image(copied);
        switch (space.family) {
        case ColorSpace::Family::Lab: {
            const double aSpan = space.range[1] - space.range[0];
            const double bSpan = space.range[3] - space.range[2];
            image = image.cast(VIPS_FORMAT_FLOAT)
                        .linear({100.0 / 255.0, aSpan / 255.0, bSpan / 255.0}, {0.0, space.range[0], space.range[2]})
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_LAB))
                        .colourspace(VIPS_INTERPRETATION_sRGB)
                        .cast(VIPS_FORMAT_UCHAR);
            break;
        }
        case ColorSpace::Family::CalGray:
        case ColorSpace::Family::CalRGB:
            image = image.copy(VImage::option()->set("interpretation", InterpretationFor(components)));
            AttachProfile(image, CalibratedProfile(space));
            break;
        case ColorSpace::Family::ICCBased:
            image = image.copy(VImage::option()->set("interpretation", InterpretationFor(components)));
            AttachProfile(image, space.iccProfile);
            break;
        default:
            image = image.copy(VImage::option()->set("interpretation", InterpretationFor(components)));
            break;
        }
        if (!alpha.empty()) {
            VipsImage* plane = vips_image_new_from_memory_copy(alpha.data(), pixels, width, height, 1, VIPS_FORMAT_UCHAR);
            if (!plane) {
                vips_error_clear();
                return nullptr;
            }
            image = image.bandjoin(VImage(plane));
        }
        return Image::Create(image.copy_memory());
    } catch (const vips::VError&) {
        vips_error_clear();
        return nullptr;
    }
}

}  // namespace plat
