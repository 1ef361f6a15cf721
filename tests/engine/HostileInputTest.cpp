// Hostile files found by fuzzing the engine's codec glue: each must fail
// cleanly and quickly instead of allocating or decoding without bound.

#include "../platform/ImageTestSupport.h"

#include "engine/ImageFile.h"
#include "engine/JpegMemoryCodec.h"

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <unistd.h>
#include <webp/encode.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A small grey progressive JPEG written with libjpeg.
Bytes ProgressiveJpeg(int width, int height) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) row[std::size_t(x)] = JSAMPLE((x * 7 + y * 3) & 0xFF);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

// Start and end of the last scan (SOS header and its entropy-coded data).
std::pair<std::size_t, std::size_t> LastScan(const Bytes& jpeg) {
    std::size_t at = 2, start = 0, end = 0;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xD9) {
        const std::size_t length = std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        std::size_t next = at + 2 + length;
        if (jpeg[at + 1] == 0xDA) {
            while (next + 1 < jpeg.size() &&
                   !(jpeg[next] == 0xFF && jpeg[next + 1] != 0 && (jpeg[next + 1] & 0xF8) != 0xD0)) {
                ++next;
            }
            start = at;
            end = next;
        }
        at = next;
    }
    return {start, end};
}

int Decode(const Bytes& jpeg) {
    int colour = 0, w = 0, h = 0;
    double dpiX = 0, dpiY = 0;
    std::uint8_t* samples = nullptr;
    std::size_t size = 0;
    const int result = DecodeJPEGData(jpeg.data(), jpeg.size(), &colour, nullptr, &samples, &size, &w, &h, &dpiX, &dpiY);
    std::free(samples);
    return result;
}

}  // namespace

TEST(HostileJpegData, RepeatedScansAreRefused) {
    // Each repeated scan is a full pass over the image: a short file could
    // keep the decoder busy without end.
    Bytes jpeg = ProgressiveJpeg(64, 48);
    ASSERT_EQ(Decode(jpeg), 0);
    const auto [start, end] = LastScan(jpeg);
    ASSERT_GT(end, start);
    const Bytes scan(jpeg.begin() + std::ptrdiff_t(start), jpeg.begin() + std::ptrdiff_t(end));
    Bytes hostile(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(end));
    for (int i = 0; i < 300; ++i) hostile.insert(hostile.end(), scan.begin(), scan.end());
    hostile.insert(hostile.end(), jpeg.begin() + std::ptrdiff_t(end), jpeg.end());
    EXPECT_EQ(Decode(hostile), 1);

    // One repeated scan only draws warnings: still decoded.
    Bytes mild(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(end));
    mild.insert(mild.end(), scan.begin(), scan.end());
    mild.insert(mild.end(), jpeg.begin() + std::ptrdiff_t(end), jpeg.end());
    EXPECT_EQ(Decode(mild), 0);
}

TEST(HostileJpegData, HugeDeclaredSizeIsRefusedBeforeDecoding) {
    // A progressive header claiming 65500 × 65500 pixels: the decoder would
    // allocate every coefficient (gigabytes) before reading any data.
    Bytes jpeg = ProgressiveJpeg(16, 16);
    for (std::size_t at = 2; at + 9 < jpeg.size();) {
        if (jpeg[at + 1] == 0xC2) {
            jpeg[at + 5] = jpeg[at + 7] = 0xFF;
            jpeg[at + 6] = jpeg[at + 8] = 0xDC;
            break;
        }
        at += 2 + (std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3]);
    }
    EXPECT_EQ(Decode(jpeg), 1);
}

TEST(HostileImageFile, WebPSizeReadsOnlyTheHeader) {
    // A WebP whose file goes on for 5 GB (sparse): the size comes from its
    // first bytes, without reading the file into memory.
    imagetest::TempFolder folder;
    std::vector<std::uint8_t> rgb(6 * 4 * 3, 90);
    std::uint8_t* out = nullptr;
    const std::size_t size = WebPEncodeLosslessRGB(rgb.data(), 6, 4, 18, &out);
    imagetest::WriteFile(folder / "long.webp", std::vector<std::uint8_t>(out, out + size));
    WebPFree(out);
    ASSERT_EQ(::truncate((folder / "long.webp").c_str(), 5LL << 30), 0);
    ImageFile file;
    InitImageFile(&file);
    int w = 0, h = 0;
    EXPECT_EQ(GetWebPImageSize(&file, folder / "long.webp", &w, &h), 1);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(GetWebPImageSize(&file, folder.path(), &w, &h), 0);  // a folder
}
