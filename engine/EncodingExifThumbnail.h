#pragma once
// The EXIF thumbnail of a written JPEG. A thumbnail carried over from the
// source shows the old picture (before turning, cropping or watermarking,
// and whatever was cropped away), so the converter's output never keeps one.

#include <cstdint>
#include <vector>

// Removes the thumbnail of the EXIF block of the JPEG data in `jpeg`: its
// image bytes are zeroed and the directory that points at them is unlinked,
// so the data keeps its size and layout. True when a thumbnail was dropped;
// data without one, or that does not parse, is left as it is.
bool DropJPEGExifThumbnail(std::vector<std::uint8_t>& jpeg);
