// The renderer's entry to the text watermark: the editor placement mapped
// into the output, values scaled by the editor-to-output factor.
#include "engine/TextWatermark.h"

#include "engine/Geometry.h"
#include "engine/ImageConverter.h"

void DrawTextWatermark(ImageConverter* /*converter*/, plat::BitmapContext& context,
                       WatermarkOptions& part, double width, double height) {
    const float s = GetEditorScale(width, height);
    const plat::Point position =
        GetWatermarkPosition({part.textOrigin.x, part.textOrigin.y}, {part.textEndPoint.x, part.textEndPoint.y},
                             width, height, part.editorViewSize.width, part.editorViewSize.height, s, s);
    part.textOrigin = {position.x, position.y};
    const TextWatermarkStyle style = GetTextWatermarkStyle(part, s);
    part.shadowOffsetX = static_cast<std::int64_t>(style.shadowOffset.x);
    part.shadowOffsetY = static_cast<std::int64_t>(style.shadowOffset.y);
    DrawTextWatermarkText(context, part.text, style, position);
}

void DrawConverterTextWatermark(ImageConverter* converter, plat::BitmapContext& context, double width,
                                double height) {
    if (!converter) return;
    DrawTextWatermark(converter, context, converter->watermark, width, height);
}
