#include "platform/FileManager.h"

#include "platform/FileDescriptor.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace fs = std::filesystem;

namespace {

void setError(std::error_code* error, int code) {
    if (error) *error = std::error_code(code, std::generic_category());
}

void setError(std::error_code* error, const std::error_code& code) {
    if (error) *error = code;
}

// Removes a temporary file unless it was committed.
class TemporaryFileGuard {
public:
    explicit TemporaryFileGuard(fs::path path) : path_(std::move(path)) {}
    ~TemporaryFileGuard() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    void release() { path_.clear(); }

private:
    fs::path path_;
};

std::string randomToken() {
    static thread_local std::mt19937_64 generator{std::random_device{}() ^
                                                  (std::uint64_t(::getpid()) << 32)};
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string token(10, 'x');
    for (char& c : token) c = alphabet[generator() % (sizeof(alphabet) - 1)];
    return token;
}

mode_t processUmask() {
    // umask() can only be read by changing it, which races with other threads;
    // the kernel reports it in /proc instead.
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Umask:", 0) == 0) {
                return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
            }
        }
        return static_cast<mode_t>(022);
    }();
    return mask;
}

timespec toTimespec(FileTime time) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
    timespec result{};
    result.tv_sec = static_cast<time_t>(ns / 1000000000);
    long rest = static_cast<long>(ns % 1000000000);
    if (rest < 0) {
        rest += 1000000000;
        result.tv_sec -= 1;
    }
    result.tv_nsec = rest;
    return result;
}

FileTime fromTimespec(std::int64_t seconds, std::int64_t nanoseconds) {
    return FileTime(std::chrono::duration_cast<FileTime::duration>(
        std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds)));
}

int applyAttributes(int fd, const std::optional<FileAttributes>& attributes) {
    if (!attributes) return 0;
    if (attributes->posixPermissions && ::fchmod(fd, *attributes->posixPermissions & 07777) != 0) {
        return errno;
    }
    if (attributes->modificationDate || attributes->accessDate) {
        timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = times[0];
        if (attributes->accessDate) times[0] = toTimespec(*attributes->accessDate);
        if (attributes->modificationDate) times[1] = toTimespec(*attributes->modificationDate);
        if (::futimens(fd, times) != 0) return errno;
    }
    return 0;
}

