#pragma once
// The current image of the main window: the selected entry's file decoded at
// about the size it is shown, turned and mirrored by the entry's rotation and
// flip through the engine's own orientation transform, and the zoom factor
// that the description gives.

#include "app/model/ListViewBaseCellEntity.h"

#include <cstdint>
#include <filesystem>

struct CurrentImage {
    // Turned pixels (packed RGBA); null when the file cannot be shown.
    ThumbnailRef pixels;
    // Upright full size of the source in pixels and in points, before turning.
    double pixelWidth = 0.0;
    double pixelHeight = 0.0;
    double pointWidth = 0.0;
    double pointHeight = 0.0;
    // Shown size in points: exchanged for an odd number of quarter turns.
    double shownWidth = 0.0;
    double shownHeight = 0.0;
};

// Decodes the file so that its longer side keeps at least `maxPixelSide`
// pixels where the decoder can shrink while loading (the whole image
// otherwise, drawn down to that side), then turns it.
CurrentImage MakeCurrentImage(const std::filesystem::path& url, std::int64_t angle, std::int32_t flipMask,
                              int maxPixelSide);

// Zoom of an image of `pixelWidth` × `pixelHeight` upright pixels, shown
// turned by `angle` and fitted into a view of `viewWidth` × `viewHeight`:
// 1.0 is 100 %. The turned size is used, and an unknown size gives 0.
double CurrentImageZoom(double pixelWidth, double pixelHeight, std::int64_t angle, double viewWidth,
                        double viewHeight);
