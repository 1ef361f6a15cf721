#pragma once
// What is checked before any optimiser tool touches a file: that it is a
// readable regular file the user may change, and that it holds nothing the
// tools would drop (the frames of an animated PNG, the further images or
// trailing data of a JPEG).

#include <cstdint>
#include <string>
#include <string_view>

namespace optimisation {

enum class FileCondition {
    Fine,
    Unreadable,        // missing, empty or not openable
    NotRegular,        // a FIFO, device or folder under an image's name
    NotWritable,       // the user may not change it
    AnimatedPng,       // acTL before the image data
    MoreThanOneImage,  // MPF data, an appended image or other data after the first image
};

struct FileInspection {
    FileCondition condition = FileCondition::Unreadable;
    std::uint64_t size = 0;
    int type = 0;  // File::fileType of the first bytes
};

// Looks at the file at `path` (a symbolic link is followed) without blocking
// on a FIFO and without reading more than the structure of the file needs.
FileInspection InspectFileCondition(const std::string& path);

// The status a condition other than Fine shows on the File.
struct ConditionStatus {
    std::string_view key;
    std::int64_t order;
    std::string_view text;
};
ConditionStatus StatusForCondition(FileCondition condition);

// The regular file a path names: a symbolic link resolved to its target (the
// link itself must stay). Empty when it cannot be resolved.
std::string ResolvedTarget(const std::string& path);

// Whether the user may change the file: write permission, and for the
// superuser (who may write anything) a write bit in its mode.
bool IsWritableByUser(const std::string& path, unsigned mode);

}  // namespace optimisation
