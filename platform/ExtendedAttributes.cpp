#include "platform/ExtendedAttributes.h"

#include <cerrno>
#include <string_view>
#include <vector>

#include <sys/xattr.h>

namespace plat {

namespace {

// The whole value list of one call that reports its size first, retried when
// the attribute grew between the two calls.
template <class Call>
bool ReadSized(std::vector<char>& out, Call call) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0) {
            out.clear();
            return errno == ENOTSUP;  // no attributes on this filesystem
        }
        out.resize(static_cast<std::size_t>(size));
        if (size == 0) return true;
        const ssize_t got = call(out.data(), out.size());
        if (got >= 0) {
            out.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
    return false;
}

bool MaySkip(std::string_view name) { return name.starts_with("security.") || name.starts_with("trusted."); }

}  // namespace

bool CopyExtendedAttributes(int from, int to) {
    std::vector<char> names;
    if (!ReadSized(names, [from](char* buffer, std::size_t size) { return ::flistxattr(from, buffer, size); })) {
        return false;
    }
    std::vector<char> value;
    for (std::size_t at = 0; at < names.size();) {
        const char* name = names.data() + at;
        const std::string_view view(name);
        at += view.size() + 1;
        if (view.empty()) continue;
        const bool read = ReadSized(value, [from, name](char* buffer, std::size_t size) {
            return ::fgetxattr(from, name, buffer, size);
        });
        const bool written = read && ::fsetxattr(to, name, value.data(), value.size(), 0) == 0;
        if (!written && !MaySkip(view)) return false;
    }
    return true;
}

}  // namespace plat