void syncDirectory(const fs::path& directory) {
    FileDescriptor fd(::open(directory.empty() ? "." : directory.c_str(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

fs::path parentFolder(const fs::path& path) {
    fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// Temporary files beside a destination are named
//   .vantrell-tmp-<pid>-<start>-<boot>-<random>-<name>
// with the writer's process id, its start time (clock ticks after boot) and
// the first characters of the boot's id: a later run can tell that the
// writer is gone (killed while writing) and remove what it left.
constexpr const char kTemporaryPrefix[] = ".vantrell-tmp-";

// How much a streamed file gathers before its pages are handed to the disc.
constexpr off_t kWritebackStep = 256 << 10;

// The start time of process `pid` in clock ticks after boot, "" when it
// does not exist.
std::string processStartTime(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return {};
    // Fields after the command name (which may hold spaces); start time is
    // the 22nd field, the 20th after the name.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return {};
    std::size_t at = close + 2;
    for (int field = 3; field < 22 && at < line.size(); ++field) {
        at = line.find(' ', at);
        if (at == std::string::npos) return {};
        ++at;
    }
    const std::size_t end = line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

const std::string& bootToken() {
    static const std::string token = [] {
        std::ifstream boot("/proc/sys/kernel/random/boot_id");
        std::string id;
        std::getline(boot, id);
        id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
        return id.size() >= 8 ? id.substr(0, 8) : std::string("00000000");
    }();
    return token;
}

// Made again in a forked child: its temporaries must name the child, or
// what a killed child left would pass for its living parent's.
std::string writerToken() {
    static std::mutex mutex;
    static pid_t made = 0;
    static std::string token;
    std::lock_guard lock(mutex);
    const pid_t pid = ::getpid();
    if (made != pid) {
        std::string start = processStartTime(long(pid));
        if (start.empty()) start = "0";
        token = std::to_string(long(pid)) + "-" + start + "-" + bootToken();
        made = pid;
    }
    return token;
}

// Whether the writer named by the token at `at` in `name`
// ("<pid>-<start>-<boot>", then "-" or the end of the name) is gone, on this
// machine and since its last boot.
bool writerIsGone(const std::string& name, std::size_t at) {
    std::string fields[3];
    for (std::string& field : fields) {
        std::size_t dash = name.find('-', at);
        if (dash == std::string::npos && &field == &fields[2]) dash = name.size();
        if (dash == std::string::npos || dash == at) return false;
        field = name.substr(at, dash - at);
        at = dash + 1;
    }
    const auto digits = [](const std::string& s) {
        return s.size() <= 20 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(fields[0]) || !digits(fields[1]) || fields[2] != bootToken()) return false;
    const long pid = std::strtol(fields[0].c_str(), nullptr, 10);
    if (pid <= 0) return false;
    return processStartTime(pid) != fields[1];
}

// Whether `name` is a temporary file whose writer is gone.
bool isStaleTemporary(const std::string& name) {
    return name.rfind(kTemporaryPrefix, 0) == 0 && writerIsGone(name, sizeof(kTemporaryPrefix) - 1);
}

// libvips's disc temporaries: "vips-<serial>-<random>.v".
bool isLibraryTemporary(const std::string& name) {
    return name.rfind("vips-", 0) == 0 && name.size() > 7 && name.compare(name.size() - 2, 2, ".v") == 0;
}

// Every file under `folder` that a process of ours holds open or mapped.
std::set<std::pair<dev_t, ino_t>> filesInUse(const fs::path& folder) {
    std::set<std::pair<dev_t, ino_t>> inUse;
    const std::string prefix = folder.string() + "/";
    std::error_code error;
    for (fs::directory_iterator process("/proc", error), end; !error && process != end; process.increment(error)) {
        const std::string pid = process->path().filename().string();
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const auto note = [&](const std::string& target) {
            if (target.rfind(prefix, 0) != 0) return;
            struct stat st{};
            // A file opened and then removed reads "<path> (deleted)" and
            // no longer matters.
            if (::stat(target.c_str(), &st) == 0) inUse.emplace(st.st_dev, st.st_ino);
        };
        std::error_code ignored;
        for (fs::directory_iterator fd(process->path() / "fd", ignored); !ignored && fd != end;
             fd.increment(ignored)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fd->path(), linkError);
            if (!linkError) note(target.string());
        }
        std::ifstream maps(process->path() / "maps");
        for (std::string line; std::getline(maps, line);) {
            const std::size_t slash = line.find('/');
            if (slash != std::string::npos) note(line.substr(slash));
        }
    }
    return inUse;
}

// A disc temporary is written without pause while it is made; one that has
// not changed for this long and that nobody holds is left over.
constexpr auto kLibraryTemporaryQuietTime = std::chrono::minutes(2);

// Removes the libvips disc temporaries that conversions killed while
// running left in the private folder `folder`, once per folder and process.
void removeStaleLibraryTemporaries(const fs::path& folder) {
    static std::mutex mutex;
    static std::set<std::string> done;
    {
        std::lock_guard lock(mutex);
        if (!done.insert(folder.string()).second) return;
    }
    std::vector<fs::path> candidates;
    const auto quietSince = std::chrono::system_clock::now() - kLibraryTemporaryQuietTime;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!isLibraryTemporary(it->path().filename().string())) continue;
        struct stat st{};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
        const auto changed = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
        if (changed < quietSince) candidates.push_back(it->path());
    }
    if (candidates.empty()) return;
    const std::set<std::pair<dev_t, ino_t>> inUse = filesInUse(folder);
    for (const fs::path& file : candidates) {
        struct stat st{};
        if (::lstat(file.c_str(), &st) == 0 && !inUse.contains({st.st_dev, st.st_ino})) ::unlink(file.c_str());
    }
}

// Fallback private folders are named "vantrell-<uid>-<writer>-XXXXXX";
// removes, once per base folder and process, those of processes that are
// gone, with what they left in them.
void removeStaleFallbackFolders(const fs::path& base, const std::string& own) {
    static std::mutex mutex;
    static std::set<std::string> done;
    {
        std::lock_guard lock(mutex);
        if (!done.insert(base.string()).second) return;
    }
    const std::string prefix = own + "-";
    std::error_code error;
    for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0 || !writerIsGone(name, prefix.size())) continue;
        struct stat st{};
        if (::lstat(it->path().c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
            (st.st_mode & 07777) == 0700) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

// Removes the stale temporary files of `folder`; true when no temporary file
// of any writer is left there.
bool sweepStaleTemporaries(const fs::path& folder) {
    bool clean = true;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kTemporaryPrefix, 0) != 0) continue;
        // Only regular files of ours, never what a link points at.
        struct stat st{};
        if (isStaleTemporary(name) && ::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::getuid() && ::unlink(it->path().c_str()) == 0) {
            continue;
        }
        clean = false;
    }
    return clean && !error;
}

// Removes the stale temporary files of `folder`, once per folder and process.
void removeStaleTemporaries(const fs::path& folder) {
    static std::mutex mutex;
    static std::set<std::string> done;
    {
        std::lock_guard lock(mutex);
        if (!done.insert(folder.string()).second) return;
    }
    sweepStaleTemporaries(folder);
}

// Creates a fresh temporary file beside `destination`; returns its descriptor.
int createTemporaryBeside(const fs::path& destination, fs::path& temporaryPath, int& error) {
    removeStaleTemporaries(parentFolder(destination));
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporaryPath = FileManager::temporaryPathBeside(destination);
        int fd = ::open(temporaryPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) {
            error = errno;
            return -1;
        }
    }
    error = EEXIST;
    return -1;
}

