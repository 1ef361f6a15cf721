#pragma once
// Pure geometry of a conversion: orientation transforms, watermark placement
// from the editor canvas, units, and the resize geometry that turns the resize
// options into an output canvas and a drawing rectangle. No image library is
// involved, so the current image view and the watermark editor share these.

#include <cstdint>

#include "platform/AffineTransform.h"

// Longer side of the watermark editor canvas, in points.
constexpr double kEditorCanvasSide = 550.0;

// Largest side and area of an output canvas: the guard against impossible sizes.
constexpr double kMaxCanvasSide = 131072.0;
constexpr double kMaxCanvasPixels = 1073741824.0;  // 2^30

// --- Orientation -----------------------------------------------------------

// Index 0..7 of the eight rotation and flip transforms for a flip mask (bit 0
// horizontal, bit 1 vertical) and an angle in degrees (multiples of 90, positive
// counter-clockwise).
int GetOrientationTransformIndex(std::int32_t flipMask, std::int64_t angle);
// The transform of that index over a canvas of `width` × `height`: it maps the
// upright canvas to the turned bitmap (y-up).
plat::AffineTransform GetOrientationTransformForIndex(int index, double width, double height);
plat::AffineTransform GetOrientationTransform(double width, double height, std::int32_t flipMask,
                                              std::int64_t angle);
// True when the angle is an odd number of quarter turns: width and height swap.
bool IsOddQuarterTurn(std::int64_t angle);
// EXIF orientation for an angle: 0/360 → 1, 90/-270 → 6, ±180 → 3, 270/-90 → 8;
// any other angle gives `current` back.
std::uint32_t GetOrientationForAngle(std::int64_t angle, std::uint32_t current);

// --- Watermark placement ---------------------------------------------------

// Scale from editor points to output pixels: max(width, height) / 550, in
// single precision.
float GetEditorScale(double outputWidth, double outputHeight);

// Maps a watermark rectangle (first corner a, opposite corner b, in editor view
// points) into an output of `outputWidth` × `outputHeight`. Per axis the
// rectangle stays anchored to what it was nearest to in the editor: the low
// edge, the centre or the high edge; its own extent scales by `scaleX`/`scaleY`.
// Ties go to the low edge, then the centre; a three-way tie gives 0.
plat::Point GetWatermarkPosition(plat::Point a, plat::Point b, double outputWidth, double outputHeight,
                                 double viewWidth, double viewHeight, double scaleX, double scaleY);

// A watermark image's pixel size fitted into the 550-point editor canvas.
plat::Size FitWatermarkImageSize(double width, double height);

// --- Units -----------------------------------------------------------------

// Resize units.
enum ResizeUnit : std::int32_t {
    kUnitPercent = 1,
    kUnitPixels = 2,
    kUnitInches = 3,
    kUnitCentimetres = 4,
    kUnitMillimetres = 5,
    kUnitPoints = 6,
};

double ConvertUnitToPoints(std::int32_t unit, double value);
double ConvertUnitToInches(std::int32_t unit, double value);

// --- Resize geometry -------------------------------------------------------

// The part of the resize options the geometry reads.
struct ResizeRequest {
    bool keepProportions = false;
    bool applySize = true;  // false: keep the pixels, change only the resolution
    bool upsample = false;
    bool sharpen = false;
    std::int64_t dpi = 0;   // 0 or less: the source's resolution
    double width = 0.0;     // in `unit`
    double height = 0.0;
    std::int32_t unit = kUnitPercent;
    std::int32_t scaleOption = 0;
};

struct Resolution {
    double x = 72.0;
    double y = 72.0;
};

// The output resolution: the request's dpi, or the source's when it is below 1.
Resolution ComputeOutputResolution(const ResizeRequest& request, Resolution source);

// The requested size in pixels for a source of `sourceWidth` × `sourceHeight`
// pixels at `resolution`.
plat::Size ComputeTargetSize(const ResizeRequest& request, double sourceWidth, double sourceHeight,
                             Resolution resolution);

struct ResizeGeometry {
    bool valid = false;        // false: the request cannot make an image
    bool keepPixels = false;   // the pixels stay, only the resolution changes
    std::uint32_t canvasWidth = 0;
    std::uint32_t canvasHeight = 0;
    plat::Rect drawRect;       // where the source lands on the canvas, y-up
    bool sharpen = false;
    Resolution resolution;     // output resolution (changed by keepPixels)
};

// Applies the fitting rule of the scale option: scale options 0 (width), 1
// (height), 2 (fit inside), 5 (cover), 6 (cover and crop) with kept
// proportions; 3 (centred crop) and any other (stretch) without.
ResizeGeometry ComputeResizeGeometry(const ResizeRequest& request, double sourceWidth, double sourceHeight,
                                     double targetWidth, double targetHeight, Resolution resolution);

// Both steps: resolution, target size and geometry.
ResizeGeometry ComputeResizeGeometryForSource(const ResizeRequest& request, double sourceWidth,
                                              double sourceHeight, Resolution sourceResolution);
