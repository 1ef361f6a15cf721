#pragma once
// Opening a PDF held in memory with qpdf, the same way everywhere in the
// layer: files that other readers open are opened too, and page trees that
// would break qpdf's own recursive walks are mended or refused first.

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif

#include <qpdf/QPDF.hh>

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace plat {

// Page trees nested deeper than this are refused: qpdf walks them by
// recursion, and a hostile file nests them by the hundred thousand.
inline constexpr std::size_t kMaxPdfPageTreeDepth = 256;
// Kids a page-tree walk visits before subtrees listed again are passed over.
inline constexpr std::size_t kMaxPdfPageTreeVisits = 10000;

enum class QpdfOpenStatus { Opened, Unreadable, Locked };

// Parses `bytes` (which must outlive the result) with `password`, quietly.
// A file whose strings and streams are stored unencrypted (the Identity
// crypt filter: only its attachments are encrypted) opens without its
// password, as poppler opens it; its attachments stay unreadable
// (AttachmentsLocked). A page-tree node listed below itself is dropped from
// that place, so the pages that exist remain; a node listed a second time
// gives its pages again, as renderers show them (within
// kMaxPdfPageTreeVisits; beyond it, it is dropped from that place).
// Null, with `status` saying why, when the bytes are not a PDF, the
// password is wrong or the page tree is deeper than kMaxPdfPageTreeDepth.
std::unique_ptr<QPDF> OpenQpdf(std::span<const char> bytes, const std::string& password,
                               QpdfOpenStatus* status = nullptr);

// Whether `pdf` was opened without the password its attachments need.
bool AttachmentsLocked(QPDF& pdf);

}  // namespace plat
