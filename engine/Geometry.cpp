#include "engine/Geometry.h"

#include <algorithm>
#include <cmath>

namespace {

// Halves to even, as the output sizes are rounded.
double Nearest(double x) { return std::nearbyint(x); }

bool CanvasSideAllowed(double side) { return std::isfinite(side) && side >= 1.0 && side <= kMaxCanvasSide; }

bool CanvasAllowed(double width, double height) {
    return CanvasSideAllowed(width) && CanvasSideAllowed(height) && width * height <= kMaxCanvasPixels;
}

// One axis of the watermark mapping.
double AnchorWatermarkAxis(double a, double b, double view, double output, double scale) {
    const double k = output / view;
    const double centreOffset = (b - a) / 2 + a - view / 2;
    const float toCentre = static_cast<float>(std::fabs(centreOffset));
    const float toLow = static_cast<float>(std::fabs(a));
    const float toHigh = static_cast<float>(std::fabs(view - b));

    double position = 0.0;
    if (toLow == toCentre && toLow == toHigh) {
        position = 0.0;  // nothing to prefer
    } else if (toLow <= toCentre && toLow <= toHigh) {
        position = k * a;
    } else if (toCentre <= toHigh) {
        position = output / 2 + centreOffset * k - (b - a) / 2 * scale;
    } else {
        position = output - (view - b) * k - (b - a) * scale;
    }
    return std::isfinite(position) ? position : 0.0;
}

}  // namespace

// --- Orientation -----------------------------------------------------------

int GetOrientationTransformIndex(std::int32_t flipMask, std::int64_t angle) {
    std::int32_t f = flipMask & 3;
    std::int64_t a = angle;
    if (f == 3) {
        // Both flips together are a half turn.
        a = (a + 180 < 360) ? a + 180 : a - 180;
        f = 0;
    } else if (a == 180 || a == -180) {
        if (f == 1) return 3;
        if (f == 2) return 1;
    }
    switch (a) {
    case 90:
    case -270:
        return f == 0 ? 7 : f == 1 ? 6 : f == 2 ? 4 : 0;
    case 180:
    case -180:
        return 2;
    case 270:
    case -90:
        return f == 0 ? 5 : f == 1 ? 4 : f == 2 ? 6 : 0;
    default:
        return f == 2 ? 3 : f == 1 ? 1 : 0;
    }
}

plat::AffineTransform GetOrientationTransformForIndex(int index, double w, double h) {
    switch (index) {
    case 1: return {-1, 0, 0, 1, w, 0};
    case 2: return {-1, 0, 0, -1, w, h};
    case 3: return {1, 0, 0, -1, 0, h};
    case 4: return {0, -1, -1, 0, h, w};
    case 5: return {0, -1, 1, 0, 0, w};
    case 6: return {0, 1, 1, 0, 0, 0};
    case 7: return {0, 1, -1, 0, h, 0};
    default: return {};
    }
}

plat::AffineTransform GetOrientationTransform(double width, double height, std::int32_t flipMask,
                                              std::int64_t angle) {
    return GetOrientationTransformForIndex(GetOrientationTransformIndex(flipMask, angle), width, height);
}

bool IsOddQuarterTurn(std::int64_t angle) { return (angle / 90) % 2 != 0; }

std::uint32_t GetOrientationForAngle(std::int64_t angle, std::uint32_t current) {
    switch (angle) {
    case 0:
    case 360: return 1;
    case 90:
    case -270: return 6;
    case 180:
    case -180: return 3;
    case 270:
    case -90: return 8;
    default: return current;
    }
}

// --- Watermark placement ---------------------------------------------------

float GetEditorScale(double outputWidth, double outputHeight) {
    return static_cast<float>(std::max(outputWidth, outputHeight)) / static_cast<float>(kEditorCanvasSide);
}