int copyContents(int in, int out) {
    bool useCopyRange = true;
    std::vector<std::uint8_t> buffer;
    for (;;) {
        if (useCopyRange) {
            ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (copied > 0) continue;
            if (copied == 0) return 0;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return errno;
            useCopyRange = false;
            buffer.resize(1 << 20);
        }
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return 0;
        if (int e = WriteAll(out, buffer.data(), static_cast<std::size_t>(got))) return e;
    }
}

// Permission bits for a new or replaced file: those of the file it replaces,
// else what a plain creation would give.
mode_t permissionsFor(const fs::path& destination) {
    struct stat st{};
    if (::stat(destination.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    return 0666 & ~processUmask();
}

// Finishes a temporary file: permissions, attributes, fsync, close, rename.
bool commitTemporary(FileDescriptor& fd, const fs::path& temporaryPath, const fs::path& destination,
                     const std::optional<FileAttributes>& attributes, std::error_code* error) {
    if (::fchmod(fd.get(), permissionsFor(destination)) != 0) {
        setError(error, errno);
        return false;
    }
    if (int e = applyAttributes(fd.get(), attributes)) {
        setError(error, e);
        return false;
    }
    if (::fsync(fd.get()) != 0) {
        setError(error, errno);
        return false;
    }
    if (int e = fd.close()) {
        setError(error, e);
        return false;
    }
    if (::rename(temporaryPath.c_str(), destination.c_str()) != 0) {
        setError(error, errno);
        return false;
    }
    syncDirectory(parentFolder(destination));
    return true;
}

bool renameNoReplace(const fs::path& from, const fs::path& to, int& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        error = errno;
        return false;
    }
    // Filesystems without RENAME_NOREPLACE: link() refuses an existing target too.
    if (::link(from.c_str(), to.c_str()) != 0) {
        error = errno;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

// Copies a regular file to a fresh temporary file beside `destination`,
// keeping permissions and dates. Returns the open, synced temporary file.
bool copyToTemporaryBeside(const fs::path& source, const fs::path& destination, fs::path& temporaryPath,
                           std::error_code* error) {
    // O_NONBLOCK: opening a FIFO must not hang; regular files ignore it.
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!in.valid()) {
        setError(error, errno);
        return false;
    }
    struct stat st{};
    if (::fstat(in.get(), &st) != 0) {
        setError(error, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, EINVAL);
        return false;
    }
    int e = 0;
    FileDescriptor out(createTemporaryBeside(destination, temporaryPath, e));
    if (!out.valid()) {
        setError(error, e);
        return false;
    }
    TemporaryFileGuard guard(temporaryPath);
    if ((e = copyContents(in.get(), out.get())) != 0) {
        setError(error, e);
        return false;
    }
    ::fchmod(out.get(), st.st_mode & 07777);
    timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    if (::fsync(out.get()) != 0 || (e = out.close()) != 0) {
        setError(error, e ? e : errno);
        return false;
    }
    guard.release();
    return true;
}

fs::path environmentPath(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value || value[0] != '/') return {};
    return fs::path(value);
}

}  // namespace

