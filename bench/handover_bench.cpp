// A later start handing a long list of files to the running instance: the
// message written in 4 KiB pieces, as a local socket delivers a large one.
// Reports the processor time the running instance's (window) thread spent
// reading it and the process's peak memory.
//
//     vantrell_handover_bench
#include "app/model/HandOverMessage.h"
#include "app/ui/SingleInstance.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

namespace {

double ThreadSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Sends `message` in 4 KiB pieces; true when the instance answered.
bool Send(const QString& socket, const std::string& message) {
    QLocalSocket client;
    client.connectToServer(socket);
    if (!client.waitForConnected(5000)) return false;
    for (std::size_t at = 0; at < message.size(); at += 4096) {
        client.write(message.data() + at, qint64(std::min<std::size_t>(4096, message.size() - at)));
        if (!client.waitForBytesWritten(30000)) return false;
    }
    while (client.bytesAvailable() < 1) {
        if (!client.waitForReadyRead(60000)) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    // Removed when the instance has let go of its socket and lock.
    struct Folder {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("vantrell-handover-" + std::to_string(getpid()));
        Folder() { std::filesystem::create_directories(path); }
        ~Folder() {
            std::error_code error;
            std::filesystem::remove_all(path, error);
        }
    } folder;
    const QString socket = QString::fromStdString((folder.path / "socket").native());
    SingleInstance running(socket);
    running.handOver({});
    if (!running.listen()) return 1;
    std::size_t received = 0;
    QObject::connect(&running, &SingleInstance::filesHandedOver,
                     [&](const std::vector<std::filesystem::path>& files) { received = files.size(); });

    struct Job {
        const char* what;
        std::string message;
    };
    // The largest list taken whole, and 8 MB of short paths (refused at the
    // bound on files, as the 8 MB in 4 KiB pieces would be).
    std::vector<std::filesystem::path> files;
    for (std::size_t i = 0; i < kHandOverMaximumFiles; ++i) files.push_back("/photos/2024/IMG_" + std::to_string(i) + ".jpg");
    std::string shortPaths;
    for (std::size_t i = 0; shortPaths.size() < kHandOverMaximumBytes - 16; ++i) {
        shortPaths += "/" + std::to_string(i);
        shortPaths += '\0';
    }
    shortPaths += '\0';
    const Job jobs[] = {{"largest list taken", *MakeHandOverMessage(files, "/")}, {"8 MB of short paths", shortPaths}};
    for (const Job& job : jobs) {
        received = 0;
        const double before = ThreadSeconds();
        auto answered = std::async(std::launch::async, [&] { return Send(socket, job.message); });
        while (answered.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const bool taken = answered.get();
        QCoreApplication::processEvents();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%s: %.1f MB, %s, %zu files, window thread %.2f s processor time, peak memory %.1f MB\n", job.what,
                    double(job.message.size()) / 1048576.0, taken ? "taken" : "refused", received,
                    ThreadSeconds() - before, double(usage.ru_maxrss) / 1024.0);
    }
    return 0;
}
