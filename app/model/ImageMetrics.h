#pragma once

#include <filesystem>

// Pixel size and resolution of an image as the option controls use them; 0
// for what is not known.
struct ImageMetrics {
    double width = 0.0;
    double height = 0.0;
    double dpi = 0.0;

    bool complete() const;
};

// Fills in what `metrics` does not know from the file (its displayed size
// and resolution, 72 dpi when it records none). An unreadable file adds
// nothing.
ImageMetrics CompleteImageMetricsFromFile(ImageMetrics metrics, const std::filesystem::path& url);
