#pragma once
// Colour spaces of image samples handed in as bytes (PDF images): device
// spaces, ICC profiles, calibrated grey and RGB, and CIE Lab, and the image
// made from such samples.

#include "platform/ImageRef.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace plat {

struct ColorSpace {
    enum class Family { DeviceGray, DeviceRGB, DeviceCMYK, ICCBased, CalGray, CalRGB, Lab };

    Family family = Family::DeviceGray;
    std::vector<std::uint8_t> iccProfile;  // ICCBased: a profile IsUsableICCProfile accepts
    int iccComponents = 0;                 // ICCBased: 1, 3 or 4
    std::array<double, 3> whitePoint{0.0, 0.0, 1.0};  // CIE XYZ
    std::array<double, 3> blackPoint{0.0, 0.0, 0.0};
    std::array<double, 3> gamma{1.0, 1.0, 1.0};       // CalGray uses the first
    std::array<double, 9> matrix{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};  // CalRGB: XYZ of the primaries
    std::array<double, 4> range{-100.0, 100.0, -100.0, 100.0};                  // Lab: a and b

    // The device space of 1 (grey), 3 (RGB) or 4 (CMYK) components.
    static ColorSpace Device(int components);
    // Samples per pixel: 1, 3 or 4.
    int components() const;
};

// True when lcms2 reads the profile and its colour space has `components`
// channels.
bool IsUsableICCProfile(std::span<const std::uint8_t> profile, int components);

// An image of 8-bit samples, components() per pixel in packed rows, with an
// optional alpha plane of one byte per pixel. Device and ICC samples are
// taken as they are (the profile attached); calibrated spaces get an ICC
// profile made for them (device samples when their values make none); Lab
// samples (L over 0..100, a and b over the range, each scaled to 0..255)
// are converted to sRGB. Null when the sizes do not fit the data or the
// image would be too large.
ImageRef CreateImageFromSamples(int width, int height, const ColorSpace& space, std::span<const std::uint8_t> samples,
                                std::span<const std::uint8_t> alpha = {});

}  // namespace plat
