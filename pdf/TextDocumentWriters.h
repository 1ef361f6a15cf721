#pragma once
// Our own small writers of text documents from plain text: UTF-8 and UTF-16
// text, RTF, RTFD (a folder with "TXT.rtf"), Office Open XML (.docx) and
// OpenDocument (.odt) text, and Word 97 (.doc) through LibreOffice. Lines
// of the text become paragraphs. Each writer creates its file (or folder)
// completely or not at all, and answers whether it did.

#include <QString>

#include <filesystem>

bool WriteUTF8TextDocument(const std::filesystem::path& url, const QString& text);
// UTF-16 in the machine's byte order, with a byte-order mark.
bool WriteUTF16TextDocument(const std::filesystem::path& url, const QString& text);
bool WriteRTFDocument(const std::filesystem::path& url, const QString& text);
bool WriteRTFDDocument(const std::filesystem::path& url, const QString& text);
bool WriteDOCXDocument(const std::filesystem::path& url, const QString& text);
bool WriteODTDocument(const std::filesystem::path& url, const QString& text);
bool WriteWordDocument(const std::filesystem::path& url, const QString& text);

// The RTF data of the text.
QByteArray MakeRTFData(const QString& text);
