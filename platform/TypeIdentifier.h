#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace plat {

// Uniform type identifier strings ("public.jpeg", "com.adobe.pdf", ...) for
// paths, by their extension, and for file contents, by their signature.
// Unknown types give the empty string.
class TypeIdentifier {
public:
    // By the path's extension, ignoring letter case ("IMG.JPG" -> "public.jpeg").
    static std::string forPath(const std::filesystem::path& path);
    static std::string forExtension(std::string_view extension);
    // By the bytes' signature. Formats without a signature (MacPaint, fax,
    // most TIFF-based camera raw files) are not told apart here.
    static std::string forData(const void* data, std::size_t size);
    // By the file's first bytes, else by its extension.
    static std::string forFileContents(const std::filesystem::path& path);

    // Whether `type` is `parent` or one of its descendants, e.g.
    // "public.jpeg" conforms to "public.image" and "public.data".
    static bool conformsTo(std::string_view type, std::string_view parent);
};

}  // namespace plat
