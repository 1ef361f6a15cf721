#include "engine/MultiPageTiff.h"

#include "platform/TiffWriter.h"

int WriteTIFFPage(plat::TiffWriter* tiff, int width, int height, const std::uint8_t* pixels,
                  plat::ColorModel model, bool alpha, double dpiX, double dpiY, int pageIndex, int pageCount) {
    if (!tiff || !pixels || width <= 0 || height <= 0) {
        return 0;
    }
    plat::TiffPageLayout layout;
    layout.width = width;
    layout.height = height;
    layout.model = model;
    // Only RGB pages carry alpha here.
    layout.alpha = alpha && model == plat::ColorModel::RGB;
    layout.compression = plat::TiffCompression::LZW;
    layout.dpiX = dpiX;
    layout.dpiY = dpiY;
    layout.pageIndex = pageIndex;
    layout.pageCount = pageCount;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(layout.samplesPerPixel());
    return tiff->writePage(layout, pixels, rowBytes) ? 1 : 0;
}

MultiPageTiffFile::MultiPageTiffFile() = default;

MultiPageTiffFile::~MultiPageTiffFile() = default;

int MultiPageTiffFile::Open(const std::filesystem::path& destination) {
    Discard();
    writer_ = plat::TiffWriter::CreateBeside(destination);
    return writer_ ? 1 : 0;
}

void MultiPageTiffFile::Discard() {
    writer_.reset();
    pages_ = 0;
}

int MultiPageTiffFile::Commit(const std::optional<plat::FileAttributes>& attributes) {
    const bool ok = writer_ && pages_ > 0 && writer_->commit(attributes);
    Discard();
    return ok ? 1 : 0;
}
