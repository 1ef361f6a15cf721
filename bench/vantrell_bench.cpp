// Runs the benchmark jobs through ConvertImageWithOptions, the same entry
// point the application's batch uses. bench/compare times this program
// against libvips and ImageMagick doing the same work.
//
//   vantrell_bench j1 <photo.jpg> <out.jpg>
//   vantrell_bench j2 <photo.jpg> <out.jpg> <logo.png>
//   vantrell_bench j3 <rgba.png> <out.png>
//   vantrell_bench j4 <out folder> <file.jpg>...
//   vantrell_bench j5 <photo.jpg> <out.png>       full size
//   vantrell_bench j6 <pages.tif> <out.png>       whole-file: every page
//   vantrell_bench j7 <doc.pdf> <out folder> [dpi] every page at 600 dpi (or dpi), PNG

#include "engine/ConvertImage.h"
#include "engine/PdfPages.h"
#include "platform/Font.h"
#include "platform/ImageSource.h"
#include "platform/Initialize.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kJPEG = 4;
constexpr int kPNG = 7;

// Longest side `side` px, aspect kept, never enlarged.
ImageConversion fitWithin(const std::filesystem::path& in, const std::filesystem::path& out,
                          double side, int type, double quality) {
    ImageConversion record;
    record.sourceURL = in;
    record.destinationURL = out;
    record.options.outputType = type;
    record.options.quality = quality;
    record.resize.keepProportions = 1;
    record.resize.applySize = 1;
    record.resize.width = side;
    record.resize.height = side;
    record.resize.unit = 2;         // pixels
    record.resize.scaleOption = 2;  // fit inside the box
    return record;
}

// The same work the libvips and ImageMagick commands of J2 do on the
// 1600 x 1067 output: the half-transparent logo file at its own size
// (400 x 200), 20 px from the lower right corner; the text in white at 80 %,
// 58 px, no outline, no shadow, 20 px from the lower left corner.
void addWatermarks(ImageConversion& record, const std::filesystem::path& logo) {
    // Editor canvas of a 3:2 photo: longer side 550 points, so one editor
    // point is 1600 / 550 pixels of the output.
    const double pixel = 550.0 / 1600.0;
    WatermarkOptions& w = record.watermark;
    w.editorViewSize = {550.0, 550.0 * 1067.0 / 1600.0};
    w.text = "\xC2\xA9 Vantrell 2026";
    w.font = plat::Font::fontWithName("DejaVuSans-Bold");
    w.fontSize = 58.0 * pixel;
    w.drawingMode = 0;
    w.textColor = {1.0, 1.0, 1.0, 1.0};
    w.strokeWidth = 0;
    w.textOpacity = 0.8;
    w.shadow = 0;
    w.textOrigin = {20.0 * pixel, 20.0 * pixel};
    w.textEndPoint = {200.0, 40.0};
    w.image = plat::ImageSource::Open(logo) ? plat::ImageSource::Open(logo)->createImage(0) : nullptr;
    // Anchored to the right edge and the bottom: 20 px margins.
    w.imageOrigin = {550.0 - 420.0 * pixel, 20.0 * pixel};
    w.imageEndPoint = {550.0 - 20.0 * pixel, 220.0 * pixel};
    w.imageOpacity = 1.0;
    w.imageScale = pixel;
    record.drawTextWatermark = 1;
    record.drawImageWatermark = w.image ? 1 : 0;
    record.resize.sharpen = 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: vantrell_bench j1|j3 <in> <out>\n"
                 "       vantrell_bench j2 <in> <out> <logo.png>\n"
                 "       vantrell_bench j4 <out folder> <file>...\n"
                 "       vantrell_bench j5|j6 <in> <out.png>\n"
                 "       vantrell_bench j7 <in.pdf> <out folder> [dpi]\n");
    return 2;
}

int convert(ImageConversion record) {
    if (ConvertImageWithOptions(&record) != 1) {
        std::fprintf(stderr, "vantrell_bench: conversion of %s failed\n", record.sourceURL.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    plat::Initialize();
    if (argc < 4) return usage();
    const std::string job = argv[1];
    if (job == "j1") return convert(fitWithin(argv[2], argv[3], 1600, kJPEG, 0.8));
    if (job == "j2" && argc == 5) {
        ImageConversion record = fitWithin(argv[2], argv[3], 1600, kJPEG, 0.8);
        addWatermarks(record, argv[4]);
        return convert(record);
    }
    if (job == "j3") {
        ImageConversion record = fitWithin(argv[2], argv[3], 50, kPNG, 0.8);
        record.resize.unit = 1;  // percent
        return convert(record);
    }
    if (job == "j5") {
        // A box larger than the photo: the pixels go out as they are.
        return convert(fitWithin(argv[2], argv[3], 100000, kPNG, 0.8));
    }
    if (job == "j6") {
        ImageConversion record;
        record.sourceURL = argv[2];
        record.destinationURL = argv[3];
        record.options.outputType = kPNG;
        if (ConvertImageFileFormat(&record) != 1) {
            std::fprintf(stderr, "vantrell_bench: whole-file conversion of %s failed\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if (job == "j7") {
        ImageConversion record;
        record.sourceURL = argv[2];
        record.destinationURL = argv[3];
        record.options.outputType = kPNG;
        record.options.outputDPI = argc > 4 ? std::atof(argv[4]) : 600;
        if (ConvertPDFPagesToImages(&record) != 1) {
            std::fprintf(stderr, "vantrell_bench: PDF pages of %s failed\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if (job == "j4") {
        const std::filesystem::path folder = argv[2];
        int failures = 0;
        for (int i = 3; i < argc; ++i) {
            const std::filesystem::path in = argv[i];
            failures += convert(fitWithin(in, folder / in.filename(), 2048, kJPEG, 0.85));
        }
        return failures ? 1 : 0;
    }
    return usage();
}