// --- Atomic creation -----------------------------------------------------------

bool FileManager::removeStaleTemporariesIn(const Path& folder) { return sweepStaleTemporaries(folder); }

fs::path FileManager::temporaryPathBeside(const Path& destination) {
    std::string name = destination.filename().string();
    const std::string prefix = kTemporaryPrefix + writerToken() + "-" + randomToken() + "-";
    // Stay within the 255-byte name limit; keep the extension, which
    // encoders read to choose the format.
    constexpr std::size_t kNameMax = 255;
    if (prefix.size() + name.size() > kNameMax) {
        std::string extension = destination.extension().string();
        if (extension.size() > 32) extension.clear();
        std::size_t keep = kNameMax - prefix.size() - extension.size();
        keep = std::min(keep, name.size());
        // Never cut a UTF-8 sequence in half.
        while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
        name = name.substr(0, keep) + extension;
    }
    return parentFolder(destination) / (prefix + name);
}

bool FileManager::createFile(const Path& path, const void* data, std::size_t size,
                             const std::optional<FileAttributes>& attributes, std::error_code* error) {
    if (path.empty() || (size > 0 && data == nullptr)) {
        setError(error, EINVAL);
        return false;
    }
    fs::path temporaryPath;
    int e = 0;
    FileDescriptor fd(createTemporaryBeside(path, temporaryPath, e));
    if (!fd.valid()) {
        setError(error, e);
        return false;
    }
    TemporaryFileGuard guard(temporaryPath);
    if ((e = WriteAll(fd.get(), data, size)) != 0) {
        setError(error, e);
        return false;
    }
    if (!commitTemporary(fd, temporaryPath, path, attributes, error)) return false;
    guard.release();
    return true;
}

bool FileManager::createFile(const Path& path, std::span<const std::uint8_t> data,
                             const std::optional<FileAttributes>& attributes, std::error_code* error) {
    return createFile(path, data.data(), data.size(), attributes, error);
}

bool FileManager::createFile(const Path& path, std::string_view data,
                             const std::optional<FileAttributes>& attributes, std::error_code* error) {
    return createFile(path, data.data(), data.size(), attributes, error);
}

bool FileManager::createFile(const Path& path, const std::function<bool(const ByteWriter& write)>& produce,
                             const std::optional<FileAttributes>& attributes, std::error_code* error) {
    if (!produce) {
        setError(error, EINVAL);
        return false;
    }
    int e = 0;
    const bool created = createFileWithDescriptor(
        path,
        [&](int fd) {
            // Written pages are handed to the disc as they fill, so that the
            // sync that makes the file durable waits for the last ones only.
            off_t written = 0, handed = 0;
            const ByteWriter write = [&](const void* data, std::size_t size) {
                if (e == 0 && size > 0) e = data ? WriteAll(fd, data, size) : EINVAL;
                written += off_t(size);
                if (e == 0 && written - handed >= kWritebackStep) {
                    ::sync_file_range(fd, handed, written - handed, SYNC_FILE_RANGE_WRITE);
                    handed = written;
                }
                return e == 0;
            };
            return produce(write) && e == 0;
        },
        attributes, error);
    if (!created && e != 0) setError(error, e);
    return created;
}

