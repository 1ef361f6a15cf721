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
// Chunks whose meaning depends on the colour type and bit depth (tRNS, bKGD,
// sBIT, hIST) count only when those did not change, or when only the depth
// of a palette image changed and its palette stayed the same. False when either is not
// a well-formed PNG; `result` is then unchanged.
bool CarryOverAncillaryChunks(const std::vector<std::uint8_t>& original, std::vector<std::uint8_t>& result);

// The same for two files; the result file is rewritten only when something
// was put back. False when the result cannot carry the original's chunks.
bool CarryOverAncillaryChunks(const std::string& originalPath, const std::string& resultPath);

}  // namespace optimisation
