#pragma once
// The engine's one-image entry points.

#include "engine/ImageConversion.h"

// Converts one image file by the record: load (WebP included), orient,
// resize, sharpen, watermark, encode and write the destination atomically;
// with returnImage, render only and hand the image back in resultImage.
// 1 on success; 0 on any failure, with nothing written.
int ConvertImageWithOptions(ImageConversion* record);


// Whole-file conversion: every image of the source in the output type,
// without resizing, turning or watermarks, at options.outputDPI (or the
// source's resolution when it is 0). 1 or 0.
int ConvertImageFileFormat(ImageConversion* record);
