#include "app/model/LocalFileURL.h"

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

fs::path PathFromFileURI(std::string_view uri, std::string_view hostName) {
    constexpr std::string_view kScheme = "file:";
    if (uri.size() < kScheme.size() || !EqualsIgnoringCase(uri.substr(0, kScheme.size()), kScheme)) return {};
    std::string_view rest = uri.substr(kScheme.size());
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return {};
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !EqualsIgnoringCase(host, "localhost") &&
            (hostName.empty() || !EqualsIgnoringCase(host, hostName))) {
            return {};
        }
        rest.remove_prefix(slash);
    }
    // A name holding "?" or "#" comes escaped; unescaped they would start a
    // query or fragment, and a path cut there names another file.
    if (!rest.starts_with('/') || rest.find_first_of("?#") != std::string_view::npos) return {};
    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int high = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
        const int low = i + 2 < rest.size() ? HexValue(rest[i + 2]) : -1;
        if (high < 0 || low < 0) return {};
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (path.find('\0') != std::string::npos) return {};
    return fs::path(std::move(path));
}

fs::path PathFromFileURL(const QUrl& url) {
    // The encoded form keeps escapes that are not UTF-8 as they came;
    // toLocalFile() would decode them into U+FFFD.
    const QByteArray encoded = url.toEncoded();
    return PathFromFileURI(std::string_view(encoded.constData(), std::size_t(encoded.size())));
}

QByteArray FileURIForPath(const fs::path& path) {
    if (!path.is_absolute()) return {};
    const std::string& native = path.native();
    return QByteArrayLiteral("file://") +
           QByteArray::fromRawData(native.data(), qsizetype(native.size())).toPercentEncoding("/");
}

QUrl FileURLForPath(const fs::path& path) {
    const QByteArray uri = FileURIForPath(path);
    return uri.isEmpty() ? QUrl() : QUrl::fromEncoded(uri, QUrl::StrictMode);
}

std::vector<fs::path> PathsFromURIList(std::string_view list) {
    std::vector<fs::path> paths;
    while (!list.empty()) {
        const std::size_t end = list.find('\n');
        std::string_view line = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0' || line.back() == ' ')) line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        fs::path path = PathFromFileURI(line);
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}
