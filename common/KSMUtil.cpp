#include "common/KSMUtil.h"

#include "platform/Collation.h"
#include "platform/FileDescriptor.h"
#include "platform/FileManager.h"
#include "platform/Notifications.h"
#include "platform/PdfDocument.h"
#include "platform/SystemVersion.h"
#include "platform/Uuid.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using plat::FileManager;

namespace {

std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

bool itemExists(const fs::path& path) { return FileManager::fileExists(path); }

fs::path markerPath() {
    const fs::path folder = FileManager::temporaryDirectory();
    return folder.empty() ? fs::path() : folder / ".KSMStore";
}

int localDayNumber(plat::FileTime time) {
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    if (!::localtime_r(&t, &local)) return 0;
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

// A fresh temporary file beside `destination`, opened for writing.
int createTemporaryBeside(const fs::path& destination, fs::path& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = FileManager::temporaryPathBeside(destination);
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Commits a finished temporary file: the permissions of the file it replaces
// (0600 for a new one), fsync, rename. Returns an error number.
int commitBeside(int fd, const fs::path& temporary, const fs::path& destination) {
    struct stat st{};
    if (::stat(destination.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd, st.st_mode & 07777);
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    if (::close(fd) != 0) return errno;
    if (::rename(temporary.c_str(), destination.c_str()) != 0) return errno;
    return 0;
}

constexpr const char* kShortRead = "readFile: short read\n";
constexpr const char* kShortWrite = "writeFile: short write\n";

// Repeats a read or write call, given the bytes done so far, until `size`
// bytes have moved. 0, or the error number (EIO, with `shortMessage` on
// stderr, when the call moves nothing).
template <typename Call>
int transferAll(std::size_t size, const char* shortMessage, Call call) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t moved = call(done);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0) return errno;
        if (moved == 0) {
            std::fputs(shortMessage, stderr);
            return EIO;
        }
        done += static_cast<std::size_t>(moved);
    }
    return 0;
}

}  // namespace

// --- System ---------------------------------------------------------------------------------

int CompareSystemVersion(int major, int minor, int patch) {
    const plat::SystemVersion running = plat::SystemVersion::current();
    if (running.major != major) return running.major - major;
    if (running.minor != minor) return running.minor - minor;
    return running.patch - patch;
}

int FinderCompare(std::string_view string, std::string_view other) {
    const int result = plat::Collation::compare(string, other);
    return (result > 0) - (result < 0);
}

bool PostUserNotification(std::string_view title, std::string_view informativeText) {
    if (CompareSystemVersion(10, 8, 0) < 0) return false;
    return plat::Notifications::post(title, informativeText);
}

// --- Temporary and unique names -------------------------------------------------------------

fs::path GetTemporaryURL() {
    const fs::path folder = FileManager::temporaryDirectory();
    if (folder.empty()) return {};
    return folder / plat::Uuid::newString();
}

fs::path GetTemporaryURLForItem(const fs::path& url) {
    if (url.empty()) return {};
    const fs::path folder = FileManager::temporaryDirectory();
    fs::path itemFolder = url.parent_path();
    if (itemFolder.empty()) itemFolder = ".";
    struct stat temporaryStat{}, itemStat{};
    if (!folder.empty() && ::stat(folder.c_str(), &temporaryStat) == 0 &&
        ::stat(itemFolder.c_str(), &itemStat) == 0 && temporaryStat.st_dev == itemStat.st_dev) {
        return folder / plat::Uuid::newString();
    }
    // Another filesystem: stay beside the item so that the final move is a rename.
    if (FileManager::isDirectory(itemFolder)) {
        return itemFolder / ("." + plat::Uuid::newString() + ".vantrell-tmp");
    }
    return folder.empty() ? fs::path() : folder / plat::Uuid::newString();
}

fs::path GetTemporaryURLInDirectory(const fs::path& folder, std::string_view prefix, std::string_view extension) {
    const fs::path base = folder.empty() ? FileManager::temporaryDirectory() : folder;
    if (base.empty()) return {};
    std::string name(prefix);
    name += plat::Uuid::newString();
    if (!extension.empty()) {
        name += '.';
        name += extension;
    }
    return base / name;
}

fs::path GetTemporaryURLWithPrefix(std::string_view prefix) {
    const fs::path folder = FileManager::temporaryDirectory();
    if (folder.empty()) return {};
    return folder / (std::string(prefix) + "-" + plat::Uuid::newString());
}

