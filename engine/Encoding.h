#pragma once
// The last stage of a conversion: the finished image is encoded in memory for
// the output type with its resolution, orientation, alpha, compression,
// quality and (when kept) the source's metadata, then written as the
// destination file in one atomic step with the carried-over attributes. In
// returnImage mode the image is handed back instead.

#include "engine/ImageConverter.h"
#include "platform/ImageRef.h"
#include "platform/PropertyDict.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Encodes `image` and writes it to `alternativeURL`, or to the converter's
// destination when that is null; keeps the bytes in outputData instead with
// keepOutputInMemory; keeps the image as resultImage with returnImage.
// 1 on success; on failure nothing is written.
int WriteConverterOutput(ImageConverter* converter, const plat::ImageRef& image,
                         const std::filesystem::path* alternativeURL = nullptr);

// Encodes `image` for the converter's output type into `data`. 1 or 0.
int EncodeCGImageToData(ImageConverter* converter, const plat::ImageRef& image, std::vector<std::uint8_t>& data);

// The encoder properties: copied metadata first, then orientation, alpha,
// resolution, TIFF compression and quality.
plat::PropertyDict CreateDestinationProperties(const ImageConverter* converter);

// Adds the source's metadata dictionaries: the TIFF dictionary with the
// output's orientation and resolution (unit inch), then the GIF, JFIF, Exif,
// PNG, IPTC and GPS dictionaries unchanged. Nothing when the source cannot be
// read.
void CopySourceMetadata(const ImageConverter* converter, plat::PropertyDict& properties);

// Compresses packed 8-bit samples as JPEG at the converter's quality and
// resolution into outputData. 1, or 0 when no bytes came out.
int EncodeJPEGWithConverter(ImageConverter* converter, int width, int height, const std::uint8_t* samples,
                            int colorSpace, int components);
