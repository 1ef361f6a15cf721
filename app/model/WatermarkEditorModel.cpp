#include "app/model/WatermarkEditorModel.h"

#include "engine/Geometry.h"
#include "platform/Font.h"

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
    const plat::Point p = GetWatermarkPosition({origin.x(), origin.y()}, {end.x(), end.y()}, canvas.width(),
                                               canvas.height(), previous.width(), previous.height(), 1.0, 1.0);
    return {p.x, p.y};
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

void WatermarkEditorModel::InitializeWatermarkOptions() {
    settings_ = {};
    settings_.textFont = plat::Font::defaultFont();
    emit valueChanged();
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
    emit valueChanged();
}

void WatermarkEditorModel::changeStartCenterLocationWithX(double x, double y) {
    centerLoc_ = {centerLoc_.x() * x, centerLoc_.y() * y};
    imageLoc_ = {imageLoc_.x() * x, imageLoc_.y() * y};
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
    assign(settings_.textString, text);
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
    assign(settings_.textFont, font);
}

void WatermarkEditorModel::setTextFontSize(std::int64_t size) {
    assign(settings_.textFontSize, std::clamp(size, kMinFontSize, kMaxFontSize));
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
    assign(settings_.textRotationAngle, std::clamp<std::int64_t>(degrees, 0, kMaxRotationAngle));
}

void WatermarkEditorModel::setTextCharSpace(double space) {
    if (!std::isfinite(space)) space = 0.0;
    assign(settings_.textCharSpace, std::clamp(space, -kMaxCharSpace, kMaxCharSpace));
}

void WatermarkEditorModel::setSpacingType(std::int32_t type) {
    assign(settings_.spacingType, (type == kSpacingExpanded || type == kSpacingCondensed) ? type : kSpacingNone);
}

void WatermarkEditorModel::setCenterLoc(QPointF point) {
    assign(centerLoc_, point);
}

void WatermarkEditorModel::setImageLoc(QPointF point) {
    assign(imageLoc_, point);
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
    assign(settings_.imageSize, std::clamp(size, kMinWatermarkImageSize, 1.0));
}

void WatermarkEditorModel::setWatermarkImage(plat::ImageRef image) {
    assign(watermarkImage_, image);
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
