#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif

#include "common/KSMUtil.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace {

QPDFObjectHandle box(double a, double b, double c, double d) {
    return QPDFObjectHandle::newFromRectangle({a, b, c, d});
}

// Pages: rotated with a crop box; an empty crop box; upright.
std::vector<std::uint8_t> makePdf(const char* userPassword = nullptr) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper pages(pdf);
    auto addPage = [&](QPDFObjectHandle media, QPDFObjectHandle crop, int rotate) {
        QPDFObjectHandle contents = pdf.newStream("0 0 1 rg 20 20 50 30 re f");
        QPDFObjectHandle page = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /Resources << >> >>"));
        page.replaceKey("/MediaBox", media);
        if (!crop.isNull()) page.replaceKey("/CropBox", crop);
        if (rotate) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(rotate));
        page.replaceKey("/Contents", contents);
        page.replaceKey("/TrimBox", box(0, 0, 5, 5));
        pages.addPage(QPDFPageObjectHelper(page), false);
    };
    addPage(box(0, 0, 200, 100), box(10, 10, 110, 60), 90);
    addPage(box(0, 0, 300, 400), box(0, 0, 0, 0), 0);
    addPage(box(50, 60, 250, 160), QPDFObjectHandle::newNull(), 180);
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    if (userPassword) {
        writer.setR6EncryptionParameters(userPassword, "owner", true, true, true, true, true, true,
                                         qpdf_r3p_full, true);
    }
    writer.write();
    auto buffer = writer.getBufferSharedPointer();
    return std::vector<std::uint8_t>(buffer->getBuffer(), buffer->getBuffer() + buffer->getSize());
}

struct PageBox {
    double llx, lly, urx, ury;
    bool hasRotate, hasCrop, hasTrim;
};

std::vector<PageBox> pagesOf(const std::vector<std::uint8_t>& data) {
    QPDF pdf;
    pdf.processMemoryFile("out", reinterpret_cast<const char*>(data.data()), data.size());
    std::vector<PageBox> result;
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        auto handle = page.getObjectHandle();
        auto r = handle.getKey("/MediaBox").getArrayAsRectangle();
        const bool rotated = handle.hasKey("/Rotate") && handle.getKey("/Rotate").getIntValue() != 0;
        result.push_back({r.llx, r.lly, r.urx, r.ury, rotated, handle.hasKey("/CropBox"), handle.hasKey("/TrimBox")});
    }
    return result;
}

}  // namespace

TEST(NormalizedPdf, EveryPageShowsItsVisibleBoxUpright) {
    const auto source = makePdf();
    const auto normalized = CreateNormalizedPDFData(source);
    ASSERT_TRUE(normalized);
    const auto pages = pagesOf(*normalized);
    ASSERT_EQ(pages.size(), 3u);
    for (const auto& page : pages) {
        EXPECT_FALSE(page.hasRotate);
        EXPECT_FALSE(page.hasCrop);
        EXPECT_FALSE(page.hasTrim);
    }
    // Crop box 100 x 50 turned a quarter: 50 wide, 100 high.
    EXPECT_DOUBLE_EQ(pages[0].urx - pages[0].llx, 50.0);
    EXPECT_DOUBLE_EQ(pages[0].ury - pages[0].lly, 100.0);
    // An empty crop box: the media box.
    EXPECT_DOUBLE_EQ(pages[1].urx - pages[1].llx, 300.0);
    EXPECT_DOUBLE_EQ(pages[1].ury - pages[1].lly, 400.0);
    // Half a turn keeps the size.
    EXPECT_DOUBLE_EQ(pages[2].urx - pages[2].llx, 200.0);
    EXPECT_DOUBLE_EQ(pages[2].ury - pages[2].lly, 100.0);
}

TEST(NormalizedPdf, PasswordsAndBrokenInput) {
    const auto locked = makePdf("secret");
    EXPECT_FALSE(CreateNormalizedPDFData(locked));
    EXPECT_FALSE(CreateNormalizedPDFData(locked, "wrong"));
    const auto opened = CreateNormalizedPDFData(locked, "secret");
    ASSERT_TRUE(opened);
    EXPECT_EQ(pagesOf(*opened).size(), 3u) << "the copy carries no password";

    const std::string junk = "%PDF-1.4\nthis is not a pdf at all";
    EXPECT_FALSE(CreateNormalizedPDFData(std::span(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size())));
    EXPECT_FALSE(CreateNormalizedPDFData({}));
}
