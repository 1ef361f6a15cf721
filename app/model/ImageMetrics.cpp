// Kept free of Qt headers: the engine's headers reach GLib, whose
// declarations clash with Qt's keyword macros.
#include "app/model/ImageMetrics.h"

#include "engine/ImageFile.h"

#include <cmath>

namespace {

bool Usable(double value) {
    return std::isfinite(value) && value > 0.0;
}

}  // namespace

bool ImageMetrics::complete() const {
    return Usable(width) && Usable(height) && Usable(dpi);
}

ImageMetrics CompleteImageMetricsFromFile(ImageMetrics metrics, const std::filesystem::path& url) {
    if (metrics.complete() || url.empty()) return metrics;
    ImageFile file;
    InitImageFile(&file);
    if (LoadImageFile(&file, url)) {
        if (!Usable(metrics.width)) metrics.width = GetImageFileWidth(&file);
        if (!Usable(metrics.height)) metrics.height = GetImageFileHeight(&file);
        if (!Usable(metrics.dpi)) metrics.dpi = GetImageFileDPI(&file);
    }
    ReleaseImageFile(&file);
    return metrics;
}