plat::Point GetWatermarkPosition(plat::Point a, plat::Point b, double outputWidth, double outputHeight,
                                 double viewWidth, double viewHeight, double scaleX, double scaleY) {
    return {AnchorWatermarkAxis(a.x, b.x, viewWidth, outputWidth, scaleX),
            AnchorWatermarkAxis(a.y, b.y, viewHeight, outputHeight, scaleY)};
}

plat::Size FitWatermarkImageSize(double width, double height) {
    if (width > height && width > kEditorCanvasSide) {
        height = height / (width / kEditorCanvasSide);
        width = kEditorCanvasSide;
    } else if (height >= width && height > kEditorCanvasSide) {
        width = width / (height / kEditorCanvasSide);
        height = kEditorCanvasSide;
    }
    return {width, height};
}

// --- Units -----------------------------------------------------------------

double ConvertUnitToPoints(std::int32_t unit, double value) {
    switch (unit) {
    case kUnitMillimetres: return value / 25.4 * 72.0;
    case kUnitCentimetres: return value / 2.54 * 72.0;
    default: return value * 72.0;
    }
}

double ConvertUnitToInches(std::int32_t unit, double value) {
    switch (unit) {
    case kUnitMillimetres: return value * 0.03937007859349251;
    case kUnitCentimetres: return value * 0.3937007784843445;
    default: return value / 72.0;
    }
}

// --- Resize geometry -------------------------------------------------------

Resolution ComputeOutputResolution(const ResizeRequest& request, Resolution source) {
    if (request.dpi < 1) return source;
    const double dpi = static_cast<double>(request.dpi);
    return {dpi, dpi};
}

plat::Size ComputeTargetSize(const ResizeRequest& request, double sourceWidth, double sourceHeight,
                             Resolution resolution) {
    switch (request.unit) {
    case kUnitPixels:
        return {request.width, request.height};
    case kUnitPoints:
        return {request.width * resolution.x / 72.0, request.height * resolution.y / 72.0};
    case kUnitPercent:
        return {request.width / 100.0 * sourceWidth, request.height / 100.0 * sourceHeight};
    default:
        return {ConvertUnitToPoints(request.unit, request.width) * resolution.x / 72.0,
                ConvertUnitToPoints(request.unit, request.height) * resolution.y / 72.0};
    }
}

