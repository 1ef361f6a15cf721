#include "engine/ConvertImage.h"

#include "engine/ImageConverter.h"
#include "engine/RenderingResize.h"
#include "engine/WholeFileConversion.h"

#include <exception>

int ConvertImageWithOptions(ImageConversion* record) {
    if (!record || record->sourceURL.empty()) return 0;
    if (record->destinationURL.empty() && !record->returnImage) return 0;
    try {
        ImageConverter converter;
        InitImageConverter(&converter);
        // The output settings come first: they decide how the source is decoded.
        SetConverterOutput(&converter, record->options.outputType, record->destinationURL, record->options.quality);
        if (record->drawTextWatermark) SetWatermarkOptions(&converter, record->watermark, kWatermarkText);
        if (record->drawImageWatermark) SetWatermarkOptions(&converter, record->watermark, kWatermarkImage);
        converter.rotationAngle = record->rotationAngle;
        converter.flipMask = record->flipMask;
        converter.preserveMetadata = record->options.preserveMetadata;
        converter.returnImage = record->returnImage;
        if (record->fileAttributes) converter.fileAttributes = record->fileAttributes;

        if (!LoadConverterSourceForResize(&converter, record->sourceURL, record->resize)) return 0;
        const int result = ComputeTargetSizeAndRender(&converter, record->resize);
        if (result && record->returnImage && converter.resultImage) record->resultImage = converter.resultImage;
        ReleaseImageConverter(&converter);
        return result;
    } catch (const std::exception&) {
        return 0;
    }
}

int ConvertImageFileFormat(ImageConversion* record) {
    if (!record || record->sourceURL.empty() || record->destinationURL.empty()) return 0;
    try {
        ImageConverter converter;
        InitImageConverter(&converter);
        // The first image's header is enough here: every image is decoded
        // in turn as it is written, none kept for the whole run.
        const auto headerOnly = [](const plat::PropertyDict&) {
            plat::ImageRep::Options options;
            options.lazy = true;
            return options;
        };
        if (!LoadConverterSourceWithPlan(&converter, record->sourceURL, headerOnly)) return 0;
        SetConverterOutput(&converter, record->options.outputType, record->destinationURL, record->options.quality);
        SetConverterDPI(&converter, record->options.outputDPI, record->options.outputDPI);
        if (record->options.outputDPI == 0) SetConverterUseSourceDPI(&converter, 1);
        converter.preserveMetadata = record->options.preserveMetadata;
        if (record->fileAttributes) converter.fileAttributes = record->fileAttributes;
        const int result = SaveConvertedImageFile(&converter);
        ReleaseImageConverter(&converter);
        return result;
    } catch (const std::exception&) {
        return 0;
    }
}
