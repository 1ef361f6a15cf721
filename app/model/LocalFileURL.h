#pragma once
// File names between the application and the desktop, kept as the bytes they
// are. A Linux file name need not be UTF-8; Qt decodes names as UTF-8 and
// turns every other byte into U+FFFD, so a path that passes through a
// QString (QUrl::toLocalFile, QFile::decodeName, QString::fromStdString)
// names another file. These work on the bytes and the percent escapes of a
// URI, which carry any byte; QString is only for showing a name.

#include <QByteArray>
#include <QUrl>

#include <filesystem>
#include <string_view>
#include <vector>

// The local path a file URI names, byte for byte: its percent escapes are
// decoded as bytes, raw bytes are kept. Host empty or "localhost" (or
// `hostName`, when given). Empty for another scheme or host, a query or a
// fragment, a broken escape, a relative path or a NUL byte.
std::filesystem::path PathFromFileURI(std::string_view uri, std::string_view hostName = {});
std::filesystem::path PathFromFileURL(const QUrl& url);

// The file URI of an absolute path: every byte other than the unreserved
// characters and "/" percent-encoded, so any name survives.
QByteArray FileURIForPath(const std::filesystem::path& path);
QUrl FileURLForPath(const std::filesystem::path& path);

// The local paths of a text/uri-list, in order. Comment and empty lines, and
// URIs that name no local file, are skipped.
std::vector<std::filesystem::path> PathsFromURIList(std::string_view list);
