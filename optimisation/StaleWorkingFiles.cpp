#include "optimisation/StaleWorkingFiles.h"

#include "platform/FileDescriptor.h"
#include "platform/FileManager.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <limits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace optimisation {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kOwnerPrefix = "vantrell-owner.";
constexpr std::string_view kFolderRecord = "vantrell-folders";
// The record is read back as untrusted input: never more than this.
constexpr std::size_t kRecordMaxBytes = 256 * 1024;
constexpr std::size_t kRecordMaxEntries = 256;

struct ChangeTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    friend auto operator<=>(const ChangeTime&, const ChangeTime&) = default;
};

std::optional<ChangeTime> ChangeTimeOf(const fs::path& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return ChangeTime{st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

struct Owner {
    int fd = -1;  // our locked owner file, closed only when the process ends normally
    pid_t pid = 0;  // a forked child inherits the entry but is not that owner
};

struct Registry {
    std::mutex mutex;
    std::map<fs::path, Owner> owners;  // by private folder
    std::set<fs::path> workedBeside;   // folders recorded by this process
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // outlives every static destructor
    return *registry;
}

fs::path OwnerPath(const fs::path& folder, pid_t pid) {
    return folder / (std::string(kOwnerPrefix) + std::to_string(pid));
}

bool IsDigits(std::string_view text, std::size_t maximum) {
    return !text.empty() && text.size() <= maximum &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// A process id as OwnerPath writes it: decimal, no leading zero; 0 otherwise.
pid_t ParsePid(std::string_view text) {
    if (!IsDigits(text, 10) || text[0] == '0') return 0;
    const unsigned long long value = std::stoull(std::string(text));
    return value > static_cast<unsigned long long>(std::numeric_limits<pid_t>::max()) ? 0 : static_cast<pid_t>(value);
}

// The owner whose file this is, when the name is exactly "vantrell-owner.<pid>"; else 0.
pid_t OwnerOfName(std::string_view name) {
    return name.starts_with(kOwnerPrefix) ? ParsePid(name.substr(kOwnerPrefix.size())) : 0;
}

// Locks our owner file in `folder`, made or refreshed now, so that its change
// time is our start as an owner. -1 when it cannot be made.
int LockOwnerFile(const fs::path& folder) {
    const fs::path path = OwnerPath(folder, ::getpid());
    plat::FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return -1;
    ::futimens(fd.get(), nullptr);
    return fd.release();
}

struct LiveOwners {
    std::optional<ChangeTime> earliestStart;
    std::set<pid_t> pids;
};

// The owners that are alive and the earliest start among them; owner files
// of owners that are gone are removed on the way. Only names of exactly the
// owner-file form count: anything else in the folder is not ours to judge.
LiveOwners FindLiveOwners(const fs::path& folder) {
    LiveOwners live;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const pid_t pid = OwnerOfName(entry.path().filename().string());
        if (pid == 0) continue;
        plat::FileDescriptor fd(::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat st{};
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            // Nobody holds it: its process is gone (our own is held on
            // another descriptor, so it never gets here).
            ::unlink(entry.path().c_str());
            continue;
        }
        const ChangeTime start{st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
        if (!live.earliestStart || start < *live.earliestStart) live.earliestStart = start;
        live.pids.insert(pid);
    }
    return live;
}

// Removes the regular files in `folder` whose names pass `matches` and that
// were last changed before every living owner in `privateFolder` started.
// True when no such name is left there at all (nor is it unknown).
template <class Matches>
bool RemoveStale(const fs::path& folder, const fs::path& privateFolder, Matches matches) {
    const auto earliest = FindLiveOwners(privateFolder).earliestStart;
    if (!earliest) return false;  // not even we are registered: nothing is known to be stale
    bool clean = true;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (!matches(entry.path().filename().string())) continue;
        std::error_code ignored;
        const auto changed = ChangeTimeOf(entry.path());
        if (entry.is_regular_file(ignored) && !entry.is_symlink(ignored) && changed && *changed < *earliest &&
            ::unlink(entry.path().c_str()) == 0) {
            continue;
        }
        clean = false;
    }
    return clean && !error;
}

bool IsLowerHex(std::string_view text) {
    return !text.empty() && text.size() <= 16 &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) ||
                                                                      (c >= 'a' && c <= 'f'); });
}

// "Vantrell.<class>.<hex>.<hex>.temp", as CommandAgent::tempPath makes them.
bool IsWorkingName(std::string_view name) {
    constexpr std::string_view kPrefix = "Vantrell.";
    constexpr std::string_view kSuffix = ".temp";
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return false;
    std::string_view rest = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    const auto first = rest.find('.');
    const auto second = first == std::string_view::npos ? first : rest.find('.', first + 1);
    if (second == std::string_view::npos) return false;
    const std::string_view className = rest.substr(0, first);
    return !className.empty() && className.size() <= 64 &&
           std::all_of(className.begin(), className.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }) &&
           IsLowerHex(rest.substr(first + 1, second - first - 1)) && IsLowerHex(rest.substr(second + 1));
}

