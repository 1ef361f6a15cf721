#include "platform/TiffWriter.h"

#include "platform/FileManager.h"
#include "platform/TiffMemoryFile.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace plat {

namespace fs = std::filesystem;

namespace {

std::uint16_t PhotometricFor(ColorModel model) {
    switch (model) {
    case ColorModel::Gray: return PHOTOMETRIC_MINISBLACK;
    case ColorModel::CMYK: return PHOTOMETRIC_SEPARATED;
    case ColorModel::RGB: break;
    }
    return PHOTOMETRIC_RGB;
}

std::uint16_t CompressionFor(TiffCompression compression) {
    return compression == TiffCompression::None ? COMPRESSION_NONE : COMPRESSION_LZW;
}

bool SetTags(TIFF* tiff, const TiffPageLayout& layout) {
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(layout.width)) == 1 &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(layout.height)) == 1 &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, std::uint16_t(layout.bitsPerSample)) == 1 &&
              TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT,
                           std::uint16_t(layout.bitsPerSample == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT)) == 1 &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel()) == 1 &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PhotometricFor(layout.model)) == 1 &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, CompressionFor(layout.compression)) == 1;
    if (ok && layout.compression == TiffCompression::LZWWithPredictor) {
        ok = TIFFSetField(tiff, TIFFTAG_PREDICTOR,
                          layout.bitsPerSample == 32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL) == 1;
    }
    if (ok && layout.dpiX > 0.0 && layout.dpiY > 0.0) {
        ok = TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(layout.dpiX)) == 1 &&
             TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(layout.dpiY)) == 1 &&
             TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1;
    }
    if (ok && layout.alpha) {
        const std::uint16_t extra[1] = {
            std::uint16_t(layout.premultiplied ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA)};
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra) == 1;
    }
    if (ok && layout.pageIndex >= 0) {
        ok = TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1 &&
             TIFFSetField(tiff, TIFFTAG_PAGENUMBER, std::uint16_t(layout.pageIndex),
                          std::uint16_t(layout.pageCount)) == 1;
    }
    if (ok) {
        const std::uint32_t rows = layout.rowsPerStrip ? layout.rowsPerStrip : TIFFDefaultStripSize(tiff, 0);
        ok = TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows) == 1;
    }
    if (ok && !layout.iccProfile.empty()) {
        // A profile libtiff will not take costs the colours, not the page.
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(layout.iccProfile.size()), layout.iccProfile.data());
    }
    return ok;
}

}  // namespace

int TiffPageLayout::samplesPerPixel() const {
    const int colour = model == ColorModel::Gray ? 1 : model == ColorModel::CMYK ? 4 : 3;
    return colour + (alpha ? 1 : 0);
}

TiffWriter::TiffWriter() = default;

TiffWriter::~TiffWriter() { discard(); }

std::unique_ptr<TiffWriter> TiffWriter::CreateInMemory() {
    std::unique_ptr<TiffWriter> writer(new TiffWriter());
    writer->memory_ = std::make_unique<TiffMemoryFile>();
    writer->tiff_ = OpenTiffMemoryFile(writer->memory_.get(), "w");
    if (!writer->tiff_) return nullptr;
    return writer;
}

std::unique_ptr<TiffWriter> TiffWriter::CreateBeside(const fs::path& destination) {
    if (destination.empty()) return nullptr;
    std::unique_ptr<TiffWriter> writer(new TiffWriter());
    writer->destination_ = destination;
    writer->temporary_ = FileManager::temporaryPathBeside(destination);
    QuietTiffOptions quiet;
    writer->tiff_ = TIFFOpenExt(writer->temporary_.c_str(), "w", quiet.options);
    if (!writer->tiff_) return nullptr;  // the destructor removes any file
    return writer;
}

bool TiffWriter::writePage(const TiffPageLayout& layout, const std::uint8_t* pixels, std::size_t rowBytes) {
    if (!tiff_ || !pixels || layout.width <= 0 || layout.height <= 0 || layout.pageCount > 0xFFFF) return false;
    if (layout.bitsPerSample != 8 && layout.bitsPerSample != 16 && layout.bitsPerSample != 32) return false;
    const std::size_t packed = std::size_t(layout.width) * std::size_t(layout.bytesPerPixel());
    if (rowBytes < packed || !SetTags(tiff_, layout)) return false;
    // libtiff may encode in place (the predictor does), so each row goes
    // through a scratch copy and the caller's pixels stay as they are.
    std::vector<std::uint8_t> row(packed);
    for (int y = 0; y < layout.height; ++y) {
        std::memcpy(row.data(), pixels + std::size_t(y) * rowBytes, packed);
        if (TIFFWriteScanline(tiff_, row.data(), std::uint32_t(y), 0) != 1) return false;
    }
    if (TIFFWriteDirectory(tiff_) != 1) return false;
    ++pages_;
    return true;
}

std::vector<std::uint8_t> TiffWriter::finishData() {
    std::vector<std::uint8_t> bytes;
    if (tiff_ && memory_) {
        const bool flushed = TIFFFlush(tiff_) == 1;
        TIFFClose(tiff_);
        tiff_ = nullptr;
        if (flushed && pages_ > 0) bytes = std::move(memory_->bytes);
    }
    discard();
    return bytes;
}

bool TiffWriter::commit(const std::optional<FileAttributes>& attributes) {
    if (!tiff_ || memory_ || pages_ == 0) {
        discard();
        return false;
    }
    // TIFFClose flushes; a short write shows up as a failed flush.
    const bool flushed = TIFFFlush(tiff_) == 1;
    TIFFClose(tiff_);
    tiff_ = nullptr;
    bool ok = false;
    if (flushed) {
        // The file is finished as every other write is (permissions of the
        // file it replaces, attributes, fsync, rename): FileManager reserves
        // a name beside the destination and the pages move onto it.
        const fs::path written = temporary_;
        ok = FileManager::writeAtomically(
            destination_,
            [&written](const fs::path& reserved) {
                std::error_code ec;
                fs::rename(written, reserved, ec);
                return !ec;
            },
            attributes);
    }
    discard();
    return ok;
}

void TiffWriter::discard() {
    if (tiff_) {
        TIFFClose(tiff_);
        tiff_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::error_code ec;
        fs::remove(temporary_, ec);
        temporary_.clear();
    }
    if (memory_) memory_->bytes.clear();
    pages_ = 0;
}

}  // namespace plat
