#include "engine/PdfPagesLayout.h"

#include <gtest/gtest.h>

namespace {

PdfPageRange Range(int mode, std::int64_t first, std::int64_t last, std::int64_t count) {
    return ComputePdfPageRange(mode, first, last, count);
}

}  // namespace

TEST(PdfPagesLayoutTest, PageRanges) {
    // A range whose first page lies after its last renders the last alone.
    PdfPageRange r = Range(2, 5, 3, 10);
    EXPECT_EQ(r.first, 3);
    EXPECT_EQ(r.last, 3);
    r = Range(2, 0, 4, 10);
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.last, 4);
    r = Range(2, 11, 20, 10);  // first beyond the document starts at 1
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.last, 10);
    r = Range(2, 3, 7, 10);
    EXPECT_EQ(r.Count(), 5);

    std::int64_t last = -3;
    r = ComputePdfPageRange(2, 1, last, 10);
    EXPECT_EQ(last, 1);  // raised for the caller too
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.last, 1);

    // One page: a page outside the document, on either side, is page 1.
    r = Range(1, 12, 0, 10);
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.last, 1);
    r = Range(1, 0, 0, 10);
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.last, 1);
    r = Range(1, -4, 0, 10);
    EXPECT_EQ(r.first, 1);
    r = Range(1, 7, 0, 10);
    EXPECT_EQ(r.first, 7);
    EXPECT_EQ(r.last, 7);

    for (int mode : {0, 3, -1}) {
        r = Range(mode, 5, 6, 10);
        EXPECT_EQ(r.first, 1);
        EXPECT_EQ(r.last, 10);
    }

    // A document without pages has nothing to render in any mode.
    for (int mode : {0, 1, 2}) {
        EXPECT_TRUE(Range(mode, 1, 1, 0).IsEmpty()) << mode;
        EXPECT_EQ(Range(mode, 1, 1, 0).Count(), 0);
    }
}

TEST(PdfPagesLayoutTest, Resolution) {
    double x = 0, y = 0;
    EXPECT_DOUBLE_EQ(NormalisePdfPageResolution(x, y), 1.0);
    EXPECT_EQ(x, 72);
    EXPECT_EQ(y, 72);
    x = 150, y = 0;
    EXPECT_DOUBLE_EQ(NormalisePdfPageResolution(x, y), 150.0 / 72.0);
    EXPECT_EQ(y, 150);
    x = 0, y = 300;
    NormalisePdfPageResolution(x, y);
    EXPECT_EQ(x, 300);
    x = 100, y = 200;
    EXPECT_DOUBLE_EQ(NormalisePdfPageResolution(x, y), 200.0 / 72.0);
}

TEST(PdfPagesLayoutTest, ScaleForTheRequestedSize) {
    const double job = 2.0;  // 144 dpi
    PdfPageResize off;
    EXPECT_DOUBLE_EQ(ComputePdfPageScale(job, 200, 100, off), job);

    PdfPageResize pixels{true, 400, 0, 2};
    EXPECT_DOUBLE_EQ(ComputePdfPageScale(job, 200, 100, pixels), 2.0);  // pixels ignore the job's scale
    pixels = {true, 0, 50, 2};
    EXPECT_DOUBLE_EQ(ComputePdfPageScale(job, 200, 100, pixels), 0.5);
    // Both sides: fit inside. 400 wide would make 200 high, above 150.
    pixels = {true, 400, 150, 2};
    EXPECT_DOUBLE_EQ(ComputePdfPageScale(job, 200, 100, pixels), 1.5);
    pixels = {true, 300, 400, 2};
    EXPECT_DOUBLE_EQ(ComputePdfPageScale(job, 200, 100, pixels), 1.5);

    // Percent of the page, on top of the job's resolution.
    PdfPageResize percent{true, 50, 0, 1};
    EXPECT_DOUBLE_EQ(ComputePdfPageScale(job, 200, 100, percent), 1.0);
    percent = {true, 50, 50, 1};
    EXPECT_DOUBLE_EQ(ComputePdfPageScale(job, 200, 100, percent), 1.0);

    // Physical sizes: a 200 pt page asked to be 100 pt wide halves.
    PdfPageResize inches{true, 100.0 / 72.0, 0, 3};
    EXPECT_NEAR(ComputePdfPageScale(job, 200, 100, inches), 1.0, 1e-12);
    PdfPageResize points{true, 100, 0, 6};
    EXPECT_DOUBLE_EQ(ComputePdfPageScale(job, 200, 100, points), 1.0);
    PdfPageResize cm{true, 0, 2.54, 4};
    EXPECT_NEAR(ComputePdfPageScale(job, 200, 72, cm), 2.0, 1e-12);
    PdfPageResize mm{true, 25.4, 0, 5};
    EXPECT_NEAR(ComputePdfPageScale(job, 72, 100, mm), 2.0, 1e-12);
}

TEST(PdfPagesLayoutTest, NamesCarryThePageCountsWidth) {
    EXPECT_EQ(FormatPdfPageName("doc", 1, 9, true), "doc-1");
    EXPECT_EQ(FormatPdfPageName("doc", 9, 9, true), "doc-9");
    EXPECT_EQ(FormatPdfPageName("doc", 1, 10, true), "doc-01");
    EXPECT_EQ(FormatPdfPageName("doc", 10, 10, true), "doc-10");
    EXPECT_EQ(FormatPdfPageName("doc", 7, 250, true), "doc-007");
    EXPECT_EQ(FormatPdfPageName("my file", 12, 10, true), "my file-12");
    EXPECT_EQ(FormatPdfPageName("doc", 3, 10, false), "doc");
}
