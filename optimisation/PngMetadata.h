#pragma once
// Keeps a PNG's ancillary chunks (colour profile and colour space, physical
// size, text, EXIF, time, private chunks) in an optimiser's output: the tools
// drop some of them even when asked to keep everything.

#include <cstdint>
#include <string>
#include <vector>

namespace optimisation {

// Puts every ancillary chunk of `original` that `result` lacks back into
// `result`, where the format wants it: colour chunks and chunks that stood
// before the image data before it, chunks that stood after it after it.
// Chunks whose meaning depends on the sample format (tRNS, bKGD, sBIT, hIST)
// go back as they are when it did not change (for palette images: the same
// palette, whatever the depth); a background is found again by its colour
// in a changed palette or the palette an 8-bit RGB image was reduced to,
// whose sBIT holds there as for any palette. False, with
// `result` unchanged, when either is not a well-formed PNG, or when the
// result lacks such a chunk and it cannot be put back: the result would say
// less than the original (a background or transparency lost).
bool CarryOverAncillaryChunks(const std::vector<std::uint8_t>& original, std::vector<std::uint8_t>& result);

// The same for two files; the result file is rewritten only when something
// was put back. False when the result cannot carry the original's chunks.
bool CarryOverAncillaryChunks(const std::string& originalPath, const std::string& resultPath);

}  // namespace optimisation
