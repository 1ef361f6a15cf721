// The platform headers reach GLib, which must come before Qt's keyword macros.
#include "engine/Geometry.h"
#include "engine/TextWatermark.h"
#include "platform/Font.h"

#include "app/model/WatermarkEditorModel.h"

#include <algorithm>
#include <cmath>

namespace {

double Clamp01(double value) {
    return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
}

plat::Color ClampColor(plat::Color color) {
    return {Clamp01(color.red), Clamp01(color.green), Clamp01(color.blue), Clamp01(color.alpha)};
}

bool HasArea(QSizeF size) {
    return size.width() != 0.0 && size.height() != 0.0;
}

// Where a watermark lands on a canvas of `canvas` when it was placed on one
// of `previous`: anchored per axis to its nearest edge or the centre, its own
// extent unchanged.
QPointF Reanchor(QPointF origin, QPointF end, QSizeF canvas, QSizeF previous) {
    // Without two real extents there is nothing to scale by: the watermark stays.
    if (!HasArea(canvas) || !HasArea(previous)) return origin;
    const plat::Point p = GetWatermarkPosition({origin.x(), origin.y()}, {end.x(), end.y()}, canvas.width(),
                                               canvas.height(), previous.width(), previous.height(), 1.0, 1.0);
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return origin;
    return {p.x, p.y};
}

// Degrees to radians in single precision, as the text is drawn.
double RotationRadians(std::int64_t degrees) {
    return static_cast<float>(static_cast<float>(degrees) * 0.017453292f);
}

// The part of a drag on one axis: where the grab point may go, from the
// mouse position m, the grab offsets of the text and the image and the
// frame extent.
double ClampDragAxis(double m, double dText, double dImage, double extent) {
    const double limit = extent - 10.0;
    const double hi = std::max(dText, dImage);
    const double lo = std::min(dText, dImage);
    if (m - dText < 0.0 || m - dImage < 0.0) return hi;
    if (m - dText > limit || m - dImage > limit) return lo + limit;
    return std::min(m, limit);
}

std::array<float, 6> CenterArray(QPointF first, QPointF opposite, QSizeF view) {
    return {static_cast<float>(first.x()),    static_cast<float>(first.y()),     static_cast<float>(opposite.x()),
            static_cast<float>(opposite.y()), static_cast<float>(view.width()), static_cast<float>(view.height())};
}

}  // namespace

WatermarkEditorModel::WatermarkEditorModel(QObject* parent) : QObject(parent) {
    InitializeWatermarkOptions();
}

template <typename T>
void WatermarkEditorModel::assign(T& field, const T& value) {
    if (field == value) return;
    field = value;
    emit valueChanged();
}

template <typename T>
void WatermarkEditorModel::assignText(T& field, const T& value) {
    if (field == value) return;
    field = value;
    updateTextGeometry();
    emit valueChanged();
}

template <typename T>
void WatermarkEditorModel::assignImage(T& field, const T& value) {
    if (field == value) return;
    field = value;
    updateImageGeometry();
    emit valueChanged();
}

void WatermarkEditorModel::InitializeWatermarkOptions() {
    settings_ = {};
    settings_.textFont = plat::Font::defaultFont();
    updateTextGeometry();
    updateImageGeometry();
    emit valueChanged();
}

TextWatermarkStyle WatermarkEditorModel::textStyle(double scaleX, double scaleY) const {
    TextWatermarkStyle style;
    style.font = settings_.textFont;
    style.fontSize = static_cast<double>(settings_.textFontSize);
    style.drawingMode = settings_.drawingMode;
    style.textColor = settings_.textFontColor;
    style.strokeWidth = static_cast<double>(settings_.strokeWidth);
    style.opacity = settings_.textOpacity;
    style.characterSpacing = effectiveCharacterSpacing();
    style.rotation = static_cast<double>(settings_.textRotationAngle);
    style.shadow = settings_.dropShadowApplied;
    style.shadowColor = settings_.textShadowColor;
    style.shadowBlur = static_cast<double>(settings_.shadowBlur) * scaleX;
    style.shadowOffset = {static_cast<double>(settings_.xOffset) * scaleX,
                          static_cast<double>(settings_.yOffset) * scaleY};
    return style;
}

