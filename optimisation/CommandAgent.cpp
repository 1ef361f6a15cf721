#include "optimisation/CommandAgent.h"

#include "optimisation/File.h"
#include "optimisation/FileCondition.h"
#include "optimisation/PngMetadata.h"
#include "optimisation/StaleWorkingFiles.h"
#include "platform/Bundle.h"
#include "platform/FileManager.h"
#include "platform/UserDefaults.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace optimisation {

namespace fs = std::filesystem;

int CommandAgent::launchTask(plat::Tool tool, const std::vector<std::string>& arguments) {
    if (arguments.empty()) return -1;
    toolName_ = arguments.front();
    try {
        return runner_.run(tool, arguments).result();
    } catch (...) {
        // The argument vector could not be built: the tool is not called.
        return -1;
    }
}

std::string CommandAgent::tempPath() {
    // Shared by every agent of the process; it starts from the process id so
    // that two processes seldom meet on a name.
    static std::atomic<std::uint32_t> counter{0};
    std::uint32_t unset = 0;
    counter.compare_exchange_strong(unset, static_cast<std::uint32_t>(::getpid()) << 12);
    // Before the first working file: this process becomes an owner, and what
    // owners that are gone left behind goes.
    ClaimPrivateWorkingFiles();

    const fs::path folder = plat::FileManager::temporaryDirectory();
    if (folder.empty()) return {};
    const auto fileHash = reinterpret_cast<std::uintptr_t>(file().get());
    const auto ownHash = reinterpret_cast<std::uintptr_t>(this);
    const auto mixed = static_cast<unsigned>((fileHash ^ ownHash) & 0xFFFFFFFFu);
    const std::string name(className());

    // A name that is taken (a leftover, another process's working file) is
    // skipped: some tools refuse an existing output, others would overwrite it.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const unsigned value = counter.fetch_add(1);
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, ".%x.%x.temp", mixed, value);
        fs::path path = folder / ("Vantrell." + name + buffer);
        if (!plat::FileManager::fileExists(path)) return path.string();
    }
    return {};
}

void CommandAgent::cancel() {
    runner_.terminate();
    plat::Operation::cancel();
}

void CommandAgent::taskWithPath(const std::string& path, const std::vector<std::string>& arguments) {
    task_ = Task{path, arguments, {"NSUnbufferedIO=YES"}};
}

std::vector<std::string> CommandAgent::taskArguments() const {
    return task_ ? task_->arguments : std::vector<std::string>{};
}

int CommandAgent::launchTask() {
    if (!task_) return -1;
    try {
        std::vector<std::string> argv;
        argv.reserve(task_->arguments.size() + 1);
        argv.push_back(task_->path);
        argv.insert(argv.end(), task_->arguments.begin(), task_->arguments.end());
        plat::ToolRunOptions options;
        options.extraEnvironment = task_->environment;
        options.lowPriority =
            plat::UserDefaults::standardUserDefaults().boolForKey(plat::defaults::kRunLowPriority);
        return runner_.run(task_->path, argv, [this](int fd) { parseLinesFromHandle(fd); }, options).result();
    } catch (...) {
        return -1;
    }
}

std::string CommandAgent::executablePathForKey(std::string_view key, std::string_view bundleName) {
    const fs::path path = plat::Bundle::pathForResource(bundleName, "");
    struct stat st{};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) {
        return path.string();
    }
    plat::UserDefaults::standardUserDefaults().setBool(std::string(key) + "Enabled", false);
    return {};
}

bool CommandAgent::taskForKey(std::string_view key, std::string_view bundleName,
                              const std::vector<std::string>& arguments) {
    const std::string path = executablePathForKey(key, bundleName);
    if (path.empty()) {
        if (auto owner = file()) owner->setStatus("err", 8, status::format(status::kFailedToStart, key));
        return false;
    }
    taskWithPath(path, arguments);
    return true;
}

bool CommandAgent::parseLine(const std::string&) { return false; }

