#pragma once
// File and system utilities shared by the engine, the application and the
// PDF tools. URLs are file paths; an empty path stands for "none". Temporary
// files live in the private temporary folder (plat::FileManager).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileAttributes.h"

// --- System ---------------------------------------------------------------------------

// Running version minus the given one: major first, then minor, then patch.
// Negative when the running system is older.
int CompareSystemVersion(int major, int minor, int patch);

// Name order as a file manager sorts (numeric, case- and width-insensitive,
// locale-independent). -1, 0 or 1; 0 only for identical strings.
int FinderCompare(std::string_view string, std::string_view other);
// The same for callers that name a locale: the order is deliberately the same
// in every locale, so that a list sorts alike for every user.
inline int FinderCompare(std::string_view string, std::string_view other, std::string_view /*locale*/) {
    return FinderCompare(string, other);
}

// The end-of-job notification, when the system version offers it. Returns whether
// the desktop took it (false without a notification service).
bool PostUserNotification(std::string_view title, std::string_view informativeText);

// --- Temporary and unique names ------------------------------------------------------------

// The private temporary folder followed by a new UUID. Empty when the folder
// cannot be had.
std::filesystem::path GetTemporaryURL();
// A fresh temporary path from which the item can be replaced by a rename:
// inside the private temporary folder when that is on the item's filesystem,
// else a hidden name in the item's own folder. Empty when neither works.
std::filesystem::path GetTemporaryURLForItem(const std::filesystem::path& url);
// prefix + UUID (+ "." + extension when given), inside `folder`, or the
// private temporary folder when `folder` is empty.
std::filesystem::path GetTemporaryURLInDirectory(const std::filesystem::path& folder,
                                                 std::string_view prefix = {},
                                                 std::string_view extension = {});
// The private temporary folder / (prefix "-" UUID).
std::filesystem::path GetTemporaryURLWithPrefix(std::string_view prefix);

// folder/name.extension when free; else "name N.extension" (or "name N"
// without an extension) for the first free N = 1, 2, ... With `overwrite`
// an existing file under a candidate name is removed and that name returned;
// candidates that cannot be removed (folders among them) are passed over.
std::filesystem::path GetUniqueFileURL(const std::filesystem::path& folder, std::string_view name,
                                       std::string_view extension, bool overwrite);
// The same without `overwrite`, for a run of files named in one folder: the
// numbers tried start at `next` (0 tries the plain name first), and `next`
// is left just after the number taken, so N files cost N look-ups, not N².
std::filesystem::path GetNextUniqueFileURL(const std::filesystem::path& folder, std::string_view name,
                                           std::string_view extension, long& next);
std::filesystem::path GetUniqueFileURLForFile(const std::filesystem::path& folder,
                                              const std::filesystem::path& file, std::string_view extension,
                                              bool overwrite);
// parent/name, or "name N" for the first N whose folder does not exist yet
// (a file of that name does not count). With `create` the folder is made;
// empty when that fails.
std::filesystem::path GetUniqueFolderURL(const std::filesystem::path& parent, std::string_view name, bool create);
std::filesystem::path GetUniqueFolderURLForFile(const std::filesystem::path& parent,
                                                const std::filesystem::path& file, bool create);

// --- POSIX file functions (error numbers: 0 success, 5 short transfer, 12 memory) ---------------

// Writes the buffer as the whole file, atomically: a failure leaves any
// earlier file untouched. A new file gets mode 0600.
int writeFile(const std::filesystem::path& path, const void* buffer, std::size_t length);
// Reads the whole file into `buffer`.
int readFile(const std::filesystem::path& path, std::vector<std::uint8_t>& buffer);
// Copies in chunks of at most 20,000,000 bytes into a temporary file beside
// the destination, renamed into place when complete. A new file gets 0600.
int copyFile(const std::filesystem::path& source, const std::filesystem::path& destination);

// Moves `source` over `destination` (also across filesystems). True when
// either is empty or both name the same file.
bool MoveItemReplacing(const std::filesystem::path& source, const std::filesystem::path& destination);

// Equal paths, or paths equal once normalised (trailing separators, "." parts).
bool isEqualToURL(const std::filesystem::path& url, const std::filesystem::path& other);

// --- Strings ---------------------------------------------------------------------------------

// The last component without its extension / the whole path, in UTF-8;
// empty with *success = false when the path is empty.
std::string GetFileBaseNameString(const std::filesystem::path& url, bool* success = nullptr);
std::string GetFilePathString(const std::filesystem::path& url, bool* success = nullptr);
std::string GetStdString(const char* string);
// Heap copies for C interfaces, released with free(); null for empty text.
char* CopyFilePathCString(const std::filesystem::path& url);
char* CopyCString(std::string_view string);

// --- Sizes and folders -------------------------------------------------------------------------

// The end offset of the file opened for reading; the error number on failure.
int GetFileSizeByHandle(const std::filesystem::path& url, std::uint64_t* size);
// Application-support folder / name ("KSMApplication" when empty), made when
// missing. Without an application-support folder the process cannot work:
// it logs and ends with a failure status.
std::filesystem::path GetApplicationSupportSubfolder(std::string_view name = {});
// "999 B", "1.5 KB", "1.50 MB", "1.000 GB", "1.0000 TB".
std::string FormatByteSize1024(double number);
std::string FormatByteSize1000(double number);
// Total size of the regular files under the folder, hidden items skipped.
std::uint64_t GetFolderSize(const std::filesystem::path& folder);

// --- Daily marker ---------------------------------------------------------------------------------

// True when the marker is missing, or was made before today (local time), in
// which case it is removed. The marker's creation date is used where the
// filesystem records one, else its modification date.
bool IsDailyMarkerStale();
bool IsDailyMarkerStale(plat::FileTime now);
// Removes the marker and makes it again, empty.
bool ResetDailyMarker();

// --- PDF -----------------------------------------------------------------------------------------

// A copy of the PDF in which every page shows exactly its visible box (the
// crop box, or the media box when the crop box is empty) upright: rotation
// applied to the contents, other boxes and annotations dropped. Empty when
// the PDF cannot be opened (or unlocked with `password`) or has no pages.
std::optional<std::vector<std::uint8_t>> CreateNormalizedPDFData(std::span<const std::uint8_t> pdf,
                                                                 const std::string& password = {});

// --- Small helpers ----------------------------------------------------------------------------------

// Carries an untyped pointer that it neither owns nor frees.
class KSMDataHolder {
public:
    explicit KSMDataHolder(void* data = nullptr) : data_(data) {}
    static std::shared_ptr<KSMDataHolder> dataHolderWithData(void* data) {
        return std::make_shared<KSMDataHolder>(data);
    }
    void* data() const { return data_; }
    void setData(void* data) { data_ = data; }

private:
    void* data_;
};