bool FileManager::createFileWithDescriptor(const Path& path, const std::function<bool(int descriptor)>& produce,
                                           const std::optional<FileAttributes>& attributes,
                                           std::error_code* error) {
    if (path.empty() || !produce) {
        setError(error, EINVAL);
        return false;
    }
    fs::path temporaryPath;
    int e = 0;
    FileDescriptor fd(createTemporaryBeside(path, temporaryPath, e));
    if (!fd.valid()) {
        setError(error, e);
        return false;
    }
    TemporaryFileGuard guard(temporaryPath);
    bool produced = false;
    try {
        produced = produce(fd.get());
    } catch (...) {
        produced = false;
    }
    struct stat st{};
    if (!produced || ::fstat(fd.get(), &st) != 0 || st.st_size == 0) {
        setError(error, ECANCELED);
        return false;
    }
    if (!commitTemporary(fd, temporaryPath, path, attributes, error)) return false;
    guard.release();
    return true;
}

bool FileManager::writeAtomically(const Path& destination,
                                  const std::function<bool(const Path& temporaryPath)>& write,
                                  const std::optional<FileAttributes>& attributes, std::error_code* error) {
    if (destination.empty() || !write) {
        setError(error, EINVAL);
        return false;
    }
    fs::path temporaryPath;
    int e = 0;
    {
        // Reserve the name so that no one else can take it, then hand it over.
        FileDescriptor reserved(createTemporaryBeside(destination, temporaryPath, e));
        if (!reserved.valid()) {
            setError(error, e);
            return false;
        }
    }
    TemporaryFileGuard guard(temporaryPath);
    bool wrote = false;
    try {
        wrote = write(temporaryPath);
    } catch (...) {
        wrote = false;
    }
    if (!wrote) {
        setError(error, ECANCELED);
        return false;
    }
    // The writer may have replaced the file; reopen what is there now.
    FileDescriptor fd(::open(temporaryPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid()) {
        setError(error, errno);
        return false;
    }
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        setError(error, EIO);
        return false;
    }
    if (!commitTemporary(fd, temporaryPath, destination, attributes, error)) return false;
    guard.release();
    return true;
}

// --- Reading -------------------------------------------------------------------

namespace {

// The bytes of a regular file, at most `limit` of them from its start. With
// `refuseLarger` a larger file fails (EFBIG) instead of being cut.
std::optional<std::vector<std::uint8_t>> readRegularFile(const fs::path& path, std::uint64_t limit,
                                                         bool refuseLarger, std::error_code* error) {
    // O_NONBLOCK: opening a FIFO must not hang; regular files ignore it.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        setError(error, errno);
        return std::nullopt;
    }
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) {
        setError(error, errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, EINVAL);
        return std::nullopt;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (size > limit && refuseLarger) {
        setError(error, EFBIG);
        return std::nullopt;
    }
    std::vector<std::uint8_t> data;
    try {
        data.resize(static_cast<std::size_t>(std::min(size, limit)));
    } catch (const std::bad_alloc&) {
        setError(error, ENOMEM);
        return std::nullopt;
    }
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t got = ::read(fd.get(), data.data() + done, data.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            setError(error, errno);
            return std::nullopt;
        }
        if (got == 0) break;  // the file shrank while we read it
        done += static_cast<std::size_t>(got);
    }
    data.resize(done);
    return data;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> FileManager::contentsOfFile(const Path& path, std::uint64_t maxSize,
                                                                     std::error_code* error) {
    return readRegularFile(path, maxSize, true, error);
}

std::optional<std::vector<std::uint8_t>> FileManager::leadingBytesOfFile(const Path& path, std::size_t count,
                                                                         std::error_code* error) {
    return readRegularFile(path, count, false, error);
}