namespace {

// Removes what stands at a candidate name for the overwrite mode. Folders are
// never removed: a clash with a folder just moves on to the next name.
bool removeForOverwrite(const fs::path& candidate) {
    struct stat st{};
    if (::lstat(candidate.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) return false;
    return ::unlink(candidate.c_str()) == 0;
}

}  // namespace

namespace {

// folder/"name.extension", or "name N.extension" for N > 0.
fs::path NumberedFileURL(const fs::path& folder, std::string_view name, std::string_view extension, long n) {
    std::string file(name);
    if (n > 0) file += " " + std::to_string(n);
    if (!extension.empty()) file += "." + std::string(extension);
    return folder / file;
}

}  // namespace

fs::path GetUniqueFileURL(const fs::path& folder, std::string_view name, std::string_view extension,
                          bool overwrite) {
    fs::path candidate = NumberedFileURL(folder, name, extension, 0);
    if (!itemExists(candidate)) return candidate;
    for (long n = 1;; ++n) {
        if (overwrite && removeForOverwrite(candidate)) return candidate;
        candidate = NumberedFileURL(folder, name, extension, n);
        if (!itemExists(candidate)) return candidate;
    }
}

fs::path GetNextUniqueFileURL(const fs::path& folder, std::string_view name, std::string_view extension,
                              long& next) {
    for (next = std::max(next, 0L);; ++next) {
        fs::path candidate = NumberedFileURL(folder, name, extension, next);
        if (!itemExists(candidate)) {
            ++next;
            return candidate;
        }
    }
}

fs::path GetUniqueFileURLForFile(const fs::path& folder, const fs::path& file, std::string_view extension,
                                 bool overwrite) {
    return GetUniqueFileURL(folder, file.stem().string(), extension, overwrite);
}

fs::path GetUniqueFolderURL(const fs::path& parent, std::string_view name, bool create) {
    const std::string base(name);
    fs::path candidate = parent / base;
    for (long n = 1; FileManager::isDirectory(candidate); ++n) {
        candidate = parent / (base + " " + std::to_string(n));
    }
    if (create && !FileManager::createDirectories(candidate)) return {};
    return candidate;
}

fs::path GetUniqueFolderURLForFile(const fs::path& parent, const fs::path& file, bool create) {
    return GetUniqueFolderURL(parent, file.stem().string(), create);
}

// --- POSIX file functions --------------------------------------------------------------------

int writeFile(const fs::path& path, const void* buffer, std::size_t length) {
    if (path.empty() || (length > 0 && !buffer)) return EINVAL;
    fs::path temporary;
    plat::FileDescriptor fd(createTemporaryBeside(path, temporary));
    if (fd.get() < 0) return errno;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const int written = transferAll(length, kShortWrite, [&](std::size_t done) {
        return ::write(fd.get(), bytes + done, length - done);
    });
    if (written != 0) {
        ::unlink(temporary.c_str());
        return written;
    }
    if (int error = commitBeside(fd.release(), temporary, path)) {
        ::unlink(temporary.c_str());
        return error;
    }
    return 0;
}

int readFile(const fs::path& path, std::vector<std::uint8_t>& buffer) {
    // O_NONBLOCK: opening a FIFO must not hang; regular files ignore it.
    plat::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return errno;
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    std::vector<std::uint8_t> data;
    try {
        data.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::exception&) {
        return ENOMEM;
    }
    if (int error = transferAll(data.size(), kShortRead, [&](std::size_t done) {
            return ::read(fd.get(), data.data() + done, data.size() - done);
        })) {
        return error;
    }
    buffer = std::move(data);
    return 0;
}

int copyFile(const fs::path& source, const fs::path& destination) {
    constexpr std::size_t kChunk = 20000000;
    plat::FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.get() < 0) return errno;
    struct stat st{};
    if (::fstat(in.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    fs::path temporary;
    plat::FileDescriptor out(createTemporaryBeside(destination, temporary));
    if (out.get() < 0) return errno;
    auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        return error;
    };
    const auto total = static_cast<std::uint64_t>(st.st_size);
    std::vector<std::uint8_t> chunk;
    try {
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(total, kChunk)));
    } catch (const std::exception&) {
        return fail(ENOMEM);
    }
    for (std::uint64_t offset = 0; offset < total;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(total - offset, kChunk));
        if (int error = transferAll(want, kShortRead, [&](std::size_t got) {
                return ::pread(in.get(), chunk.data() + got, want - got, static_cast<off_t>(offset + got));
            })) {
            return fail(error);
        }
        if (int error = transferAll(want, kShortWrite, [&](std::size_t put) {
                return ::pwrite(out.get(), chunk.data() + put, want - put, static_cast<off_t>(offset + put));
            })) {
            return fail(error);
        }
        offset += want;
    }
    if (int error = commitBeside(out.release(), temporary, destination)) return fail(error);
    return 0;
}

bool isEqualToURL(const fs::path& url, const fs::path& other) {
    if (url.empty() || other.empty()) return false;
    if (url == other) return true;
    auto normal = [](const fs::path& p) {
        fs::path n = p.lexically_normal();
        if (!n.has_filename() && n.has_relative_path()) n = n.parent_path();
        return n;
    };
    return normal(url) == normal(other);
}

