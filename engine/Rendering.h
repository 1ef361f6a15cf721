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

#include <cstdint>
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