std::optional<FileAttributes> FileManager::attributesOfItem(const Path& path, std::error_code* error) {
    struct statx sx{};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        setError(error, errno);
        return std::nullopt;
    }
    FileAttributes attributes;
    attributes.modificationDate = fromTimespec(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    attributes.accessDate = fromTimespec(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    if (sx.stx_mask & STATX_BTIME) {
        attributes.creationDate = fromTimespec(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    }
    attributes.posixPermissions = static_cast<mode_t>(sx.stx_mode & 07777);
    return attributes;
}

bool FileManager::setAttributes(const Path& path, const FileAttributes& attributes, std::error_code* error) {
    if (attributes.posixPermissions && ::chmod(path.c_str(), *attributes.posixPermissions & 07777) != 0) {
        setError(error, errno);
        return false;
    }
    if (attributes.modificationDate || attributes.accessDate) {
        timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = times[0];
        if (attributes.accessDate) times[0] = toTimespec(*attributes.accessDate);
        if (attributes.modificationDate) times[1] = toTimespec(*attributes.modificationDate);
        if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
            setError(error, errno);
            return false;
        }
    }
    return true;
}

std::optional<std::uint64_t> FileManager::fileSize(const Path& path, std::error_code* error) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        setError(error, errno);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

// --- Queries and simple operations -----------------------------------------------

bool FileManager::fileExists(const Path& path) {
    struct stat st{};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool FileManager::isDirectory(const Path& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileManager::isRegularFile(const Path& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FileManager::removeItem(const Path& path, std::error_code* error) {
    std::error_code ec;
    const auto removed = fs::remove_all(path, ec);
    if (ec) {
        setError(error, ec);
        return false;
    }
    if (removed == 0) {
        setError(error, ENOENT);
        return false;
    }
    return true;
}

bool FileManager::createDirectories(const Path& path, std::error_code* error) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        setError(error, ec);
        return false;
    }
    if (!isDirectory(path)) {
        setError(error, ENOTDIR);
        return false;
    }
    return true;
}

bool FileManager::copyItem(const Path& source, const Path& destination, std::error_code* error) {
    struct stat st{};
    if (::stat(source.c_str(), &st) != 0) {
        setError(error, errno);
        return false;
    }
    if (fileExists(destination)) {
        setError(error, EEXIST);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::error_code ec;
        fs::copy(source, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
        if (ec) {
            setError(error, ec);
            return false;
        }
        return true;
    }
    fs::path temporaryPath;
    if (!copyToTemporaryBeside(source, destination, temporaryPath, error)) return false;
    TemporaryFileGuard guard(temporaryPath);
    int e = 0;
    if (!renameNoReplace(temporaryPath, destination, e)) {
        setError(error, e);
        return false;
    }
    guard.release();
    syncDirectory(parentFolder(destination));
    return true;
}

FileManager::Path FileManager::moveItemToFreeName(const Path& source, const Path& destination,
                                                  std::error_code* error) {
    // Bounded: a folder with this many kept copies has a problem of its own.
    constexpr int kMaxNumber = 10000;
    for (int number = 0; number <= kMaxNumber; ++number) {
        Path candidate = destination;
        if (number > 0) candidate += "." + std::to_string(number);
        int e = 0;
        if (renameNoReplace(source, candidate, e)) {
            syncDirectory(parentFolder(candidate));
            return candidate;
        }
        if (e != EEXIST) {
            setError(error, e);
            return {};
        }
    }
    setError(error, EEXIST);
    return {};
}

bool FileManager::moveItemReplacing(const Path& source, const Path& destination, std::error_code* error) {
    struct stat sourceStat{};
    if (::lstat(source.c_str(), &sourceStat) != 0) {
        setError(error, errno);
        return false;
    }
    if (::rename(source.c_str(), destination.c_str()) == 0) {
        syncDirectory(parentFolder(destination));
        return true;
    }
    const int renameError = errno;
    if (renameError == EISDIR || renameError == ENOTEMPTY || renameError == EEXIST || renameError == ENOTDIR) {
        // A folder (or a file against a folder) is in the way: set it aside,
        // move, and put it back should the move fail.
        const fs::path aside = temporaryPathBeside(destination);
        if (::rename(destination.c_str(), aside.c_str()) != 0) {
            setError(error, errno);
            return false;
        }
        if (::rename(source.c_str(), destination.c_str()) != 0) {
            const int e = errno;
            ::rename(aside.c_str(), destination.c_str());
            if (e != EXDEV) {
                setError(error, e);
                return false;
            }
            // Fall through to the cross-filesystem copy below.
        } else {
            std::error_code ignored;
            fs::remove_all(aside, ignored);
            syncDirectory(parentFolder(destination));
            return true;
        }
    } else if (renameError != EXDEV) {
        setError(error, renameError);
        return false;
    }

    // Different filesystems: copy beside the destination, rename into place,
    // and remove the source only once the copy is safely there.
    if (S_ISREG(sourceStat.st_mode)) {
        fs::path temporaryPath;
        if (!copyToTemporaryBeside(source, destination, temporaryPath, error)) return false;
        TemporaryFileGuard guard(temporaryPath);
        if (isDirectory(destination)) {
            std::error_code ec;
            fs::remove_all(destination, ec);
        }
        if (::rename(temporaryPath.c_str(), destination.c_str()) != 0) {
            setError(error, errno);
            return false;
        }
        guard.release();
        syncDirectory(parentFolder(destination));
    } else {
        const fs::path temporaryPath = temporaryPathBeside(destination);
        std::error_code ec;
        fs::copy(source, temporaryPath, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
        if (ec) {
            fs::remove_all(temporaryPath, ec);
            setError(error, ec);
            return false;
        }
        if (fileExists(destination)) fs::remove_all(destination, ec);
        if (::rename(temporaryPath.c_str(), destination.c_str()) != 0) {
            setError(error, errno);
            fs::remove_all(temporaryPath, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::remove_all(source, ec);
    return true;
}

bool FileManager::moveItemIfAbsent(const Path& source, const Path& destination, std::error_code* error) {
    int e = 0;
    if (!renameNoReplace(source, destination, e)) {
        setError(error, e);
        return false;
    }
    syncDirectory(parentFolder(destination));
    return true;
}

// --- Well-known folders ------------------------------------------------------------

fs::path FileManager::temporaryDirectory(std::error_code* error) {
    fs::path base = environmentPath("TMPDIR");
    if (base.empty() || !isDirectory(base)) base = "/tmp";
    const uid_t uid = ::getuid();
    const std::string own = "vantrell-" + std::to_string(uid);
    {
        // TMPDIR may name the private folder itself (see plat::Initialize).
        const std::string name = (base.filename().empty() ? base.parent_path() : base).filename().string();
        struct stat st{};
        if ((name == own || name.rfind(own + "-", 0) == 0) && ::lstat(base.c_str(), &st) == 0 &&
            S_ISDIR(st.st_mode) && st.st_uid == uid && (st.st_mode & 07777) == 0700) {
            removeStaleLibraryTemporaries(base);
            return base;
        }
    }
    const fs::path folder = base / own;

    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        setError(error, errno);
        return {};
    }
    struct stat st{};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid) {
        if ((st.st_mode & 07777) == 0700 || ::chmod(folder.c_str(), 0700) == 0) {
            removeStaleLibraryTemporaries(folder);
            return folder;
        }
    }

    // The name is taken by something that is not our private folder (another
    // user's folder, a symlink, a file): never use it, make one of our own.
    static std::mutex mutex;
    static std::map<std::string, fs::path> fallbacks;
    std::lock_guard lock(mutex);
    auto it = fallbacks.find(base.string());
    if (it != fallbacks.end() && ::lstat(it->second.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == uid) {
        return it->second;
    }
    // Named after this process, so that a later run can tell it is left
    // over once we are gone.
    removeStaleFallbackFolders(base, own);
    std::string templateName = (base / (own + "-" + writerToken() + "-XXXXXX")).string();
    if (!::mkdtemp(templateName.data())) {
        setError(error, errno);
        return {};
    }
    fallbacks[base.string()] = templateName;
    return fs::path(templateName);
}

fs::path FileManager::homeDirectory() {
    fs::path home = environmentPath("HOME");
    if (!home.empty()) return home;
    struct passwd entry{};
    struct passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir) {
        return fs::path(result->pw_dir);
    }
    return {};
}

fs::path FileManager::applicationSupportDirectory() {
    fs::path data = environmentPath("XDG_DATA_HOME");
    if (!data.empty()) return data;
    const fs::path home = homeDirectory();
    return home.empty() ? fs::path() : home / ".local" / "share";
}

fs::path FileManager::preferencesDirectory() {
    fs::path config = environmentPath("XDG_CONFIG_HOME");
    if (config.empty()) {
        const fs::path home = homeDirectory();
        if (home.empty()) return {};
        config = home / ".config";
    }
    return config / "vantrell";
}

}  // namespace plat