bool MoveItemReplacing(const fs::path& source, const fs::path& destination) {
    if (source.empty() || destination.empty() || isEqualToURL(source, destination)) return true;
    if (FileManager::moveItemReplacing(source, destination)) return true;
    if (copyFile(source, destination) != 0) {
        if (!itemExists(source)) return false;
        // Last resort: a copy beside the destination, put in place only once complete.
        const fs::path temporary = FileManager::temporaryPathBeside(destination);
        if (!FileManager::copyItem(source, temporary)) return false;
        if (!FileManager::moveItemReplacing(temporary, destination)) {
            FileManager::removeItem(temporary);
            return false;
        }
    }
    FileManager::removeItem(source);
    return true;
}

// --- Strings -----------------------------------------------------------------------------------

std::string GetFileBaseNameString(const fs::path& url, bool* success) {
    if (success) *success = !url.empty();
    if (url.empty()) return {};
    fs::path p = url;
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return p.stem().string();
}

std::string GetFilePathString(const fs::path& url, bool* success) {
    if (success) *success = !url.empty();
    return url.string();
}

std::string GetStdString(const char* string) { return string ? std::string(string) : std::string(); }

char* CopyCString(std::string_view string) {
    if (string.empty()) return nullptr;
    char* copy = static_cast<char*>(std::malloc(string.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, string.data(), string.size());
    copy[string.size()] = '\0';
    return copy;
}

char* CopyFilePathCString(const fs::path& url) { return CopyCString(url.native()); }

// --- Sizes and folders ----------------------------------------------------------------------------

int GetFileSizeByHandle(const fs::path& url, std::uint64_t* size) {
    plat::FileDescriptor fd(::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return errno;
    const off_t end = ::lseek(fd.get(), 0, SEEK_END);
    if (end < 0) return errno;
    if (size) *size = static_cast<std::uint64_t>(end);
    return 0;
}

fs::path GetApplicationSupportSubfolder(std::string_view name) {
    const fs::path support = FileManager::applicationSupportDirectory();
    if (support.empty()) {
        std::fprintf(stderr, "Alert - Can't find application support folder\n");
        std::exit(EXIT_FAILURE);
    }
    const fs::path folder = support / (name.empty() ? std::string("KSMApplication") : std::string(name));
    if (!FileManager::isDirectory(folder)) FileManager::createDirectories(folder);
    return folder;
}

std::string FormatByteSize1024(double number) {
    float value = static_cast<float>(number);
    if (value < 1024.0f) return formatted("%.0f B", value);
    value *= 0.0009765625f;
    if (value < 1024.0f) return formatted("%.1f KB", value);
    value *= 0.0009765625f;
    if (value < 1024.0f) return formatted("%.2f MB", value);
    value *= 0.0009765625f;
    if (value < 1024.0f) return formatted("%.3f GB", value);
    value *= 0.0009765625f;
    return formatted("%.4f TB", value);
}

std::string FormatByteSize1000(double number) {
    float value = static_cast<float>(number);
    if (value < 1000.0f) return formatted("%.0f B", value);
    value /= 1000.0f;
    if (value < 1000.0f) return formatted("%.1f KB", value);
    value /= 1000.0f;
    if (value < 1000.0f) return formatted("%.2f MB", value);
    value /= 1000.0f;
    if (value < 1000.0f) return formatted("%.3f GB", value);
    value /= 1000.0f;
    return formatted("%.4f TB", value);
}

std::uint64_t GetFolderSize(const fs::path& folder) {
    std::uint64_t total = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] == '.') {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            ec.clear();
            continue;
        }
        std::error_code sizeError;
        if (it->is_regular_file(sizeError) && !it->is_symlink(sizeError)) {
            const auto size = it->file_size(sizeError);
            if (!sizeError) total += size;
        }
    }
    return total;
}

// --- Daily marker -----------------------------------------------------------------------------------

bool IsDailyMarkerStale() { return IsDailyMarkerStale(std::chrono::system_clock::now()); }

bool IsDailyMarkerStale(plat::FileTime now) {
    const fs::path marker = markerPath();
    if (marker.empty() || !itemExists(marker)) return true;
    const auto attributes = FileManager::attributesOfItem(marker);
    std::optional<plat::FileTime> made;
    if (attributes) made = attributes->creationDate ? attributes->creationDate : attributes->modificationDate;
    if (made && localDayNumber(*made) >= localDayNumber(now)) return false;
    FileManager::removeItem(marker);
    return true;
}

bool ResetDailyMarker() {
    const fs::path marker = markerPath();
    if (marker.empty()) return false;
    if (itemExists(marker)) FileManager::removeItem(marker);
    // A new inode, so that filesystems that record it give a new creation date.
    return FileManager::createFile(marker, std::string_view());
}

// --- PDF ---------------------------------------------------------------------------------------------

std::optional<std::vector<std::uint8_t>> CreateNormalizedPDFData(std::span<const std::uint8_t> pdf,
                                                                 const std::string& password) {
    std::vector<std::uint8_t> normalized = plat::PdfDocument::CreateNormalizedData(pdf, password);
    if (normalized.empty()) return std::nullopt;
    return normalized;
}
