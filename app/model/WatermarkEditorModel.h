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
    QString textString() const { return settings_.textString; }
    void setTextString(const QString& text);
    const QStringList& fontFamilyArray() const;
    plat::FontRef textFont() const { return settings_.textFont; }
    void setTextFont(plat::FontRef font);  // null restores the default font
    std::int64_t textFontSize() const { return settings_.textFontSize; }
    void setTextFontSize(std::int64_t size);
    std::int32_t drawingMode() const { return settings_.drawingMode; }
    void setDrawingMode(std::int32_t mode);
    plat::Color textFontColor() const { return settings_.textFontColor; }
    void setTextFontColor(plat::Color color);
    std::int64_t strokeWidth() const { return settings_.strokeWidth; }
    // Up to the limit of the font size field; the controls keep it at most
    // the font size.
    void setStrokeWidth(std::int64_t width);
    double textOpacity() const { return settings_.textOpacity; }
    void setTextOpacity(double opacity);
    std::int64_t textRotationAngle() const { return settings_.textRotationAngle; }
    void setTextRotationAngle(std::int64_t degrees);
    double textCharSpace() const { return settings_.textCharSpace; }
    void setTextCharSpace(double space);
    std::int32_t SpacingType() const { return settings_.spacingType; }
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

    bool TextWatermarkFlag() const { return settings_.textWatermarkFlag; }
    void setTextWatermarkFlag(bool flag);
    bool ImageWatermarkFlag() const { return settings_.imageWatermarkFlag; }
    void setImageWatermarkFlag(bool flag);

    bool isDropShadowApplied() const { return settings_.dropShadowApplied; }
    void setDropShadowApplied(bool applied);
    std::int64_t shadowBlur() const { return settings_.shadowBlur; }
    void setShadowBlur(std::int64_t blur);
    std::int64_t xOffset() const { return settings_.xOffset; }
    void setXOffset(std::int64_t offset);
    std::int64_t yOffset() const { return settings_.yOffset; }
    void setYOffset(std::int64_t offset);
    plat::Color textShadowColor() const { return settings_.textShadowColor; }
    void setTextShadowColor(plat::Color color);

    // --- Image watermark ---
    double WatermarkImageOpacity() const { return settings_.imageOpacity; }
    void setWatermarkImageOpacity(double opacity);
    double WatermarkImageSize() const { return settings_.imageSize; }
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
    bool textMouseEventClicked() const { return settings_.textMouseEventClicked; }
    void setTextMouseEventClicked(bool value) { settings_.textMouseEventClicked = value; }
    bool imageMouseEventClicked() const { return settings_.imageMouseEventClicked; }
    void setImageMouseEventClicked(bool value) { settings_.imageMouseEventClicked = value; }
    double currentXScale() const { return currentXScale_; }
    double currentYScale() const { return currentYScale_; }

signals:
    // Any value changed (the canvas redraws, the controller refreshes the
    // preview when the change came from the user).
    void valueChanged();

private:
    // The values the editor's defaults restore, reset as one.
    struct Settings {
        QString textString = QString::fromLatin1(kDefaultText);
        plat::FontRef textFont;
        std::int64_t textFontSize = kDefaultFontSize;
        std::int32_t drawingMode = kFill;
        plat::Color textFontColor{1.0, 1.0, 0.0, 1.0};  // yellow
        std::int64_t strokeWidth = 1;
        double textOpacity = kDefaultTextOpacity;
        std::int64_t textRotationAngle = 0;
        double textCharSpace = 0.0;
        std::int32_t spacingType = kSpacingNone;
        bool textWatermarkFlag = true;
        bool imageWatermarkFlag = true;
        bool dropShadowApplied = true;
        std::int64_t shadowBlur = kDefaultShadowBlur;
        std::int64_t xOffset = kDefaultXOffset;
        std::int64_t yOffset = kDefaultYOffset;
        plat::Color textShadowColor{0.0, 0.0, 0.0, 1.0};  // black
        double imageOpacity = kDefaultImageOpacity;
        double imageSize = kDefaultImageSize;
        bool textMouseEventClicked = true;
        bool imageMouseEventClicked = true;
    };

    template <typename T>
    void assign(T& field, const T& value);

    mutable QStringList fontFamilyArray_;
    mutable bool fontFamiliesLoaded_ = false;
    QPointF centerLoc_ = kDefaultLocation;
    QPointF imageLoc_ = kDefaultLocation;
    QPointF nextTextLoc_;
    QPointF nextImageLoc_;
    QRectF imageViewRectForText_;
    QRectF imageViewRectForImage_;
    plat::ImageRef watermarkImage_;
    double imageAspectRatio_ = 1.0;
    QSizeF oldMainImageViewSize_{0.0, 0.0};

    Settings settings_;
    std::set<int> selectionIndexes_{0};
    QRectF textFrameRect_;
    QRectF imageFrameRect_;
    double currentXScale_ = 1.0;
    double currentYScale_ = 1.0;
};