TextWatermarkLayout WatermarkEditorModel::layoutText() const {
    return LayoutTextWatermark(settings_.textString.toStdString(), textStyle(), {centerLoc_.x(), centerLoc_.y()});
}

QRectF WatermarkEditorModel::textHitRectForGlyphs(QRectF glyphs, QPointF start, QPointF end) {
    const double run = std::hypot(end.x() - start.x(), end.y() - start.y());
    return {std::min(glyphs.x(), 0.0) - 0.25 * glyphs.width(), std::min(glyphs.y(), 0.0) - 0.25 * glyphs.height(),
            run + 0.5 * glyphs.width(), 1.5 * glyphs.height()};
}

void WatermarkEditorModel::updateTextGeometry() {
    const TextWatermarkLayout layout = layoutText();
    if (layout.glyphs.empty()) {
        // Nothing to draw: the run is empty and so is its frame.
        nextTextLoc_ = centerLoc_;
        textGlyphRect_ = {};
    } else {
        nextTextLoc_ = {layout.endPoint.x, layout.endPoint.y};
        textGlyphRect_ = {layout.glyphBounds.origin.x, layout.glyphBounds.origin.y, layout.glyphBounds.size.width,
                          layout.glyphBounds.size.height};
    }
    textFrameRect_ = textHitRectForGlyphs(textGlyphRect_, centerLoc_, nextTextLoc_).translated(centerLoc_);
    emit geometryChanged();
}

QSizeF WatermarkEditorModel::watermarkImageNaturalSize() const {
    if (!watermarkImage_) return {};
    const plat::Size fitted = FitWatermarkImageSize(watermarkImage_->width(), watermarkImage_->height());
    return {fitted.width, fitted.height};
}

QSizeF WatermarkEditorModel::watermarkImageDrawnSize() const {
    return watermarkImageNaturalSize() * settings_.imageSize;
}

void WatermarkEditorModel::updateImageGeometry() {
    if (!watermarkImage_) {
        // Without an image the stored corners stay; the frame is empty.
        imageFrameRect_ = {};
    } else {
        const QSizeF drawn = watermarkImageDrawnSize();
        nextImageLoc_ = imageLoc_ + QPointF(drawn.width(), drawn.height());
        imageFrameRect_ = {imageLoc_, drawn};
    }
    emit geometryChanged();
}

void WatermarkEditorModel::beginDrawing(QSizeF viewSize) {
    if (settings_.imageWatermarkFlag && watermarkImage_) {
        if (settings_.imageMouseEventClicked) settings_.imageMouseEventClicked = false;
        else imageLoc_ = Reanchor(imageLoc_, nextImageLoc_, viewSize, imageViewRectForImage_.size());
        imageViewRectForImage_ = {QPointF(), viewSize};
        updateImageGeometry();
    }
    if (settings_.textWatermarkFlag) {
        if (settings_.textMouseEventClicked) settings_.textMouseEventClicked = false;
        else centerLoc_ = Reanchor(centerLoc_, nextTextLoc_, viewSize, imageViewRectForText_.size());
        imageViewRectForText_ = {QPointF(), viewSize};
        updateTextGeometry();
    }
}

std::optional<std::array<float, 6>> WatermarkEditorModel::textCenterArray() const {
    if (!selectionIndexes_.contains(0) || !settings_.textWatermarkFlag) return std::nullopt;
    return CenterArray(centerLoc_, nextTextLoc_, imageViewRectForText_.size());
}