void CommandAgent::parseLinesFromHandle(int fd) {
    constexpr std::size_t kLineBuffer = 4096;
    std::string line;
    line.reserve(kLineBuffer);
    char chunk[kLineBuffer];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; ++i) {
            const char byte = chunk[i];
            // A full buffer ends the line like a line end, taking that byte.
            if (byte == '\n' || byte == '\r' || line.size() >= kLineBuffer - 1) {
                if (parseLine(line)) return;
                line.clear();
            } else {
                line.push_back(byte);
            }
        }
    }
}

std::int64_t CommandAgent::readNumberAfter(std::string_view marker, std::string_view line) {
    if (marker.empty()) return 0;
    const auto at = line.find(marker);
    if (at == std::string_view::npos) return 0;
    std::size_t i = at + marker.size();
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '-' || line[i] == '+')) {
        negative = line[i] == '-';
        ++i;
    }
    if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i]))) return 0;
    std::int64_t value = 0;
    // Read as an int: a longer number saturates at the int's limits.
    for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
        if (value <= static_cast<std::int64_t>(INT_MAX) + 1) value = value * 10 + (line[i] - '0');
    }
    if (negative) return value > static_cast<std::int64_t>(INT_MAX) + 1 ? INT_MIN : -value;
    return value > INT_MAX ? INT_MAX : value;
}

CommandAgent::WorkingFile CommandAgent::prepareOutput() {
    WorkingFile work;
    work.owner = file();
    if (!work.owner) return {};
    work.original = work.owner->filePath();
    if (work.original.empty()) return {};
    // Before any tool starts: a FIFO would block it, a file the user may not
    // change must stay as it is, and the tools would drop animation frames
    // and further images.
    const FileInspection inspection = InspectFileCondition(work.original);
    if (inspection.condition != FileCondition::Fine) {
        const ConditionStatus shown = StatusForCondition(inspection.condition);
        work.owner->noteProblem(shown.key, shown.order, shown.text);
        return {};
    }
    work.owner->setByteSize(inspection.size);
    work.path = tempPath();
    if (work.path.empty()) return {};
    return work;
}

CommandAgent::WorkingFile CommandAgent::prepareWorkingCopy() {
    WorkingFile work = prepareOutput();
    if (!work) return {};
    const std::uint64_t originalSize = File::fileByteSize(work.original);
    if (originalSize == 0) return {};
    // The tool must never work on a partial copy: it would "optimise" it and
    // the result would replace the whole original.
    if (!plat::FileManager::copyItem(work.original, work.path) || File::fileByteSize(work.path) != originalSize ||
        ::chmod(work.path.c_str(), 0600) != 0) {
        removeWorkingFile(work.path);
        return {};
    }
    return work;
}

void CommandAgent::finishReplacing(int result, const std::string& workingPath, std::uint64_t minimumSize) {
    if (!isCancelled() && result == 0) replaceOriginalWith(workingPath, minimumSize);
    removeWorkingFile(workingPath);
    if (auto owner = file()) owner->settleAfterRun();
}

bool CommandAgent::replaceOriginalWith(const std::string& resultPath, std::uint64_t minimumSize) {
    auto owner = file();
    if (!owner || resultPath.empty()) return false;
    const std::string original = owner->filePath();
    if (original.empty()) return false;

    // Unless the agent strips on purpose, the result carries the original's
    // ancillary chunks, or it is not taken.
    if (!makesNonOptimizingModifications() && File::fileTypeAtPath(original) == kFileTypePNG &&
        File::fileTypeAtPath(resultPath) == kFileTypePNG && !CarryOverAncillaryChunks(original, resultPath)) {
        return false;
    }
    const std::uint64_t originalSize = File::fileByteSize(original);
    const std::uint64_t resultSize = File::fileByteSize(resultPath);
    switch (owner->replaceFileWith(resultPath, minimumSize, 0, toolName_)) {
        case File::Replacement::Replaced:
            owner->noteReplacement(originalSize, resultSize, toolName_);
            return true;
        case File::Replacement::Failed:
            owner->noteProblem("err", 9, status::kCouldNotSave);
            return false;
        case File::Replacement::NotTaken:
            return false;
    }
    return false;
}

void CommandAgent::removeWorkingFile(const std::string& path) {
    if (path.empty()) return;
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace optimisation
