#include "platform/ColorSpace.h"

#include "platform/Image.h"
#include "platform/Initialize.h"

#include <lcms2.h>
#include <vips/vips8>

#include <algorithm>
#include <array>
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

// PDF Lab samples, scaled from their bytes by the space's ranges, are
// L*a*b* relative to the space's own white point. They go to XYZ under that
// white, are adapted to sRGB's D65 white (Bradford, as ICC relative
// colorimetric does), and encoded as sRGB: white stays white and every
// other colour is the one its white point means. A white point that
// describes no colour is taken as D65.
std::vector<std::uint8_t> LabSamplesToSRGB(const ColorSpace& space, std::span<const std::uint8_t> samples,
                                           std::size_t pixels) {
    constexpr double kD65[3] = {0.95047, 1.0, 1.08883};
    double white[3] = {kD65[0], kD65[1], kD65[2]};
    cmsCIExyY xyY;
    if (ToxyY(space.whitePoint[0], space.whitePoint[1], space.whitePoint[2], &xyY)) {
        white[0] = xyY.x / xyY.y;
        white[1] = 1.0;
        white[2] = (1.0 - xyY.x - xyY.y) / xyY.y;
    }
    // Bradford cone responses of both whites give the adaptation.
    constexpr double kBradford[3][3] = {
        {0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}};
    constexpr double kBradfordInverse[3][3] = {
        {0.9869929, -0.1470543, 0.1599627}, {0.4323053, 0.5183603, 0.0492912}, {-0.0085287, 0.0400428, 0.9684867}};
    constexpr double kXyzToLinearSrgb[3][3] = {
        {3.2404542, -1.5371385, -0.4985314}, {-0.9692660, 1.8760108, 0.0415560}, {0.0556434, -0.2040259, 1.0572252}};
    double source[3], target[3];
    for (int i = 0; i < 3; ++i) {
        source[i] = kBradford[i][0] * white[0] + kBradford[i][1] * white[1] + kBradford[i][2] * white[2];
        target[i] = kBradford[i][0] * kD65[0] + kBradford[i][1] * kD65[1] + kBradford[i][2] * kD65[2];
    }
    // adapt = inverse · diag(target / source) · Bradford; the samples give
    // XYZ relative to their white (X / Xw ...), so the white scales the columns.
    double adapt[3][3];
    for (int k = 0; k < 3; ++k) {
        for (int c = 0; c < 3; ++c) {
            adapt[k][c] = 0.0;
            for (int j = 0; j < 3; ++j) adapt[k][c] += kBradfordInverse[k][j] * (target[j] / source[j]) * kBradford[j][c];
        }
    }
    double m[3][3];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += kXyzToLinearSrgb[r][k] * adapt[k][c];
            m[r][c] = sum * white[c];
        }
    }
    // Each byte's share of f(Y), f(X) - f(Y) and f(Y) - f(Z).
    const double aSpan = space.range[1] - space.range[0];
    const double bSpan = space.range[3] - space.range[2];
    double fL[256], fA[256], fB[256];
    for (int v = 0; v < 256; ++v) {
        fL[v] = (v * 100.0 / 255.0 + 16.0) / 116.0;
        fA[v] = (space.range[0] + v * aSpan / 255.0) / 500.0;
        fB[v] = (space.range[2] + v * bSpan / 255.0) / 200.0;
    }
    const auto inverse = [](double t) {
        constexpr double delta = 6.0 / 29.0;
        return t > delta ? t * t * t : 3.0 * delta * delta * (t - 4.0 / 29.0);
    };
    // sRGB's transfer curve, tabulated finely enough for 8-bit results.
    constexpr int kSteps = 4096;
    static const std::array<std::uint8_t, kSteps + 1> encode = [] {
        std::array<std::uint8_t, kSteps + 1> table{};
        for (int i = 0; i <= kSteps; ++i) {
            const double linear = double(i) / kSteps;
            const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
            table[std::size_t(i)] = static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
        }
        return table;
    }();
    std::vector<std::uint8_t> out(pixels * 3);
    for (std::size_t p = 0; p < pixels; ++p) {
        const std::uint8_t* lab = samples.data() + p * 3;
        const double fy = fL[lab[0]];
        const double xyz[3] = {inverse(fy + fA[lab[1]]), inverse(fy), inverse(fy - fB[lab[2]])};
        for (int r = 0; r < 3; ++r) {
            const double linear = m[r][0] * xyz[0] + m[r][1] * xyz[1] + m[r][2] * xyz[2];
            const double clamped = std::isfinite(linear) ? std::clamp(linear, 0.0, 1.0) : 0.0;
            out[p * 3 + std::size_t(r)] = encode[std::size_t(std::lround(clamped * kSteps))];
        }
    }
    return out;
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
        // Lab becomes sRGB before it is an image; every other space keeps its samples.
        std::vector<std::uint8_t> converted;
        if (space.family == ColorSpace::Family::Lab) converted = LabSamplesToSRGB(space, samples, pixels);
        const std::uint8_t* data = converted.empty() ? samples.data() : converted.data();
        VipsImage* copied =
            vips_image_new_from_memory_copy(data, pixels * std::size_t(components), width, height, components,
                                            VIPS_FORMAT_UCHAR);
        if (!copied) {
            vips_error_clear();
            return nullptr;
        }
        VImage image(copied);
        switch (space.family) {
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
