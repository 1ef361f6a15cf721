// How a File's file is replaced by an optimised result: the rules every agent
// and the queue path's save share.

#include "optimisation/File.h"
#include "optimisation/FileCondition.h"
#include "optimisation/StaleWorkingFiles.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FileDescriptor.h"
#include "platform/FileManager.h"
#include "platform/UserDefaults.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <iterator>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace optimisation {

namespace fs = std::filesystem;

namespace {

bool WriteAllAt(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Overwrites the file behind `fd` with `data` and cuts it to that length.
bool OverwriteInPlace(int fd, const std::vector<std::uint8_t>& data) {
    return WriteAllAt(fd, data.data(), data.size()) && ::ftruncate(fd, static_cast<off_t>(data.size())) == 0 &&
           ::fsync(fd) == 0;
}

// Gives the file open as `to` the group of the file open as `from`, with
// `owner` its owner as well, and its extended attributes. With `lenient` a
// change of owner or group the system does not permit is passed over; the
// group alone is still given where the owner may not be (a member of the
// file's group may set it, only the superuser may give a file away).
bool CarryOwnership(int from, int to, bool owner, bool lenient) {
    struct stat original{};
    struct stat copy{};
    if (::fstat(from, &original) != 0 || ::fstat(to, &copy) != 0) return false;
    const bool ownerDiffers = owner && copy.st_uid != original.st_uid;
    if (ownerDiffers && ::fchown(to, original.st_uid, original.st_gid) == 0) {
        return plat::CopyExtendedAttributes(from, to);
    }
    if (ownerDiffers && errno != EPERM) return false;
    if (copy.st_gid != original.st_gid && ::fchown(to, static_cast<uid_t>(-1), original.st_gid) != 0 &&
        !(lenient && errno == EPERM)) {
        return false;
    }
    if (ownerDiffers && !lenient) return false;
    return plat::CopyExtendedAttributes(from, to);
}

// A complete copy of `source` at `temporary`, which the atomic writer has
// reserved, given the ownership of `like` by CarryOwnership.
bool CopyCarrying(const std::string& source, const std::string& like, const fs::path& temporary, std::uint64_t size,
                  bool owner, bool lenient) {
    std::error_code error;
    if (!fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, error) || error ||
        File::fileByteSize(temporary.string()) != size) {
        return false;
    }
    plat::FileDescriptor from(::open(like.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    plat::FileDescriptor to(::open(temporary.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    return from.valid() && to.valid() && CarryOwnership(from.get(), to.get(), owner, lenient);
}

// Keeps the first original as "<target>~": a hard link when the original is
// about to leave its path by a rename anyway, a copy when it is overwritten.
// The copy is the original's in owner (where the system permits), group,
// mode, dates and extended attributes.
bool BackUp(const std::string& target, bool inPlace, std::uint64_t size) {
    const std::string backup = target + "~";
    std::error_code ignored;
    if (plat::FileManager::fileExists(backup)) fs::remove_all(backup, ignored);
    if (!inPlace && ::link(target.c_str(), backup.c_str()) == 0) return true;
    const auto attributes = plat::FileManager::attributesOfItem(target);
    if (!attributes) return false;
    return plat::FileManager::writeAtomically(
        backup, [&](const fs::path& temporary) { return CopyCarrying(target, target, temporary, size, true, true); },
        attributes);
}

// One of a fixed set of locks, chosen by the path of the file replaced.
std::mutex& TargetMutex(const std::string& target) {
    static std::mutex mutexes[64];
    return mutexes[std::hash<std::string>{}(target) % std::size(mutexes)];
}

}  // namespace

File::Replacement File::replaceFileWith(const std::string& resultPath, std::uint64_t minimumSize,
                                        std::uint64_t expectedSize, std::string_view toolName) {
    const std::string original = filePath();
    if (original.empty() || resultPath.empty()) return Replacement::NotTaken;
    std::lock_guard replacing(replacementMutex_);

    // A symbolic link stays a link: its target is what gets optimised.
    const std::string target = ResolvedTarget(original);
    // Jobs of one file queued more than once replace it one at a time, and
    // the one that replaced it has recorded so by the time another looks.
    std::lock_guard sameTarget(TargetMutex(target));
    struct stat st{};
    if (target.empty() || ::stat(target.c_str(), &st) != 0) return Replacement::Failed;
    if (!S_ISREG(st.st_mode) || !IsWritableByUser(target, st.st_mode)) return Replacement::Failed;

    // Every check comes before the file is touched: the result must be the
    // one recorded, of the file's type, and smaller than what is there now
    // (another agent may have replaced it meanwhile). An output of equal size
    // gains nothing and is not worth the write.
    const std::uint64_t resultSize = fileByteSize(resultPath);
    const auto originalSize = static_cast<std::uint64_t>(st.st_size);
    if (resultSize == 0 || resultSize < minimumSize || (expectedSize != 0 && resultSize != expectedSize) ||
        originalSize == 0 || resultSize >= originalSize) {
        return Replacement::NotTaken;
    }
    if (fileTypeAtPath(resultPath) != fileTypeAtPath(target)) return Replacement::NotTaken;

    auto& defaults = plat::UserDefaults::standardUserDefaults();
    const bool preservePermissions = defaults.boolForKey(plat::defaults::kPreservePermissions);
    const bool backupFiles = defaults.boolForKey(plat::defaults::kBackupFiles);
    // A rename would give the path a new inode: the other links would keep
    // the old bytes, and someone else's file would become ours.
    const bool inPlace = preservePermissions || st.st_nlink > 1 || st.st_uid != ::geteuid();

    StartWorkingBeside(fs::path(target).parent_path());
    {
        std::lock_guard lock(mutex_);
        if (backupFiles && !backedUp_) {
            if (!BackUp(target, inPlace, originalSize)) return Replacement::Failed;
            backedUp_ = true;
        }
    }
    const bool replaced = inPlace ? replaceInPlace(target, resultPath, resultSize)
                                  : replaceByRename(target, resultPath, resultSize);
    if (!replaced) return Replacement::Failed;
    rememberOutcome(target, toolName);
    return Replacement::Replaced;
}

bool File::replaceInPlace(const std::string& target, const std::string& resultPath, std::uint64_t size) {
    // The file keeps its identity, links, owner, permissions and extended
    // attributes; its old bytes are held to put back should a write fail.
    auto data = plat::FileManager::contentsOfFile(resultPath);
    if (!data || data->size() != size) return false;
    plat::FileDescriptor fd(::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    struct stat st{};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    auto previous = plat::FileManager::contentsOfFile(target);
    if (!previous) return false;
    if (!OverwriteInPlace(fd.get(), *data)) {
        OverwriteInPlace(fd.get(), *previous);
        return false;
    }
    return fd.close() == 0;
}

bool File::replaceByRename(const std::string& target, const std::string& resultPath, std::uint64_t size) {
    // A copy beside the file, renamed over it: the file stays whole should
    // anything fail. The copy takes the file's permissions (on commit), group
    // and extended attributes.
    return plat::FileManager::writeAtomically(target, [&](const fs::path& temporary) {
        return CopyCarrying(resultPath, target, temporary, size, false, false);
    });
}

}  // namespace optimisation