// Replacement files of an earlier naming:
// ".<10 lower-case letters or digits>.vantrell-tmp-<name>".
bool IsReplacementFile(const std::string& name) {
    constexpr std::size_t kToken = 10;
    constexpr std::string_view kMarker = ".vantrell-tmp-";
    if (name.size() <= 1 + kToken + kMarker.size() || name[0] != '.') return false;
    for (std::size_t i = 1; i <= kToken; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (!std::islower(c) && !std::isdigit(c)) return false;
    }
    return std::string_view(name).substr(1 + kToken, kMarker.size()) == kMarker;
}

// --- The record of folders worked in ------------------------------------------

std::string EscapeLine(const std::string& path) {
    std::string line;
    line.reserve(path.size() + 1);
    for (char c : path) {
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else {
            line += c;
        }
    }
    line += '\n';
    return line;
}

// An absolute, normal path without NUL, or nothing.
std::optional<fs::path> UnescapeLine(std::string_view line) {
    std::string path;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\0') return std::nullopt;
        if (c == '\\') {
            if (++i == line.size()) return std::nullopt;
            if (line[i] == 'n') {
                c = '\n';
            } else if (line[i] == '\\') {
                c = '\\';
            } else {
                return std::nullopt;
            }
        }
        path += c;
    }
    if (path.empty() || path.size() > PATH_MAX || path.front() != '/') return std::nullopt;
    fs::path result(path);
    if (result.lexically_normal() != result || result.filename().empty()) return std::nullopt;
    return result;
}

// One line of the record: the owner that recorded the folder, so that no
// other run drops the folder while that owner lives, and the folder.
struct RecordEntry {
    pid_t recorder = 0;  // 0: not known (a line of an earlier record without one)
    fs::path folder;
    friend bool operator==(const RecordEntry&, const RecordEntry&) = default;
};

// "<pid> <escaped path>", or an escaped path alone; nothing for anything else.
std::optional<RecordEntry> ParseRecordLine(std::string_view line) {
    RecordEntry entry;
    if (!line.starts_with('/')) {
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos || (entry.recorder = ParsePid(line.substr(0, space))) == 0) {
            return std::nullopt;
        }
        line.remove_prefix(space + 1);
    }
    auto folder = UnescapeLine(line);
    if (!folder) return std::nullopt;
    entry.folder = std::move(*folder);
    return entry;
}