std::optional<std::array<float, 6>> WatermarkEditorModel::imageCenterArray() const {
    if (!selectionIndexes_.contains(1) || !settings_.imageWatermarkFlag) return std::nullopt;
    return CenterArray(imageLoc_, nextImageLoc_, imageViewRectForImage_.size());
}

int WatermarkEditorModel::hitTest(QPointF viewPoint) const {
    if (currentXScale_ <= 0.0 || currentYScale_ <= 0.0) return -1;
    const QPointF canvas(viewPoint.x() / currentXScale_, viewPoint.y() / currentYScale_);
    if (settings_.textWatermarkFlag) {
        // Turn the point back about the text's start instead of turning the frame.
        const plat::AffineTransform back =
            plat::AffineTransform::rotation(-RotationRadians(settings_.textRotationAngle));
        const plat::Point d = back.applyToVector({canvas.x() - centerLoc_.x(), canvas.y() - centerLoc_.y()});
        if (textFrameRect_.contains(centerLoc_ + QPointF(d.x, d.y))) return 0;
    }
    if (settings_.imageWatermarkFlag && imageFrameRect_.contains(canvas)) return 1;
    return -1;
}

bool WatermarkEditorModel::selectAndTrackMouse(QPointF viewPoint, bool shift) {
    const int hit = hitTest(viewPoint);
    std::set<int> selection = selectionIndexes_;
    if (hit < 0) {
        setSelectionIndexes({});
        return false;
    }
    if (shift) {
        if (selection.size() == 2) selection.erase(hit);
        else selection.insert(hit);
    } else if (!selection.contains(hit)) {
        selection = {hit};
    }
    if (hit == 0) settings_.textMouseEventClicked = true;
    else settings_.imageMouseEventClicked = true;
    setSelectionIndexes(selection);
    return true;
}

void WatermarkEditorModel::beginDrag(QPointF viewPoint) {
    const QPointF scale(currentXScale_, currentYScale_);
    auto grab = [&](int index, QRectF frame) {
        if (!selectionIndexes_.contains(index)) return QPointF();
        return viewPoint - QPointF(frame.x() * scale.x(), frame.y() * scale.y());
    };
    textGrabOffset_ = grab(0, textFrameRect_);
    imageGrabOffset_ = grab(1, imageFrameRect_);
}

void WatermarkEditorModel::dragTo(QPointF viewPoint, QSizeF frameSize) {
    if (currentXScale_ <= 0.0 || currentYScale_ <= 0.0) return;
    const QPointF dT = textGrabOffset_;
    const QPointF dI = imageGrabOffset_;
    const QPointF m(ClampDragAxis(viewPoint.x(), dT.x(), dI.x(), frameSize.width()),
                    ClampDragAxis(viewPoint.y(), dT.y(), dI.y(), frameSize.height()));
    const double sx = currentXScale_;
    const double sy = currentYScale_;
    if (selectionIndexes_.contains(0)) {
        // The frame's origin goes to m - dT; the text keeps its place inside it.
        const QPointF inFrame = centerLoc_ - textFrameRect_.topLeft();
        settings_.textMouseEventClicked = true;
        setCenterLoc({(inFrame.x() * sx + (m.x() - dT.x())) / sx, (inFrame.y() * sy + (m.y() - dT.y())) / sy});
    }
    if (selectionIndexes_.contains(1)) {
        settings_.imageMouseEventClicked = true;
        setImageLoc({(m.x() - dI.x()) / sx, (m.y() - dI.y()) / sy});
    }
}

QRectF WatermarkEditorModel::updateFrameRect(QSizeF previewSize) {
    const double width = std::max(0.0, previewSize.width());
    const double height = std::max(0.0, previewSize.height());
    QSizeF frame;
    if (height > 0.0 && imageAspectRatio_ > width / height) frame = {width, width / imageAspectRatio_};
    else frame = {height * imageAspectRatio_, height};
    const QRectF rect((width - frame.width()) * 0.5, (height - frame.height()) * 0.5, frame.width(), frame.height());

    if (!HasArea(frame)) return rect;  // no preview yet: nothing to scale to
    if (!HasArea(oldMainImageViewSize_)) {
        oldMainImageViewSize_ = frame;
    } else {
        currentXScale_ = frame.width() / oldMainImageViewSize_.width();
        currentYScale_ = frame.height() / oldMainImageViewSize_.height();
        settings_.textMouseEventClicked = true;
        settings_.imageMouseEventClicked = true;
    }
    return rect;
}

