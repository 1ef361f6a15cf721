#include "platform/AffineTransform.h"

#include <algorithm>
#include <cmath>

namespace plat {

Rect Rect::united(const Rect& other) const {
    if (other.isEmpty()) {
        return standardized();
    }
    if (isEmpty()) {
        return other.standardized();
    }
    const double x0 = std::min(minX(), other.minX());
    const double y0 = std::min(minY(), other.minY());
    const double x1 = std::max(maxX(), other.maxX());
    const double y1 = std::max(maxY(), other.maxY());
    return {x0, y0, x1 - x0, y1 - y0};
}

AffineTransform AffineTransform::rotation(double radians) {
    const double cs = std::cos(radians);
    const double sn = std::sin(radians);
    return {cs, sn, -sn, cs, 0, 0};
}

AffineTransform AffineTransform::concatenating(const AffineTransform& f) const {
    // Points go through `f` first: p' = this(f(p)).
    return {a * f.a + c * f.b,
            b * f.a + d * f.b,
            a * f.c + c * f.d,
            b * f.c + d * f.d,
            a * f.tx + c * f.ty + tx,
            b * f.tx + d * f.ty + ty};
}

std::optional<AffineTransform> AffineTransform::inverted() const {
    const double det = determinant();
    if (det == 0.0 || !std::isfinite(det)) {
        return std::nullopt;
    }
    const double ia = d / det;
    const double ib = -b / det;
    const double ic = -c / det;
    const double id = a / det;
    return AffineTransform{ia, ib, ic, id, -(ia * tx + ic * ty), -(ib * tx + id * ty)};
}

Rect AffineTransform::apply(const Rect& r) const {
    const Point corners[4] = {apply(Point{r.minX(), r.minY()}), apply(Point{r.maxX(), r.minY()}),
                              apply(Point{r.minX(), r.maxY()}), apply(Point{r.maxX(), r.maxY()})};
    double x0 = corners[0].x, x1 = corners[0].x, y0 = corners[0].y, y1 = corners[0].y;
    for (const Point& p : corners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace plat
