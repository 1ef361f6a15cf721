#include "app/model/DragOutStaging.h"

#include "common/KSMUtil.h"
#include "platform/FileManager.h"
#include "platform/Uuid.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// "<pid>-<uuid>": the process id of a staging folder's name, 0 when the name
// is not one of ours.
pid_t ProcessOfFolder(const std::string& name) {
    const std::size_t dash = name.find('-');
    if (dash == std::string::npos || dash == 0) return 0;
    pid_t value = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + dash, value);
    if (error != std::errc() || end != name.data() + dash || value <= 0) return 0;
    return value;
}

bool ProcessIsRunning(pid_t process) { return ::kill(process, 0) == 0 || errno == EPERM; }

// The root is a folder of this user's own, never a link to one: what is
// swept is what this application made.
bool IsOwnFolder(const fs::path& folder) {
    struct stat st{};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

}  // namespace

fs::path DragOutStagingRoot() {
    const fs::path temporary = plat::FileManager::temporaryDirectory();
    return temporary.empty() ? fs::path() : temporary / "VantrellDragOut";
}

fs::path MakeDragOutStagingFolder(const fs::path& root) {
    if (root.empty()) return {};
    // The root is private to the user, like the temporary folder it is in.
    if (::mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) return {};
    if (!IsOwnFolder(root)) return {};
    const fs::path folder = root / (std::to_string(::getpid()) + "-" + plat::Uuid::newString());
    if (::mkdir(folder.c_str(), 0700) != 0) return {};
    return folder;
}

void RemoveStaleDragOutFolders(const fs::path& root) {
    if (!IsOwnFolder(root)) return;
    std::error_code error;
    fs::directory_iterator entries(root, error);
    if (error) return;
    std::vector<fs::path> stale;
    for (const fs::directory_entry& entry : entries) {
        const pid_t process = ProcessOfFolder(entry.path().filename().string());
        if (process != 0 && process != ::getpid() && !ProcessIsRunning(process)) stale.push_back(entry.path());
    }
    // remove_all unlinks a link without entering what it names.
    for (const fs::path& folder : stale) fs::remove_all(folder, error);
}

std::vector<fs::path> DragOutEntries(const fs::path& staging, const std::vector<fs::path>& outputs) {
    std::vector<fs::path> entries;
    for (const fs::path& output : outputs) {
        const fs::path relative = output.lexically_relative(staging);
        if (relative.empty() || *relative.begin() == ".." || *relative.begin() == ".") continue;
        const fs::path entry = staging / *relative.begin();
        if (std::find(entries.begin(), entries.end(), entry) == entries.end()) entries.push_back(entry);
    }
    return entries;
}

std::vector<fs::path> SaveDragOutEntries(const std::vector<fs::path>& entries, const fs::path& folder) {
    std::vector<fs::path> notSaved;
    for (const fs::path& entry : entries) {
        bool saved = false;
        // Another writer may take a free name first: a few tries.
        for (int attempt = 0; attempt < 8 && !saved; ++attempt) {
            std::error_code error;
            if (plat::FileManager::isDirectory(entry)) {
                const fs::path target = GetUniqueFolderURL(folder, entry.filename().string(), false);
                saved = plat::FileManager::copyItem(entry, target, &error);
            } else {
                std::string extension = entry.extension().string();
                if (!extension.empty()) extension.erase(0, 1);
                const fs::path target = GetUniqueFileURL(folder, entry.stem().string(), extension, false);
                saved = plat::FileManager::moveItemIfAbsent(entry, target, &error) || plat::FileManager::copyItem(entry, target, &error);
            }
            if (!saved && !plat::FileManager::fileExists(entry)) break;
        }
        if (!saved) notSaved.push_back(entry);
    }
    return notSaved;
}