void WatermarkEditorModel::initImageView() {
    const QSizeF previous = oldMainImageViewSize_;
    const QSizeF canvas = imageAspectRatio_ > 1.0
                              ? QSizeF(kCanvasLongerSide, kCanvasLongerSide / imageAspectRatio_)
                              : QSizeF(kCanvasLongerSide * imageAspectRatio_, kCanvasLongerSide);
    oldMainImageViewSize_ = canvas;
    if (HasArea(previous)) {
        centerLoc_ = Reanchor(centerLoc_, nextTextLoc_, canvas, previous);
        imageLoc_ = Reanchor(imageLoc_, nextImageLoc_, canvas, previous);
    }
    currentXScale_ = 1.0;
    currentYScale_ = 1.0;
    updateTextGeometry();
    updateImageGeometry();
    emit valueChanged();
}

void WatermarkEditorModel::changeStartCenterLocationWithX(double x, double y) {
    if (std::isfinite(x) && std::isfinite(y)) {
        centerLoc_ = {centerLoc_.x() * x, centerLoc_.y() * y};
        imageLoc_ = {imageLoc_.x() * x, imageLoc_.y() * y};
    }
    updateTextGeometry();
    updateImageGeometry();
    emit valueChanged();
}

double WatermarkEditorModel::effectiveCharacterSpacing() const {
    switch (settings_.spacingType) {
    case kSpacingExpanded:
        return settings_.textCharSpace;
    case kSpacingCondensed: {
        // The limit is worked out in single precision, as the drawing does.
        const float limit = -(static_cast<float>(settings_.textFontSize) * 0.25f);
        return std::max(settings_.textCharSpace, static_cast<double>(limit));
    }
    default:
        return 0.0;
    }
}

void WatermarkEditorModel::setTextString(const QString& text) {
    assignText(settings_.textString, text);
}

const QStringList& WatermarkEditorModel::fontFamilyArray() const {
    // Asking fontconfig for every family is slow: done once, when a font menu
    // first needs it.
    if (!fontFamiliesLoaded_) {
        for (const std::string& family : plat::Font::familyNames()) {
            fontFamilyArray_.push_back(QString::fromStdString(family));
        }
        std::sort(fontFamilyArray_.begin(), fontFamilyArray_.end());
        fontFamiliesLoaded_ = true;
    }
    return fontFamilyArray_;
}

void WatermarkEditorModel::setTextFont(plat::FontRef font) {
    if (!font) font = plat::Font::defaultFont();
    assignText(settings_.textFont, font);
}

void WatermarkEditorModel::setTextFontSize(std::int64_t size) {
    assignText(settings_.textFontSize, std::clamp(size, kMinFontSize, kMaxFontSize));
}

void WatermarkEditorModel::setDrawingMode(std::int32_t mode) {
    assign(settings_.drawingMode, std::clamp<std::int32_t>(mode, kFill, kFillStroke));
}

void WatermarkEditorModel::setTextFontColor(plat::Color color) {
    assign(settings_.textFontColor, ClampColor(color));
}

void WatermarkEditorModel::setStrokeWidth(std::int64_t width) {
    assign(settings_.strokeWidth, std::clamp(width, kMinStrokeWidth, kMaxFontSize));
}

void WatermarkEditorModel::setTextOpacity(double opacity) {
    assign(settings_.textOpacity, Clamp01(opacity));
}

