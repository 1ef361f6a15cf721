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

std::filesystem::path ConvertWithLibreOffice(const std::filesystem::path& input, const std::string& format,
                                             const std::string& extension, const std::filesystem::path& outputFolder,
                                             std::chrono::milliseconds limit) {
    using plat::FileManager;
    if (input.empty() || outputFolder.empty() || !FileManager::isRegularFile(input)) return {};
    const std::filesystem::path work = GetTemporaryURLInDirectory(outputFolder, "office-");
    const std::filesystem::path profile = work / "profile";
    const std::filesystem::path converted = work / "out";
    if (work.empty() || !FileManager::createDirectories(profile) || !FileManager::createDirectories(converted)) {
        if (!work.empty()) FileManager::removeItem(work);
        return {};
    }
    const std::vector<std::string> arguments = {
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
        input.string(),
    };

    plat::ToolRunner runner;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    plat::ToolStatus status;
    std::thread worker([&] {
        const plat::ToolStatus result = runner.run(GetLibreOfficeExecutable(), arguments);
        std::lock_guard<std::mutex> lock(mutex);
        status = result;
        done = true;
        finished.notify_one();
    });
    bool timedOut = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!finished.wait_for(lock, limit, [&] { return done; })) timedOut = true;
    }
    // Stops the child by its own id; run() then reaps it and returns.
    if (timedOut) runner.terminate();
    worker.join();

    const std::filesystem::path output = converted / (input.stem().string() + "." + extension);
    const auto size = FileManager::fileSize(output);
    if (timedOut || !status.succeeded() || !size || *size == 0) {
        FileManager::removeItem(work);
        return {};
    }
    // The profile is LibreOffice's scratch space only.
    FileManager::removeItem(profile);
    return output;
}
