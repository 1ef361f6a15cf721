// Vantrell: the application's entry point.
#include "app/ui/AppDelegate.h"
#include "app/ui/MainWindow.h"
#include "app/ui/ResourceImages.h"
#include "app/ui/SingleInstance.h"
#include "platform/Bundle.h"
#include "platform/Initialize.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

// With VANTRELL_EXIT_AFTER_SHOW set, the application reports its window's
// title once the window is on screen and ends: a start-up check for scripts.
void ExitOnceShown(MainWindow* window) {
    auto* timer = new QTimer(window);
    timer->setInterval(25);
    QObject::connect(timer, &QTimer::timeout, window, [window, timer, attempts = 0]() mutable {
        QWindow* handle = window->windowHandle();
        if (handle && handle->isExposed() && window->isVisible()) {
            timer->stop();
            std::printf("main window shown: %s\n", window->windowTitle().toUtf8().constData());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        } else if (++attempts > 400) {
            timer->stop();
            std::fprintf(stderr, "main window was not shown\n");
            QCoreApplication::exit(1);
        }
    });
    timer->start();
}

// Without its string table the application would show nothing but keys:
// it says where it looked and ends.
bool ResourcesFound() {
    if (!plat::Bundle::pathForResource("Localizable", "plist").empty()) return true;
    std::fprintf(stderr, "vantrell: resources not found (no Localizable.plist). Looked in:\n");
    for (const auto& folder : plat::Bundle::resourcesCandidates()) std::fprintf(stderr, "  %s\n", folder.c_str());
    std::fprintf(stderr, "Set VANTRELL_RESOURCES to the folder that holds them.\n");
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!ResourcesFound()) return EXIT_FAILURE;
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantrell"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("vantrell.org"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrell.Vantrell"));
    QApplication::setWindowIcon(ApplicationIcon());
    plat::Initialize();

    // Files named on the command line are handed over like files opened
    // with the application: to the one already running when there is one.
    std::vector<std::filesystem::path> files;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) files.emplace_back(QFile::encodeName(arguments[i]).toStdString());
    SingleInstance instance(SingleInstance::defaultSocketPath());
    if (instance.handOver(files)) return EXIT_SUCCESS;
    // Listening at once: a later start's files wait in the socket until the
    // event loop runs.
    instance.listen();

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    delegate.window()->show();
    if (!files.empty()) delegate.applicationOpenFiles(std::move(files));
    QObject::connect(&instance, &SingleInstance::filesHandedOver, &delegate,
                     [&delegate](const std::vector<std::filesystem::path>& handed) {
                         MainWindow* window = delegate.window();
                         window->raise();
                         window->activateWindow();
                         if (!handed.empty()) delegate.applicationOpenFiles(handed);
                     });

    const char* exitAfterShow = std::getenv("VANTRELL_EXIT_AFTER_SHOW");
    if (exitAfterShow && *exitAfterShow && std::string_view(exitAfterShow) != "0") {
        ExitOnceShown(delegate.window());
    }
    return application.exec();
}
