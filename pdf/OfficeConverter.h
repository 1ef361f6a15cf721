#pragma once
// Converts Word and OpenDocument files with LibreOffice, run headless as a
// child process with a private profile and temporary folder, a time limit
// and a memory limit.

#include <chrono>
#include <filesystem>
#include <string>

// Converts `input` to `format` (a LibreOffice "--convert-to" argument such as
// "html" or "doc:MS Word 97") into a fresh folder inside `outputFolder`.
// The converted file (named after the input, with `extension`; the caller
// removes `outputFolder` when done with it), or empty when
// LibreOffice is missing, fails, or is still running after `limit` (it is
// then stopped); nothing is left behind on failure.
// `inputFilter` names LibreOffice's import filter; without one LibreOffice
// guesses, and reads a damaged file as plain text.
std::filesystem::path ConvertWithLibreOffice(const std::filesystem::path& input, const std::string& format,
                                             const std::string& extension, const std::filesystem::path& outputFolder,
                                             std::chrono::milliseconds limit = std::chrono::seconds(120),
                                             const std::string& inputFilter = {});

// LibreOffice's import filter for a text-document type code of the engine
// (7 to 13: OpenDocument, OpenOffice and Word documents); empty for others.
std::string GetLibreOfficeImportFilter(int textDocumentType);

// The LibreOffice program run for conversions: $VANTRELL_LIBREOFFICE when
// set, else the soffice.bin of Debian's package (run directly, so that the
// process stopped on a time-out is the converter itself).
std::string GetLibreOfficeExecutable();
