#pragma once
// Our own reader of RTF into a QTextDocument: text in its code page and
// Unicode, paragraphs and line breaks, bold, italic, underline, strike-out,
// font sizes, font names, colours, paragraph alignment, and the images of
// an RTFD package. Everything else (tables, fields' instructions, pictures
// embedded as hex, headers and footers) is passed over.

#include <QTextDocument>

#include <filesystem>
#include <string_view>

// Reads `rtf` into `document` (replacing its contents). `attachmentFolder`
// is the RTFD folder whose files the text refers to; empty for plain RTF.
// False when the data is not RTF, or holds more runs of text in one format
// than can be laid out in reasonable time.
bool ReadRTF(std::string_view rtf, QTextDocument& document, const std::filesystem::path& attachmentFolder = {});
