#pragma once

#include <chrono>
#include <optional>
#include <sys/types.h>

namespace plat {

using FileTime = std::chrono::system_clock::time_point;

// The attributes carried over from one file to another. Every field is
// optional: an absent field leaves the target's own value alone. Linux cannot
// set a creation date, so creationDate is only ever read.
struct FileAttributes {
    std::optional<FileTime> creationDate;
    std::optional<FileTime> modificationDate;
    std::optional<FileTime> accessDate;
    std::optional<mode_t> posixPermissions;  // the permission bits only (07777)

    friend bool operator==(const FileAttributes&, const FileAttributes&) = default;
};

}  // namespace plat
