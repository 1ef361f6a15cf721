#pragma once
// The preview window's geometry and texts, as plain functions. Rectangles
// are y-up with the origin at the lower left of the screen space.

#include <QString>

#include <cstdint>

struct PreviewRect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    friend bool operator==(const PreviewRect&, const PreviewRect&) = default;
};

struct PreviewFitInput {
    PreviewRect screen;  // the main screen's visible frame; all 0 without a screen
    double minWidth = 0.0;
    double minHeight = 0.0;
    PreviewRect frame;  // the window's frame now
    std::int64_t imageHeight = 0;
    std::int64_t imageWidth = 0;
};

// Chrome above and below the image (a bar of 35 plus 10) and the side margins.
constexpr double kPreviewChromeHeight = 45.0;
constexpr double kPreviewSideMargins = 20.0;

// ResizePreviewWindowWithHeight:ImageWidth:'s frame: the image at the largest
// scale that fits the screen, keeping the window's top and left edges where
// they were when it can. An image without pixels leaves the frame as it is.
PreviewRect FitPreviewWindow(const PreviewFitInput& input);

// "%ld of %ld (%@ @ %.0f dpi, %.0f x %.0f pixels)".
QString PreviewCaption(std::int64_t number, std::int64_t count, const QString& fileName, double dpi, double width,
                       double height);
// The caption with its leading "N of M (" renumbered; the rest kept.
QString RenumberPreviewCaption(const QString& caption, std::int64_t number, std::int64_t count);

// The next/previous control: hidden for a list of one; previous off at the
// first entry, next off at the last.
struct PreviewNavigationState {
    bool hidden = false;
    bool previousEnabled = false;
    bool nextEnabled = false;
};
PreviewNavigationState PreviewNavigation(std::int64_t index, std::int64_t count);
// The index after pressing a segment (0 previous, 1 next).
std::int64_t PreviewIndexAfterSegment(std::int64_t index, std::int64_t count, int segment);
