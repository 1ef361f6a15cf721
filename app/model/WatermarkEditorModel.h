#pragma once

#include "platform/Color.h"
#include "platform/FontRef.h"
#include "platform/ImageRef.h"

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <set>

// The state of the watermark editor: one text watermark and one image
// watermark placed on a canvas whose longer side is 550 points and whose
// aspect ratio is the current image's. Every position and size is held in
// canvas points, which is what a job uses; the canvas widget maps them into
// its own bounds with currentXScale/currentYScale.
//
// Setters clamp to the editor's limits and emit valueChanged() when a value
// really changes; they never draw. Main thread only: a job copies the values
// into its record before it starts.
class WatermarkEditorModel : public QObject {
    Q_OBJECT
public:
    static constexpr double kCanvasLongerSide = 550.0;

    // Limits of the editable values.
    static constexpr std::int64_t kMinFontSize = 1;
    static constexpr std::int64_t kMaxFontSize = 1000;
    static constexpr std::int64_t kMinStrokeWidth = 1;
    static constexpr std::int64_t kMaxRotationAngle = 359;
    static constexpr double kMaxCharSpace = 500.0;
    static constexpr std::int64_t kMaxShadowBlur = 100;
    static constexpr std::int64_t kMaxShadowOffset = 5000;
    static constexpr double kMinWatermarkImageSize = 0.05;

    // Default values.
    static constexpr const char* kDefaultText = "Vantrell";
    static constexpr std::int64_t kDefaultFontSize = 30;
    static constexpr double kDefaultTextOpacity = 0.8999999761581421;  // 0.9 as a float
    static constexpr std::int64_t kDefaultShadowBlur = 3;
    static constexpr std::int64_t kDefaultXOffset = 3;
    static constexpr std::int64_t kDefaultYOffset = -3;
    static constexpr double kDefaultImageOpacity = 0.5;
    static constexpr double kDefaultImageSize = 0.5;
    static constexpr QPointF kDefaultLocation{20.0, 20.0};

    enum DrawingMode : std::int32_t { kFill = 0, kStroke = 1, kFillStroke = 2 };
    enum SpacingKind : std::int32_t { kSpacingNone = 0, kSpacingExpanded = 1, kSpacingCondensed = 2 };

    explicit WatermarkEditorModel(QObject* parent = nullptr);

    // Restores the text and image defaults; positions, the canvas and the
    // watermark image are kept.
    void InitializeWatermarkOptions();

    // Fits the editor over a preview of `previewSize` and returns the frame
    // (centred, of the image's aspect ratio). The first fit before any image
    // becomes the canvas; afterwards only the scales change and the next
    // drawing keeps the canvas positions.
    QRectF updateFrameRect(QSizeF previewSize);
    // A new current image (after setImageAspectRatio): the canvas becomes the
    // 550-point canvas of that image and each watermark keeps its distance to
    // the edge or the centre it was nearest to, scaled per axis.
    void initImageView();
    // Multiplies both watermark origins component-wise.
    void changeStartCenterLocationWithX(double x, double y);

    // The larger of the stored spacing and -fontSize/4 for condensed spacing,
    // the stored spacing for expanded, else 0: what a job draws with.
    double effectiveCharacterSpacing() const;

    // --- Text watermark ---
    QString textString() const { return textString_; }
    void setTextString(const QString& text);
    const QStringList& fontFamilyArray() const;
    plat::FontRef textFont() const { return textFont_; }
    void setTextFont(plat::FontRef font);  // null restores the default font
    std::int64_t textFontSize() const { return textFontSize_; }
    void setTextFontSize(std::int64_t size);
    std::int32_t drawingMode() const { return drawingMode_; }
    void setDrawingMode(std::int32_t mode);
    plat::Color textFontColor() const { return textFontColor_; }
    void setTextFontColor(plat::Color color);
    std::int64_t strokeWidth() const { return strokeWidth_; }
    // Up to the limit of the font size field; the controls keep it at most
    // the font size.
    void setStrokeWidth(std::int64_t width);
    double textOpacity() const { return textOpacity_; }
    void setTextOpacity(double opacity);
    std::int64_t textRotationAngle() const { return textRotationAngle_; }
    void setTextRotationAngle(std::int64_t degrees);
    double textCharSpace() const { return textCharSpace_; }
    void setTextCharSpace(double space);
    std::int32_t SpacingType() const { return spacingType_; }
    void setSpacingType(std::int32_t type);

    QPointF centerLoc() const { return centerLoc_; }
    void setCenterLoc(QPointF point);
    QPointF ImageLoc() const { return imageLoc_; }
    void setImageLoc(QPointF point);
    QPointF nextTextLoc() const { return nextTextLoc_; }
    void setNextTextLoc(QPointF point);
    QPointF nextImageLoc() const { return nextImageLoc_; }
    void setNextImageLoc(QPointF point);
    QRectF imageViewRectForText() const { return imageViewRectForText_; }
    void setImageViewRectForText(QRectF rect);
    QRectF imageViewRectForImage() const { return imageViewRectForImage_; }
    void setImageViewRectForImage(QRectF rect);

