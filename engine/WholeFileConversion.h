#pragma once
// Whole-file conversion: every image of a loaded source (the pages of a
// multi-page TIFF, the entries of an icon file; the first page of a PDF) is
// written in the converter's output type, without resizing, rotation or
// watermarks.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "platform/ImageRef.h"

struct ImageConverter;

namespace plat {
class ImageRep;
class ImageSource;
}  // namespace plat

// Writes every representation of the converter's source to its destination:
// one representation to the destination itself; two or more into one PDF of
// as many pages for PDF output, otherwise as numbered files ("name.ext",
// "name 1.ext", ...) in a folder named after the destination without its
// extension. 1 only when every representation was written.
int SaveConvertedImageFile(ImageConverter* converter);

// One image to write, with the size it has in points (its resolution).
struct WholeFileRepresentation {
    plat::ImageRef image;
    double widthInPoints = 0.0;
    double heightInPoints = 0.0;
};

// The loop of SaveConvertedImageFile over `count` representations that
// `load` hands out by index (an empty result counts as a failed one).
int SaveConvertedRepresentations(
    ImageConverter* converter, std::size_t count,
    const std::function<std::optional<WholeFileRepresentation>(std::size_t index)>& load);

// The number of representations of a source: the images of a TIFF or an
// icon file; one for a GIF or WebP (their frames are one picture) and for a
// PDF (its first page).
std::size_t GetSourceRepresentationCount(const plat::ImageSource& source);

// Decodes the first image of `data` into `image`. 1 when one came out.
int DecodeCGImageFromData(ImageConverter* converter, std::span<const std::uint8_t> data, plat::ImageRef* image);

// Encodes the converter's source image to `data` in the output type: as the
// bitmap writer does it (its compression, the source's resolution) for the
// types it writes when the source's resolution is asked for, else through
// the encoder. Fills in sourceRep and, with useSourceDPI, the resolution.
// 1, or 0 without a source or without data.
int EncodeWithBitmapImageRep(ImageConverter* converter, std::vector<std::uint8_t>& data);

// The converter's pixel source: sourceRep, else the first image of the
// source loaded into it. Null without one.
const plat::ImageRep* GetConverterBitmapRep(ImageConverter* converter);
