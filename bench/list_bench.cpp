// Adds a folder of large photos to the image list of a real main window
// (offscreen) and reports the time until every row shows its thumbnail and
// the peak memory of the process.
//
//     vantrell_list_bench <folder>
#include "app/ui/AppDelegate.h"
#include "app/ui/MainWindow.h"
#include "platform/Initialize.h"

#include <QApplication>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

int main(int argc, char* argv[]) {
    if (argc != 2 || !std::filesystem::is_directory(argv[1])) {
        std::fprintf(stderr, "usage: %s <folder of photos>\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    plat::Initialize();
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    delegate.window()->show();
    ImageListModel* model = delegate.imageListModel();

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    double firstShown = -1.0;
    delegate.AddUrlsIntoImageListViewAtEnd({argv[1]}, false);
    auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const auto& entries = model->entries();
        const auto done = std::count_if(entries.begin(), entries.end(), [](const ListEntityRef& entity) {
            const ThumbnailState state = entity->thumbnailState();
            return state != ThumbnailState::None && state != ThumbnailState::Loading;
        });
        if (firstShown < 0.0 && done > 0) firstShown = seconds();
        if (!model->isAdding() && done == std::ptrdiff_t(entries.size())) break;
        QThread::msleep(1);
    }
    const double allShown = seconds();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("files %d, first thumbnail %.2f s, every thumbnail %.2f s, peak memory %.1f MB\n", model->count(),
                firstShown, allShown, double(usage.ru_maxrss) / 1024.0);
    return 0;
}