    bool TextWatermarkFlag() const { return textWatermarkFlag_; }
    void setTextWatermarkFlag(bool flag);
    bool ImageWatermarkFlag() const { return imageWatermarkFlag_; }
    void setImageWatermarkFlag(bool flag);

    bool isDropShadowApplied() const { return dropShadowApplied_; }
    void setDropShadowApplied(bool applied);
    std::int64_t shadowBlur() const { return shadowBlur_; }
    void setShadowBlur(std::int64_t blur);
    std::int64_t xOffset() const { return xOffset_; }
    void setXOffset(std::int64_t offset);
    std::int64_t yOffset() const { return yOffset_; }
    void setYOffset(std::int64_t offset);
    plat::Color textShadowColor() const { return textShadowColor_; }
    void setTextShadowColor(plat::Color color);

    // --- Image watermark ---
    double WatermarkImageOpacity() const { return imageOpacity_; }
    void setWatermarkImageOpacity(double opacity);
    double WatermarkImageSize() const { return imageSize_; }
    void setWatermarkImageSize(double size);
    // The image of the image watermark (the editor's image well); null: none.
    plat::ImageRef watermarkImage() const { return watermarkImage_; }
    void setWatermarkImage(plat::ImageRef image);

    // --- Canvas ---
    double imageAspectRatio() const { return imageAspectRatio_; }
    // Width / height of the current image as shown; non-positive or
    // non-finite ratios are refused.
    void setImageAspectRatio(double ratio);
    QSizeF oldMainImageViewSize() const { return oldMainImageViewSize_; }
    void setOldMainImageViewSize(QSizeF size);

    // --- Editor state shared with the canvas ---
    // Selected watermarks: 0 the text, 1 the image.
    const std::set<int>& selectionIndexes() const { return selectionIndexes_; }
    void setSelectionIndexes(std::set<int> indexes);
    QRectF textFrameRect() const { return textFrameRect_; }
    void setTextFrameRect(QRectF rect) { textFrameRect_ = rect; }
    QRectF imageFrameRect() const { return imageFrameRect_; }
    void setImageFrameRect(QRectF rect) { imageFrameRect_ = rect; }
    bool textMouseEventClicked() const { return textMouseEventClicked_; }
    void setTextMouseEventClicked(bool value) { textMouseEventClicked_ = value; }
    bool imageMouseEventClicked() const { return imageMouseEventClicked_; }
    void setImageMouseEventClicked(bool value) { imageMouseEventClicked_ = value; }
    double currentXScale() const { return currentXScale_; }
    double currentYScale() const { return currentYScale_; }

signals:
    // Any value changed (the canvas redraws, the controller refreshes the
    // preview when the change came from the user).
    void valueChanged();

private:
    template <typename T>
    void assign(T& field, const T& value);

    QString textString_;
    mutable QStringList fontFamilyArray_;
    mutable bool fontFamiliesLoaded_ = false;
    plat::FontRef textFont_;
    std::int64_t textFontSize_ = kDefaultFontSize;
    std::int32_t drawingMode_ = kFill;
    plat::Color textFontColor_;
    std::int64_t strokeWidth_ = 1;
    double textOpacity_ = kDefaultTextOpacity;
    std::int64_t textRotationAngle_ = 0;
    double textCharSpace_ = 0.0;
    std::int32_t spacingType_ = kSpacingNone;
    QPointF centerLoc_ = kDefaultLocation;
    QPointF imageLoc_ = kDefaultLocation;
    QPointF nextTextLoc_;
    QPointF nextImageLoc_;
    QRectF imageViewRectForText_;
    QRectF imageViewRectForImage_;
    bool textWatermarkFlag_ = true;
    bool imageWatermarkFlag_ = true;
    bool dropShadowApplied_ = true;
    std::int64_t shadowBlur_ = kDefaultShadowBlur;
    std::int64_t xOffset_ = kDefaultXOffset;
    std::int64_t yOffset_ = kDefaultYOffset;
    plat::Color textShadowColor_;
    double imageOpacity_ = kDefaultImageOpacity;
    double imageSize_ = kDefaultImageSize;
    plat::ImageRef watermarkImage_;
    double imageAspectRatio_ = 1.0;
    QSizeF oldMainImageViewSize_{0.0, 0.0};

    std::set<int> selectionIndexes_{0};
    QRectF textFrameRect_;
    QRectF imageFrameRect_;
    bool textMouseEventClicked_ = true;
    bool imageMouseEventClicked_ = true;
    double currentXScale_ = 1.0;
    double currentYScale_ = 1.0;
};
