#include "app/model/ConversionRecord.h"

#include "app/model/WatermarkEditorModel.h"
#include "engine/ImageConversion.h"

namespace {

constexpr int kTypePNG = 7;

KSMPoint ToPoint(QPointF point) {
    return {point.x(), point.y()};
}

KSMSize ToSize(QSizeF size) {
    return {size.width(), size.height()};
}

void FillResize(const JobOptionState& state, ImageResizeOptions& resize) {
    const int scaleOption = state.currentScaleOption >= 0 ? state.currentScaleOption : state.scaleOption;
    resize.scaleOption = scaleOption;
    resize.width = scaleOption == 1 ? 0.0 : state.widthValue();
    resize.height = scaleOption == 0 ? 0.0 : state.heightValue();
    resize.applySize = 1;
    resize.upsample = state.upsample ? 1 : 0;
    resize.sharpen = (state.sharpen && scaleOption != 4) ? 1 : 0;
    resize.keepProportions = (scaleOption == 3 || scaleOption == 4) ? 0 : 1;
    resize.unit = state.unit;
    resize.dpi = state.resolutionOn ? state.resolutionValue() : 0;
}

InvalidConversionOption ValidateResize(const JobOptionState& state, const ImageResizeOptions& resize) {
    if (resize.scaleOption != 1 && !(resize.width > 0.0)) return InvalidConversionOption::Width;
    if (resize.scaleOption != 0 && !(resize.height > 0.0)) return InvalidConversionOption::Height;
    if (state.resolutionOn && resize.dpi > kMaxOutputResolution) return InvalidConversionOption::Resolution;
    return InvalidConversionOption::None;
}

void FillTextWatermark(const WatermarkEditorModel& editor, WatermarkOptions& watermark) {
    watermark.text = editor.textString().toStdString();
    watermark.textOrigin = ToPoint(editor.centerLoc());
    watermark.editorViewSize = ToSize(editor.oldMainImageViewSize());
    watermark.font = editor.textFont();
    watermark.fontSize = editor.textFontSize();
    watermark.drawingMode = editor.drawingMode();
    watermark.textColor = editor.textFontColor();
    watermark.strokeWidth = editor.strokeWidth();
    watermark.textOpacity = editor.textOpacity();
    watermark.characterSpacing = editor.effectiveCharacterSpacing();
    watermark.rotation = editor.textRotationAngle();
    watermark.shadow = editor.isDropShadowApplied() ? 1 : 0;
    watermark.shadowColor = editor.textShadowColor();
    watermark.shadowBlur = editor.shadowBlur();
    watermark.shadowOffsetX = editor.xOffset();
    watermark.shadowOffsetY = editor.yOffset();
    watermark.textEndPoint = ToPoint(editor.nextTextLoc());
}

void FillImageWatermark(const WatermarkEditorModel& editor, WatermarkOptions& watermark) {
    watermark.imageOrigin = ToPoint(editor.ImageLoc());
    watermark.imageEndPoint = ToPoint(editor.nextImageLoc());
    watermark.image = editor.watermarkImage();
    watermark.imageOpacity = editor.WatermarkImageOpacity();
    watermark.imageScale = editor.WatermarkImageSize();
    watermark.editorViewSize = ToSize(editor.oldMainImageViewSize());
}

}  // namespace

bool NeedsPNGOptimizationQuestion(const JobOptionState& state, bool previewRun) {
    return !previewRun && state.groupOn[kOptimizationGroup] && (state.optimizationTag & kOptimizePNG) != 0 &&
           !state.doNotShowPNGOptimizationAlert && (state.outputType == 0 || state.outputType == kTypePNG);
}

InvalidConversionOption FillConversionRecord(const JobOptionState& state, const WatermarkEditorModel& watermark,
                                             ImageConversion* record) {
    if (!record) return InvalidConversionOption::None;
    record->options.outputType = state.outputType;
    record->options.quality = JobOptionState::TypeHasQuality(state.outputType) ? state.qualitySlider : 0.0;
    record->options.outputDPI = 0;
    record->options.preserveMetadata = state.general.preserveMetadata ? 1 : 0;

    record->applyResize = state.groupOn[kResizeGroup] ? 1 : 0;
    if (record->applyResize) {
        FillResize(state, record->resize);
        const InvalidConversionOption invalid = ValidateResize(state, record->resize);
        if (invalid != InvalidConversionOption::None) return invalid;
    } else {
        record->resize = {};
        record->resize.width = 100.0;
        record->resize.height = 100.0;
        record->resize.unit = kUnitPercent;
        record->resize.scaleOption = 2;
        record->resize.applySize = 1;
    }

    record->drawTextWatermark = (state.groupOn[kTextWatermarkGroup] && !watermark.textString().isEmpty()) ? 1 : 0;
    if (record->drawTextWatermark) FillTextWatermark(watermark, record->watermark);
    record->drawImageWatermark = (state.groupOn[kImageWatermarkGroup] && watermark.watermarkImage()) ? 1 : 0;
    if (record->drawImageWatermark) FillImageWatermark(watermark, record->watermark);
    return InvalidConversionOption::None;
}
