#pragma once
// Texts of the image list's rows and of the current image's description, and
// the arithmetic of the per-image quarter turns and flips.

#include <QString>

#include <cstdint>

// "300 pixel/in".
QString ResolutionText(double resolution);
// "4000 x 3000 pixels".
QString PixelSizeText(double width, double height);

// "At 20.00% Zoom", then ", Rotated by -90˚" for a turned image and the flip
// text (", Fliped Horizonally", ", Fliped Vertically" or both).
QString ImageFileDescription(double zoom, std::int64_t angle, std::int32_t flipMask);

// The angle after a turn by `step` degrees (positive: to the left). Angles
// stay within -270 ... 270: a full turn comes back to 0.
std::int64_t RotatedAngle(double angle, std::int64_t step);
// The flip mask after mirroring by `mask` (1 horizontal, 2 vertical): the
// same mirror twice restores the image.
std::int32_t FlippedMask(std::int32_t flip, std::int32_t mask);
