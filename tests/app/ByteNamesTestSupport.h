#pragma once
// File names that are not UTF-8 (and one that is), as a user's disc holds
// them: Latin-1 accents, broken and overlong sequences, a lone 0xFF. Each
// must be listed, named and written with exactly its own bytes.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace bytenames {

struct ByteName {
    const char* what;
    std::string stem;  // the name without its extension
};

inline const std::vector<ByteName>& Stems() {
    static const std::vector<ByteName> stems{
        {"Latin-1 e acute", "caf\xe9"},
        {"Latin-1 e grave", "caf\xe8"},
        {"truncated sequence", "euro\xe2\x82"},
        {"lone continuation byte", "a\x80z"},
        {"overlong slash", "over\xc0\xafslash"},
        {"overlong three bytes", "\xe0\x80\xaf" "dot"},
        {"encoded surrogate", "sur\xed\xa0\x80"},
        {"lone 0xFF", "\xff"},
        {"valid UTF-8 mixed with Latin-1", "\xc3\xbcn\xc3\xaf-\xe9t\xc3\xa9"},
        {"valid UTF-8 only", "\xc3\xbcn\xc3\xaf" "code"},
    };
    return stems;
}

// The same stems with an extension.
inline std::vector<std::string> Names(const std::string& extension) {
    std::vector<std::string> names;
    for (const ByteName& name : Stems()) names.push_back(name.stem + extension);
    return names;
}

// A readable form of a byte name for failure messages.
inline std::string Escaped(const std::string& bytes) { return testing::PrintToString(bytes); }

// The text/uri-list a GLib file manager sends for these paths: every byte
// outside the unreserved set percent-encoded, lines ended by CR LF.
inline std::string GLibURIList(const std::vector<std::filesystem::path>& paths) {
    std::string list;
    constexpr std::string_view plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/-._~";
    constexpr const char* hex = "0123456789ABCDEF";
    for (const auto& path : paths) {
        list += "file://";
        for (unsigned char c : path.native()) {
            if (plain.find(char(c)) != plain.npos) list += char(c);
            else list += {'%', hex[c >> 4], hex[c & 15]};
        }
        list += "\r\n";
    }
    return list;
}

}  // namespace bytenames
