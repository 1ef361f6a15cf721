#pragma once
// The arithmetic of turning PDF pages into image files: which pages, at
// what scale, under which names.

#include <cstdint>
#include <string>

// First and last page to render, counted from 1; empty when last < first.
struct PdfPageRange {
    std::int64_t first = 1;
    std::int64_t last = 0;

    bool IsEmpty() const { return last < first; }
    std::int64_t Count() const { return IsEmpty() ? 0 : last - first + 1; }
};

// Page range of a job on a document of `pageCount` pages. Mode 1 is one
// page (`firstPage`, or page 1 when that does not exist), mode 2 the range
// `firstPage` to `lastPage` (a first page outside the document starts at 1,
// a last page beyond it ends at the last one; a first page after the last
// one gives the last page alone), any other mode every page. `lastPage` is
// raised to 1 when below it, as the caller's converter keeps it.
PdfPageRange ComputePdfPageRange(int mode, std::int64_t firstPage, std::int64_t& lastPage, std::int64_t pageCount);

// Resolution of a page job: a missing one takes the other's value, 72 when
// both are missing. Returns the render scale max(x, y) / 72.
double NormalisePdfPageResolution(double& dpiX, double& dpiY);

// Requested output size of a page job: `width` and `height` in `unit` (1
// percent, 2 pixels, 3 inches, 4 centimetres, 5 millimetres, 6 points).
struct PdfPageResize {
    bool apply = false;
    double width = 0.0;
    double height = 0.0;
    int unit = 2;
};

// The scale in pixels per point at which a page whose visible box is
// `boxWidth` x `boxHeight` points (already turned by its rotation) renders,
// starting from the job's scale: without resizing the job's scale; pixel
// sizes give the scale directly; physical sizes and percentages multiply
// the job's scale. With both sides given, the page fits inside them.
double ComputePdfPageScale(double jobScale, double boxWidth, double boxHeight, const PdfPageResize& resize);

// Name of the output file of page `number` (without extension): the base name
// and the number zero-padded to as many digits as `pageCount` has, joined by a
// hyphen ("doc-07" of 12 pages); the base name alone when `numbered` is false.
std::string FormatPdfPageName(const std::string& baseName, std::int64_t number, std::int64_t pageCount,
                              bool numbered);
