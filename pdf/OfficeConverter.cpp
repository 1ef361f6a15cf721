#include "pdf/OfficeConverter.h"

#include "common/KSMUtil.h"
#include "platform/FileManager.h"
#include "platform/ToolRunner.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

std::string GetLibreOfficeExecutable() {
    if (const char* configured = std::getenv("VANTRELL_LIBREOFFICE"); configured && *configured) return configured;
    return "/usr/lib/libreoffice/program/soffice.bin";
}

std::string GetLibreOfficeImportFilter(int textDocumentType) {
    switch (textDocumentType) {
    case 7: return "writer8";
    case 8: return "writer8_template";
    case 9: return "StarOffice XML (Writer)";
    case 10: return "writer_StarOffice_XML_Writer_Template";
    case 11: return "MS Word 2007 XML";
    case 12: return "MS Word 2003 XML";
    case 13: return "MS Word 97";
    default: return {};
    }
}

namespace {

constexpr int kRestartStatus = 81;

// Address space LibreOffice may map. Converting a document runs within one
// gigabyte; a zip bomb in a Word file drove it to 9 GB.
constexpr std::uint64_t kLibreOfficeAddressSpace = std::uint64_t(2) << 30;

// Runs LibreOffice until it ends or the deadline passes; then it is stopped
// by its own process id and reaped.
plat::ToolStatus RunWithDeadline(const std::vector<std::string>& arguments, const plat::ToolRunOptions& options,
                                 std::chrono::steady_clock::time_point deadline, bool& timedOut) {
    plat::ToolRunner runner;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    plat::ToolStatus status;
    std::thread worker([&] {
        const plat::ToolStatus result = runner.run(GetLibreOfficeExecutable(), arguments, {}, options);
        std::lock_guard<std::mutex> lock(mutex);
        status = result;
        done = true;
        finished.notify_one();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        timedOut = !finished.wait_until(lock, deadline, [&] { return done; });
    }
    if (timedOut) runner.terminate();
    worker.join();
    return status;
}

}  // namespace

std::filesystem::path ConvertWithLibreOffice(const std::filesystem::path& input, const std::string& format,
                                             const std::string& extension, const std::filesystem::path& outputFolder,
                                             std::chrono::milliseconds limit, const std::string& inputFilter) {
    using plat::FileManager;
    if (input.empty() || outputFolder.empty() || !FileManager::isRegularFile(input)) return {};
    const std::filesystem::path work = GetTemporaryURLInDirectory(outputFolder, "office-");
    const std::filesystem::path profile = work / "profile";
    const std::filesystem::path converted = work / "out";
    // LibreOffice's own temporary folders (lu*.tmp) go here too, so that
    // they go with the work folder, also after a time-out.
    const std::filesystem::path scratch = work / "tmp";
    if (work.empty() || !FileManager::createDirectories(profile) || !FileManager::createDirectories(converted) ||
        !FileManager::createDirectories(scratch)) {
        if (!work.empty()) FileManager::removeItem(work);
        return {};
    }
    std::vector<std::string> arguments = {
        "soffice",
        "-env:UserInstallation=file://" + profile.string(),
        "--headless",
        "--invisible",
        "--nologo",
        "--norestore",
        "--nodefault",
        "--nolockcheck",
        "--convert-to",
        format,
        "--outdir",
        converted.string(),
    };
    if (!inputFilter.empty()) arguments.push_back("--infilter=" + inputFilter);
    arguments.push_back(input.string());

    plat::ToolRunOptions options;
    options.extraEnvironment = {"TMPDIR=" + scratch.string()};
    options.addressSpaceLimit = kLibreOfficeAddressSpace;

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timedOut = false;
    plat::ToolStatus status;
    // A fresh profile makes LibreOffice set itself up and ask for a restart
    // (exit status 81) before it converts anything.
    for (int attempt = 0; attempt < 2; ++attempt) {
        status = RunWithDeadline(arguments, options, deadline, timedOut);
        if (timedOut || status.kind != plat::ToolStatus::Kind::Exited || status.value != kRestartStatus) break;
    }

    const std::filesystem::path output = converted / (input.stem().string() + "." + extension);
    const auto size = FileManager::fileSize(output);
    if (timedOut || !status.succeeded() || !size || *size == 0) {
        FileManager::removeItem(work);
        return {};
    }
    // The profile and the temporary folder are LibreOffice's scratch space only.
    FileManager::removeItem(profile);
    FileManager::removeItem(scratch);
    return output;
}
