#pragma once
// The output pixels of one conversion: the source drawn into a bitmap of the
// canvas size, turned and mirrored by the record, in the output colour
// model; the image and text watermarks on top; optional sharpening; then the
// encoder.

#include "engine/ImageConverter.h"
#include "platform/AffineTransform.h"
#include "platform/BitmapContext.h"
#include "platform/Color.h"
#include "platform/ImageRef.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"

#include <cstdint>
#include <memory>
#include <optional>

// Sharpness given to the luminance sharpening of a resized image.
constexpr double kRenderSharpness = 0.25;

// Draws `image` into `drawRect` (y-up, canvas pixels) of a canvas of
// `canvasWidth` × `canvasHeight`, turned by the converter's rotation and
// flips, adds the watermarks, sharpens when asked and hands the result to
// WriteConverterOutput. 1 or 0; nothing is written on failure.
int RenderConvertedImage(ImageConverter* converter, const plat::ImageRef& image, std::uint32_t canvasWidth,
                         std::uint32_t canvasHeight, bool sharpen, const plat::Rect& drawRect);

// The colour model of the output bitmap for the converter's output type and
// colour mode and a source of `sourceModel`; may switch the converter's
// colour mode to RGB (CMYK with alpha for output that cannot hold it).
plat::ColorModel ChooseRenderColorModel(ImageConverter* converter, plat::ColorModel sourceModel, bool sourceHasAlpha);

// Draws the converter's watermark image into an upright output of `width` ×
// `height`, placed from the editor canvas; the mapped position is stored
// back in the converter's imageOrigin.
void DrawImageWatermark(ImageConverter* converter, plat::BitmapContext& context, double width, double height);

// The colour to draw with; empty for no colour.
std::optional<plat::Color> CreateCGColorFromNSColor(const plat::Color* color);

// An 8-bit grey mask of `width` × `height`: the coverage of `image` drawn
// into `drawRect` through `transform` (255 where it is opaque, 0 where it is
// transparent or absent). Null when it cannot be made.
plat::ImageRef CreateImageMaskFromImage(const plat::AffineTransform& transform, const plat::ImageRef& image,
                                        int width, int height, const plat::Rect& drawRect);

// The upright bitmap of the first image of `image`; empty when it cannot be
// decoded.
std::optional<plat::ImageRep> GetBitmapImageRep(const std::shared_ptr<const plat::ImageSource>& image);