namespace {

ResizeGeometry KeepPixelsGeometry(double W, double H, double tw, double th, Resolution resolution) {
    ResizeGeometry g;
    g.keepPixels = true;
    double dpiX = resolution.x;
    double dpiY = resolution.y;
    if (tw == 0 && th > 0) {
        const double updated = H / (th / 72.0);
        dpiX = updated / dpiY * dpiX;
        dpiY = updated;
    } else {
        const double updated = W / (tw / 72.0);
        dpiY = updated / dpiX * dpiY;
        dpiX = updated;
    }
    if (!(std::isfinite(dpiX) && std::isfinite(dpiY) && dpiX > 0 && dpiY > 0)) return g;
    g.resolution = {dpiX, dpiY};
    g.canvasWidth = static_cast<std::uint32_t>(W);
    g.canvasHeight = static_cast<std::uint32_t>(H);
    g.drawRect = plat::Rect(0, 0, W, H);
    g.valid = true;
    return g;
}

ResizeGeometry ProportionalGeometry(const ResizeRequest& request, double W, double H, double tw, double th) {
    ResizeGeometry g;
    const double rx = tw / W;
    const double ry = th / H;
    double k = 0.0;
    switch (request.scaleOption) {
    case 5:
    case 6:
        k = (th > Nearest(H * rx)) ? ry : rx;
        break;
    case 2:
        k = (Nearest(H * rx) > th) ? ry : rx;
        break;
    default:
        if (tw > 0 && th == 0) k = rx;
        else if (tw == 0 && th > 0) k = ry;
        break;
    }
    const double nw = Nearest(W * k);
    const double nh = Nearest(H * k);
    // Without upsampling a too large request keeps the source's size, however
    // large it was.
    if (!request.upsample && (nw > W || nh > H)) {
        g.canvasWidth = static_cast<std::uint32_t>(W);
        g.canvasHeight = static_cast<std::uint32_t>(H);
        g.drawRect = plat::Rect(0, 0, W, H);
        g.valid = true;
        return g;
    }
    if (!CanvasAllowed(nw, nh)) return g;

    double cw = nw;
    double ch = nh;
    double x = 0.0;
    double y = 0.0;
    if (request.scaleOption == 6) {
        if (nw > tw) {
            cw = std::trunc(tw);
            x = -Nearest((nw - tw) * 0.5);
        }
        if (nh > th) {
            ch = std::trunc(th);
            y = -Nearest((nh - th) * 0.5);
        }
        if (!CanvasAllowed(cw, ch)) return g;
    }
    g.canvasWidth = static_cast<std::uint32_t>(cw);
    g.canvasHeight = static_cast<std::uint32_t>(ch);
    g.drawRect = plat::Rect(x, y, nw, nh);
    g.valid = true;
    return g;
}

ResizeGeometry FreeGeometry(const ResizeRequest& request, double W, double H, double tw, double th) {
    ResizeGeometry g;
    if (request.scaleOption == 3) {
        // Centred crop, never larger than the source.
        const double cw = std::trunc(std::min(W, tw));
        const double ch = std::trunc(std::min(H, th));
        if (!CanvasAllowed(cw, ch)) return g;
        g.canvasWidth = static_cast<std::uint32_t>(cw);
        g.canvasHeight = static_cast<std::uint32_t>(ch);
        g.drawRect = plat::Rect(-Nearest((W - cw) * 0.5), -Nearest((H - ch) * 0.5), W, H);
        g.valid = true;
        return g;
    }
    if (!request.upsample && (th > H || tw > W)) {
        g.canvasWidth = static_cast<std::uint32_t>(W);
        g.canvasHeight = static_cast<std::uint32_t>(H);
        g.drawRect = plat::Rect(0, 0, W, H);
        g.valid = true;
        return g;
    }
    const double cw = std::trunc(tw);
    const double ch = std::trunc(th);
    if (!CanvasAllowed(cw, ch)) return g;
    g.canvasWidth = static_cast<std::uint32_t>(cw);
    g.canvasHeight = static_cast<std::uint32_t>(ch);
    g.drawRect = plat::Rect(0, 0, cw, ch);
    g.valid = true;
    return g;
}

}  // namespace

ResizeGeometry ComputeResizeGeometry(const ResizeRequest& request, double sourceWidth, double sourceHeight,
                                     double targetWidth, double targetHeight, Resolution resolution) {
    const double W = sourceWidth;
    const double H = sourceHeight;
    const double tw = targetWidth;
    const double th = targetHeight;
    if (!CanvasAllowed(W, H) || !std::isfinite(tw) || !std::isfinite(th)) return {};

    ResizeGeometry g;
    if (!request.applySize) {
        g = KeepPixelsGeometry(W, H, tw, th, resolution);
        return g;
    }
    g = request.keepProportions ? ProportionalGeometry(request, W, H, tw, th)
                                : FreeGeometry(request, W, H, tw, th);
    // The drawn size may exceed the canvas when cropping; it is bounded too.
    if (g.valid && !CanvasAllowed(g.drawRect.size.width, g.drawRect.size.height)) return {};
    g.sharpen = request.sharpen;
    g.resolution = resolution;
    return g;
}

ResizeGeometry ComputeResizeGeometryForSource(const ResizeRequest& request, double sourceWidth,
                                              double sourceHeight, Resolution sourceResolution) {
    const Resolution resolution = ComputeOutputResolution(request, sourceResolution);
    const plat::Size target = ComputeTargetSize(request, sourceWidth, sourceHeight, resolution);
    return ComputeResizeGeometry(request, sourceWidth, sourceHeight, target.width, target.height, resolution);
}
