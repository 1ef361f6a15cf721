#pragma once

#include "platform/FileAttributes.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

namespace plat {

// File system services. Every write goes to a temporary file in the target's
// own folder and is renamed over the target only when complete, so a failed
// write leaves the old file untouched and no temporary file behind.
//
// Functions that can fail return false (or an empty result) and, when the
// caller passes `error`, store the reason there.
class FileManager {
public:
    using Path = std::filesystem::path;

    // --- Atomic creation ---------------------------------------------------

    // Creates or replaces `path` with the bytes given, then applies
    // `attributes` (dates, permissions). A replaced file keeps its permission
    // bits unless `attributes` names others; a new file gets 0666 & ~umask.
    static bool createFile(const Path& path, const void* data, std::size_t size,
                           const std::optional<FileAttributes>& attributes = std::nullopt,
                           std::error_code* error = nullptr);
    static bool createFile(const Path& path, std::span<const std::uint8_t> data,
                           const std::optional<FileAttributes>& attributes = std::nullopt,
                           std::error_code* error = nullptr);
    static bool createFile(const Path& path, std::string_view data,
                           const std::optional<FileAttributes>& attributes = std::nullopt,
                           std::error_code* error = nullptr);

    // Streams a file too large to hold in memory: `produce` hands the bytes,
    // in order, to the `write` it receives (false when the write failed) and
    // returns true when the file is complete. Atomic as above: nothing of a
    // failed or empty file reaches `path`.
    using ByteWriter = std::function<bool(const void* data, std::size_t size)>;
    static bool createFile(const Path& path, const std::function<bool(const ByteWriter& write)>& produce,
                           const std::optional<FileAttributes>& attributes = std::nullopt,
                           std::error_code* error = nullptr);

    // For encoders that seek back and read what they wrote: `produce`
    // receives the temporary file's descriptor, open for reading and writing,
    // and returns true when the file is complete. Atomic as above; the
    // descriptor stays ours.
    static bool createFileWithDescriptor(const Path& path, const std::function<bool(int descriptor)>& produce,
                                         const std::optional<FileAttributes>& attributes = std::nullopt,
                                         std::error_code* error = nullptr);

    // For writers that insist on opening the file themselves (libtiff, vips):
    // `write` receives a fresh temporary path beside `destination` that keeps
    // the destination's extension, and returns true when it wrote a complete
    // file there. Only then, and only when the file is not empty, it is synced
    // and renamed over `destination`. In every other case (false, exception,
    // empty or missing output) the temporary file is removed, `destination`
    // is untouched and the result is false.
    static bool writeAtomically(const Path& destination,
                                const std::function<bool(const Path& temporaryPath)>& write,
                                const std::optional<FileAttributes>& attributes = std::nullopt,
                                std::error_code* error = nullptr);

    // --- Reading -------------------------------------------------------------

    // Reads a whole regular file; fails on files larger than `maxSize`.
    static std::optional<std::vector<std::uint8_t>> contentsOfFile(
        const Path& path, std::uint64_t maxSize = std::uint64_t(1) << 32,
        std::error_code* error = nullptr);
    // The first `count` bytes of a regular file (all of it when shorter), for
    // readers that need only a header.
    static std::optional<std::vector<std::uint8_t>> leadingBytesOfFile(const Path& path, std::size_t count,
                                                                       std::error_code* error = nullptr);

    // Dates (creation where the filesystem records it) and permission bits.
    static std::optional<FileAttributes> attributesOfItem(const Path& path,
                                                          std::error_code* error = nullptr);
    // Applies modification/access dates and permissions; the creation date,
    // which Linux cannot set, is ignored.
    static bool setAttributes(const Path& path, const FileAttributes& attributes,
                              std::error_code* error = nullptr);
    static std::optional<std::uint64_t> fileSize(const Path& path,
                                                 std::error_code* error = nullptr);

    // --- Queries and simple operations ---------------------------------------

    static bool fileExists(const Path& path);   // anything, a dangling symlink included
    static bool isDirectory(const Path& path);  // follows symlinks
    static bool isRegularFile(const Path& path);
    // Removes a file, a symlink or a whole folder tree. Removing nothing fails.
    static bool removeItem(const Path& path, std::error_code* error = nullptr);
    // Makes the folder and any missing parents; an existing folder is success.
    static bool createDirectories(const Path& path, std::error_code* error = nullptr);

    // Copies a file (or a folder tree) to `destination`, which must not exist.
    // A file copy is written atomically and keeps permissions and dates.
    static bool copyItem(const Path& source, const Path& destination,
                         std::error_code* error = nullptr);
    // Moves `source` to `destination`, replacing what is there. Across
    // filesystems the file is copied to a temporary file in the destination
    // folder, renamed into place, and only then the source is removed.
    static bool moveItemReplacing(const Path& source, const Path& destination,
                                  std::error_code* error = nullptr);
    // Moves `source` within its filesystem to `destination`, or, when that is
    // taken, to the first free of "<destination>.1", ".2", ...; nothing is
    // ever replaced. The name used, empty on failure.
    static Path moveItemToFreeName(const Path& source, const Path& destination,
                                   std::error_code* error = nullptr);
    // Renames the file `source` to `destination` in the same filesystem only
    // when nothing is there, in one step: never replaces what another writer
    // put there meanwhile.
    static bool moveItemIfAbsent(const Path& source, const Path& destination,
                                 std::error_code* error = nullptr);

    // --- Well-known folders ---------------------------------------------------

    // The private temporary folder $TMPDIR/vantrell-<uid> (TMPDIR defaults to
    // /tmp), created with mode 0700 and checked to be a real folder owned by
    // us with no access for others. Should that name be taken by someone
    // else, a fresh private folder is made instead. Empty when neither works.
    // When $TMPDIR itself names such a folder of ours, that folder.
    static Path temporaryDirectory(std::error_code* error = nullptr);
    // $XDG_DATA_HOME, default ~/.local/share. Not created here.
    static Path applicationSupportDirectory();
    // $XDG_CONFIG_HOME/vantrell, default ~/.config/vantrell. Not created here.
    static Path preferencesDirectory();
    // The user's home folder ($HOME, else the password database).
    static Path homeDirectory();

    // A name for a temporary file beside `destination` (same folder, hidden,
    // same extension). Nothing is created.
    static Path temporaryPathBeside(const Path& destination);
    // Removes the temporary files in `folder` whose writers are gone (killed
    // while writing); true when no temporary file of any writer is left
    // there. A missing or unreadable folder is not clean.
    static bool removeStaleTemporariesIn(const Path& folder);
};

}  // namespace plat
