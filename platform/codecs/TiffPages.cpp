#include "platform/codecs/TiffPages.h"

#include "platform/Image.h"
#include "platform/TiffWriter.h"

namespace plat::codecs {

namespace {

bool WritePage(TiffWriter& writer, const TiffPage& page) {
    const Image& image = *page.image;
    vips::VImage pixels = image.vimage();
    const int colour = image.colorComponents();
    bool alpha = image.hasAlpha();
    if (alpha && !page.keepAlpha) {
        pixels = pixels.extract_band(0, vips::VImage::option()->set("n", colour));
        alpha = false;
    }
    std::span<const std::uint8_t> profile;
    if (vips_image_get_typeof(pixels.get_image(), VIPS_META_ICC_NAME)) {
        const void* data = nullptr;
        std::size_t length = 0;
        if (vips_image_get_blob(pixels.get_image(), VIPS_META_ICC_NAME, &data, &length) == 0 && data) {
            profile = {static_cast<const std::uint8_t*>(data), length};
        }
    }
    TiffPageLayout layout;
    layout.width = image.width();
    layout.height = image.height();
    layout.model = image.colorModel();
    layout.alpha = alpha;
    layout.compression = page.lzw ? TiffCompression::LZWWithPredictor : TiffCompression::None;
    layout.dpiX = page.dpiX;
    layout.dpiY = page.dpiY;
    layout.iccProfile = profile;
    layout.bitsPerSample = image.bitsPerComponent();
    std::size_t size = 0;
    void* memory = pixels.write_to_memory(&size);
    if (!memory) return false;
    const std::size_t rowBytes = std::size_t(layout.width) * std::size_t(layout.bytesPerPixel());
    const bool ok = size == rowBytes * std::size_t(layout.height) &&
                    writer.writePage(layout, static_cast<const std::uint8_t*>(memory), rowBytes);
    g_free(memory);
    return ok;
}

}  // namespace

bool WriteTiffPages(TiffWriter& writer, const std::vector<TiffPage>& pages) {
    if (pages.empty()) return false;
    for (const TiffPage& page : pages) {
        if (!page.image) return false;
    }
    try {
        for (const TiffPage& page : pages) {
            if (!WritePage(writer, page)) return false;
        }
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
    return true;
}

std::vector<std::uint8_t> WriteTiffPages(const std::vector<TiffPage>& pages) {
    auto writer = TiffWriter::CreateInMemory();
    if (!writer || !WriteTiffPages(*writer, pages)) return {};
    return writer->finishData();
}

}  // namespace plat::codecs
