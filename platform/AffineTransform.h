#pragma once

#include <optional>

namespace plat {

// Plane geometry in y-up coordinates with the origin at the lower left.
struct Point {
    double x = 0.0;
    double y = 0.0;

    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0.0;
    double height = 0.0;

    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(double x, double y, double width, double height) : origin{x, y}, size{width, height} {}
    Rect(Point o, Size s) : origin(o), size(s) {}

    double minX() const { return size.width < 0 ? origin.x + size.width : origin.x; }
    double minY() const { return size.height < 0 ? origin.y + size.height : origin.y; }
    double maxX() const { return size.width < 0 ? origin.x : origin.x + size.width; }
    double maxY() const { return size.height < 0 ? origin.y : origin.y + size.height; }
    bool isEmpty() const { return size.width == 0.0 || size.height == 0.0; }
    // The same rectangle with a non-negative width and height.
    Rect standardized() const { return {minX(), minY(), maxX() - minX(), maxY() - minY()}; }
    // The smallest rectangle holding both; an empty rectangle counts as absent.
    Rect united(const Rect& other) const;

    friend bool operator==(const Rect&, const Rect&) = default;
};

// x' = a·x + c·y + tx, y' = b·x + d·y + ty.
struct AffineTransform {
    double a = 1.0;
    double b = 0.0;
    double c = 0.0;
    double d = 1.0;
    double tx = 0.0;
    double ty = 0.0;

    static AffineTransform identity() { return {}; }
    static AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    // Counter-clockwise by `radians` in y-up space.
    static AffineTransform rotation(double radians);

    // The transform that applies `first` and then this one: this ∘ first.
    AffineTransform concatenating(const AffineTransform& first) const;
    // Applies this transform first, then `then`.
    AffineTransform then(const AffineTransform& next) const { return next.concatenating(*this); }
    // Empty for a singular transform.
    std::optional<AffineTransform> inverted() const;

    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    // Applies only the linear part (for offsets and directions).
    Point applyToVector(Point v) const { return {a * v.x + c * v.y, b * v.x + d * v.y}; }
    // Bounding box of the transformed rectangle.
    Rect apply(const Rect& r) const;

    bool isIdentity() const { return *this == AffineTransform{}; }
    double determinant() const { return a * d - b * c; }

    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

}  // namespace plat