// The record's entries: at most kRecordMaxEntries, read from at most
// kRecordMaxBytes; lines that are not a complete entry are ignored.
std::vector<RecordEntry> ReadRecord(const fs::path& privateFolder) {
    std::vector<RecordEntry> entries;
    plat::FileDescriptor fd(
        ::open((privateFolder / kFolderRecord).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st{};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return entries;
    std::string text(kRecordMaxBytes, '\0');
    std::size_t size = 0;
    while (size < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + size, text.size() - size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size += static_cast<std::size_t>(n);
    }
    // A line cut off by the bound has no line end and is not taken.
    std::size_t start = 0;
    for (std::size_t end; entries.size() < kRecordMaxEntries && (end = text.find('\n', start)) < size;
         start = end + 1) {
        auto entry = ParseRecordLine(std::string_view(text).substr(start, end - start));
        if (entry && std::find(entries.begin(), entries.end(), *entry) == entries.end()) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

void WriteRecord(const fs::path& privateFolder, const std::vector<RecordEntry>& entries) {
    const fs::path path = privateFolder / kFolderRecord;
    if (entries.empty()) {
        ::unlink(path.c_str());
        return;
    }
    std::string text;
    // An entry whose recorder is not known goes back as it came, a path
    // alone: the reader takes no owner 0.
    for (const auto& entry : entries) {
        if (entry.recorder != 0) text += std::to_string(entry.recorder) + " ";
        text += EscapeLine(entry.folder.string());
    }
    plat::FileManager::createFile(path, std::string_view(text));
}

// Holds the private folder's lock while the record is read and rewritten,
// so that processes do not lose each other's entries.
class RecordLock {
public:
    explicit RecordLock(const fs::path& privateFolder)
        : fd_(::open(privateFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW)) {
        if (fd_.valid()) {
            while (::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }

private:
    plat::FileDescriptor fd_;  // the lock goes with the descriptor
};

// Sweeps the recorded folders. An entry stays while the owner that recorded
// it lives (it may write there again at any moment, and its leftovers must
// be found should it be killed); of the others, one per folder stays until
// the folder is gone or holds nothing of ours any more.
void SweepRecordedFolders(const fs::path& privateFolder) {
    RecordLock lock(privateFolder);
    const std::vector<RecordEntry> entries = ReadRecord(privateFolder);
    const std::set<pid_t> live = FindLiveOwners(privateFolder).pids;
    std::map<fs::path, bool> needed;  // by folder: whether a further entry must keep it
    for (const auto& entry : entries) {
        if (needed.contains(entry.folder)) continue;
        struct stat st{};
        bool clean = false;
        if (::lstat(entry.folder.c_str(), &st) != 0) {
            clean = errno == ENOENT || errno == ENOTDIR;
        } else if (!S_ISDIR(st.st_mode)) {
            clean = true;
        } else {
            const bool ours = RemoveStale(entry.folder, privateFolder, IsReplacementFile);
            clean = plat::FileManager::removeStaleTemporariesIn(entry.folder) && ours;
        }
        needed[entry.folder] = !clean;
    }
    for (const auto& entry : entries) {
        if (entry.recorder != 0 && live.contains(entry.recorder)) needed[entry.folder] = false;
    }
    std::vector<RecordEntry> kept;
    for (const auto& entry : entries) {
        if (entry.recorder != 0 && live.contains(entry.recorder)) {
            kept.push_back(entry);
        } else if (needed[entry.folder]) {
            kept.push_back(entry);
            needed[entry.folder] = false;
        }
    }
    if (kept != entries) WriteRecord(privateFolder, kept);
}

void AddToRecord(const fs::path& privateFolder, const RecordEntry& added) {
    RecordLock lock(privateFolder);
    std::vector<RecordEntry> entries = ReadRecord(privateFolder);
    if (std::find(entries.begin(), entries.end(), added) != entries.end()) return;
    // Full: the oldest entry of an owner that is gone gives way, else the oldest.
    if (entries.size() >= kRecordMaxEntries) {
        const std::set<pid_t> live = FindLiveOwners(privateFolder).pids;
        auto oldest = std::find_if(entries.begin(), entries.end(),
                                   [&](const RecordEntry& entry) { return !live.contains(entry.recorder); });
        entries.erase(oldest == entries.end() ? entries.begin() : oldest);
    }
    entries.push_back(added);
    WriteRecord(privateFolder, entries);
}

// At the normal end of the process its owner files go. Only system calls
// here: the exit handlers run after the destructors of statics made later,
// which the file helpers use; the record's clean entries are dropped by the
// next run.
void EndRun() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    for (auto it = registry.owners.begin(); it != registry.owners.end();) {
        if (it->second.pid != ::getpid()) {
            ++it;
            continue;
        }
        // Removed while still locked: nobody can take it for a gone owner's
        // and remove another's file of the same name.
        ::unlink(OwnerPath(it->first, it->second.pid).c_str());
        ::close(it->second.fd);
        it = registry.owners.erase(it);
    }
}

}  // namespace

bool IsPrivateWorkingFile(std::string_view name) {
    if (IsWorkingName(name)) return true;
    // advpng rewrites the working file through "<working name>.tmp<number>".
    if (const auto at = name.rfind(".tmp"); at != std::string_view::npos && IsDigits(name.substr(at + 4), 20) &&
                                            IsWorkingName(name.substr(0, at))) {
        return true;
    }
    // jpegoptim rewrites it through "jpegoptim-<uid>-<pid>.<random>.tmp" in
    // the working file's folder.
    constexpr std::string_view kJpegOptim = "jpegoptim-";
    if (!name.starts_with(kJpegOptim) || !name.ends_with(".tmp")) return false;
    std::string_view rest = name.substr(kJpegOptim.size(), name.size() - kJpegOptim.size() - 4);
    const auto dash = rest.find('-');
    const auto dot = rest.find('.');
    if (dash == std::string_view::npos || dot == std::string_view::npos || dot < dash) return false;
    const std::string_view random = rest.substr(dot + 1);
    return IsDigits(rest.substr(0, dash), 10) && IsDigits(rest.substr(dash + 1, dot - dash - 1), 10) &&
           random.size() == 6 &&
           std::all_of(random.begin(), random.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

void ClaimPrivateWorkingFiles() {
    const fs::path folder = plat::FileManager::temporaryDirectory();
    if (folder.empty()) return;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (registry.owners.contains(folder)) return;
    const int fd = LockOwnerFile(folder);
    if (fd < 0) return;
    static const bool endRegistered = std::atexit(EndRun) == 0;
    (void)endRegistered;
    registry.owners.emplace(folder, Owner{fd, ::getpid()});
    RemoveStale(folder, folder, [](const std::string& name) { return IsPrivateWorkingFile(name); });
    // Half-written copies and records of a run killed while writing them.
    plat::FileManager::removeStaleTemporariesIn(folder);
    SweepRecordedFolders(folder);
}

void StartWorkingBeside(const fs::path& folder) {
    ClaimPrivateWorkingFiles();
    const fs::path privateFolder = plat::FileManager::temporaryDirectory();
    if (privateFolder.empty() || folder.empty()) return;
    // Recorded as the real folder: a later run does not follow links there.
    std::error_code error;
    const fs::path absolute = fs::canonical(folder, error);
    if (error) return;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (!registry.workedBeside.insert(absolute).second) return;
    // Recorded before anything is written there, under the owner whose lock
    // covers our files (a forked child works under its parent's): should
    // this process be killed from now on, a later one knows where to look.
    const auto owner = registry.owners.find(privateFolder);
    AddToRecord(privateFolder, RecordEntry{owner == registry.owners.end() ? 0 : owner->second.pid, absolute});
    RemoveStale(absolute, privateFolder, IsReplacementFile);
}

}  // namespace optimisation