void WatermarkEditorModel::setTextRotationAngle(std::int64_t degrees) {
    assignText(settings_.textRotationAngle, std::clamp<std::int64_t>(degrees, 0, kMaxRotationAngle));
}

void WatermarkEditorModel::setTextCharSpace(double space) {
    if (!std::isfinite(space)) space = 0.0;
    assignText(settings_.textCharSpace, std::clamp(space, -kMaxCharSpace, kMaxCharSpace));
}

void WatermarkEditorModel::setSpacingType(std::int32_t type) {
    assignText(settings_.spacingType, (type == kSpacingExpanded || type == kSpacingCondensed) ? type : kSpacingNone);
}

void WatermarkEditorModel::setCenterLoc(QPointF point) {
    if (!std::isfinite(point.x()) || !std::isfinite(point.y())) return;
    assignText(centerLoc_, point);
}

void WatermarkEditorModel::setImageLoc(QPointF point) {
    if (!std::isfinite(point.x()) || !std::isfinite(point.y())) return;
    assignImage(imageLoc_, point);
}

void WatermarkEditorModel::setNextTextLoc(QPointF point) {
    assign(nextTextLoc_, point);
}

void WatermarkEditorModel::setNextImageLoc(QPointF point) {
    assign(nextImageLoc_, point);
}

void WatermarkEditorModel::setImageViewRectForText(QRectF rect) {
    assign(imageViewRectForText_, rect);
}

void WatermarkEditorModel::setImageViewRectForImage(QRectF rect) {
    assign(imageViewRectForImage_, rect);
}

void WatermarkEditorModel::setTextWatermarkFlag(bool flag) {
    assign(settings_.textWatermarkFlag, flag);
}

void WatermarkEditorModel::setImageWatermarkFlag(bool flag) {
    assign(settings_.imageWatermarkFlag, flag);
}

void WatermarkEditorModel::setDropShadowApplied(bool applied) {
    assign(settings_.dropShadowApplied, applied);
}

void WatermarkEditorModel::setShadowBlur(std::int64_t blur) {
    assign(settings_.shadowBlur, std::clamp<std::int64_t>(blur, 0, kMaxShadowBlur));
}

void WatermarkEditorModel::setXOffset(std::int64_t offset) {
    assign(settings_.xOffset, std::clamp(offset, -kMaxShadowOffset, kMaxShadowOffset));
}

void WatermarkEditorModel::setYOffset(std::int64_t offset) {
    assign(settings_.yOffset, std::clamp(offset, -kMaxShadowOffset, kMaxShadowOffset));
}

void WatermarkEditorModel::setTextShadowColor(plat::Color color) {
    assign(settings_.textShadowColor, ClampColor(color));
}

void WatermarkEditorModel::setWatermarkImageOpacity(double opacity) {
    assign(settings_.imageOpacity, Clamp01(opacity));
}

void WatermarkEditorModel::setWatermarkImageSize(double size) {
    if (!std::isfinite(size)) size = kDefaultImageSize;
    assignImage(settings_.imageSize, std::clamp(size, kMinWatermarkImageSize, 1.0));
}

void WatermarkEditorModel::setWatermarkImage(plat::ImageRef image) {
    assignImage(watermarkImage_, image);
}

void WatermarkEditorModel::setImageAspectRatio(double ratio) {
    if (!std::isfinite(ratio) || ratio <= 0.0) return;
    assign(imageAspectRatio_, ratio);
}

void WatermarkEditorModel::setOldMainImageViewSize(QSizeF size) {
    if (!std::isfinite(size.width()) || !std::isfinite(size.height()) || size.width() < 0.0 || size.height() < 0.0) {
        return;
    }
    assign(oldMainImageViewSize_, size);
}

void WatermarkEditorModel::setSelectionIndexes(std::set<int> indexes) {
    std::erase_if(indexes, [](int index) { return index != 0 && index != 1; });
    assign(selectionIndexes_, indexes);
}
