#pragma once
// Reads a text document into a QTextDocument: plain text, HTML, RTF, RTFD
// (a folder holding "TXT.rtf" and its images), and Word and OpenDocument
// text through LibreOffice.

#include "pdf/DocumentResources.h"

#include <filesystem>

enum class TextDocumentKind { Plain, Html, Rtf, Rtfd, Office };

TextDocumentKind GetTextDocumentKind(const std::filesystem::path& url);

// Fills `document` with the file's text. `richText` tells whether the file
// carries its own styling (anything but plain text). False, with the
// document left empty, when the file cannot be read or holds more than can
// be laid out in reasonable time and memory.
bool ReadTextDocument(const std::filesystem::path& url, BoundedTextDocument& document, bool* richText = nullptr);
