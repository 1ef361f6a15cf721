#pragma once

#include "platform/PropertyDict.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace plat::codecs {

// EXIF, GPS, IPTC and XMP through exiv2, as property dictionaries:
//   {TIFF}  EXIF IFD0 tags by name ("Make", "Model", "DateTime", ...)
//   {Exif}  EXIF sub-IFD tags ("DateTimeOriginal", "ExposureTime", ...)
//   {GPS}   GPS tags ("GPSLatitude", "GPSLatitudeRef", ...)
//   {IPTC}  IPTC application records by name ("Keywords" as an array, ...)
//   {XMP}   the XMP packet under "XMLPacket"
// Single integers are integers; everything else is exiv2's text form
// (rationals as "300/1", several values separated by spaces). Tags that
// describe the pixel layout of the file are left out: they belong to the
// encoder, not to the picture.

// Adds the dictionaries found in the file (or bytes). Silent on failure.
void ReadMetadata(const std::filesystem::path& path, PropertyDict& properties);
void ReadMetadata(const std::uint8_t* data, std::size_t size, PropertyDict& properties);

// The file's EXIF as exiv2 reads it, as one block (TIFF structure), also
// where no image library finds it (a PNG's "Raw profile type exif" text, as
// exiv2 and ImageMagick write it). Empty when there is none.
std::vector<std::uint8_t> ReadExifBlock(const std::filesystem::path& path);

// What the encoder writes besides the dictionaries of `properties`.
struct MetadataWrite {
    const PropertyDict* properties = nullptr;  // may hold {TIFF}, {Exif}, {GPS}, {IPTC}, {XMP}
    int orientation = 0;                       // 0: none written
    double dpiX = 0.0, dpiY = 0.0;             // 0: none written
    int pixelWidth = 0, pixelHeight = 0;       // replaces stale EXIF pixel dimensions
};

// The XMP packet of a source made true of an output stored with
// `orientation` and of `width` × `height` pixels (0: sizes unchanged);
// everything else in it stays. The packet as it was when it cannot be read.
std::string XmpForOutput(const std::string& packet, int orientation, int width, int height);
// An EXIF block (TIFF structure) made true of an upright output of `width`
// × `height` pixels, without the old thumbnail. Empty when it cannot be read.
std::vector<std::uint8_t> ExifForOutput(const std::vector<std::uint8_t>& exif, int width, int height);

// True when exiv2 can write EXIF into files of this type identifier.
bool CanWriteMetadata(const std::string& typeIdentifier);
// True when `request` has anything that goes into the file's EXIF/IPTC/XMP.
bool HasMetadataToWrite(const MetadataWrite& request);
// Rewrites the encoded file in `bytes` with the metadata. False (bytes
// unchanged) when exiv2 cannot read or write it.
bool WriteMetadata(std::vector<std::uint8_t>& bytes, const MetadataWrite& request);

}  // namespace plat::codecs
