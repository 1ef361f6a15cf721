#include "optimisation/StaleWorkingFiles.h"

#include "platform/FileDescriptor.h"
#include "platform/FileManager.h"

#include <cctype>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace optimisation {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kOwnerPrefix = "vantrell-owner.";

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

struct Registry {
    std::mutex mutex;
    std::map<fs::path, int> owners;  // private folder -> our locked owner file (never closed)
    std::set<fs::path> sweptBeside;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // outlives every static destructor
    return *registry;
}

// Locks our owner file in `folder`, made or refreshed now, so that its change
// time is our start as an owner. -1 when it cannot be made.
int LockOwnerFile(const fs::path& folder) {
    const fs::path path = folder / (std::string(kOwnerPrefix) + std::to_string(::getpid()));
    plat::FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return -1;
    ::futimens(fd.get(), nullptr);
    return fd.release();
}

// The earliest start of an owner that is alive; owner files of owners that
// are gone are removed on the way.
std::optional<ChangeTime> EarliestLiveOwner(const fs::path& folder) {
    std::optional<ChangeTime> earliest;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(kOwnerPrefix)) continue;
        plat::FileDescriptor fd(::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (!fd.valid()) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            // Nobody holds it: its process is gone (our own is held on
            // another descriptor, so it never gets here).
            ::unlink(entry.path().c_str());
            continue;
        }
        struct stat st{};
        if (::fstat(fd.get(), &st) != 0) continue;
        const ChangeTime start{st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
        if (!earliest || start < *earliest) earliest = start;
    }
    return earliest;
}

// Removes the regular files in `folder` whose names pass `matches` and that
// were last changed before every living owner in `privateFolder` started.
template <class Matches>
void RemoveStale(const fs::path& folder, const fs::path& privateFolder, Matches matches) {
    const auto earliest = EarliestLiveOwner(privateFolder);
    if (!earliest) return;  // not even we are registered: nothing is known to be stale
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (!matches(entry.path().filename().string())) continue;
        std::error_code ignored;
        if (!entry.is_regular_file(ignored) || entry.is_symlink(ignored)) continue;
        const auto changed = ChangeTimeOf(entry.path());
        if (changed && *changed < *earliest) ::unlink(entry.path().c_str());
    }
}

bool IsToolWorkingFile(const std::string& name) {
    return name.starts_with("Vantrell.") && name.ends_with(".temp");
}

// ".<10 lower-case letters or digits>.vantrell-tmp-<name>", as made by
// plat::FileManager::temporaryPathBeside.
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

}  // namespace

void ClaimPrivateWorkingFiles() {
    const fs::path folder = plat::FileManager::temporaryDirectory();
    if (folder.empty()) return;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (registry.owners.contains(folder)) return;
    const int fd = LockOwnerFile(folder);
    if (fd < 0) return;
    registry.owners.emplace(folder, fd);
    RemoveStale(folder, folder, IsToolWorkingFile);
}

void RemoveStaleFilesBeside(const fs::path& folder) {
    ClaimPrivateWorkingFiles();
    const fs::path privateFolder = plat::FileManager::temporaryDirectory();
    if (privateFolder.empty() || folder.empty()) return;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (!registry.sweptBeside.insert(folder).second) return;
    RemoveStale(folder, privateFolder, IsReplacementFile);
}

}  // namespace optimisation
