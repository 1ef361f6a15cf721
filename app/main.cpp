// Vantrell: the application's entry point.
#include "app/model/CommandLine.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/MainWindow.h"
#include "app/ui/ResourceImages.h"
#include "app/ui/SingleInstance.h"
#include "platform/Bundle.h"
#include "platform/Initialize.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

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

// The write end of the pipe that carries a termination signal into the
// event loop.
int g_signalPipe = -1;

void OnTerminationSignal(int number) {
    // A second signal ends the process at once.
    std::signal(number, SIG_DFL);
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = write(g_signalPipe, &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C in a terminal) end
// the application as closing its window does: the running file is
// finished, the preferences are written and the preview folder removed.
// `close` runs in the event loop, never inside the signal handler.
void CloseOnTerminationSignals(QObject* parent, std::function<void()> close) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_signalPipe = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [fd = fds[0], close = std::move(close)] {
        char bytes[16];
        while (read(fd, bytes, sizeof bytes) > 0) {
        }
        close();
    });
    struct sigaction action = {};
    action.sa_handler = &OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!ResourcesFound()) return EXIT_FAILURE;
    // Files named on the command line are handed over like files opened
    // with the application: to the one already running when there is one.
    // Qt sees the program's name only: it would take its own options (and
    // files named like them) out of the list.
    const std::vector<std::filesystem::path> files = FilesFromCommandLine(argc, argv);
    int qtArgc = 1;
    char fallbackName[] = "vantrell";
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    QApplication application(qtArgc, qtArgv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantrell"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("vantrell.org"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrell.Vantrell"));
    QApplication::setWindowIcon(ApplicationIcon());
    plat::Initialize();

    SingleInstance instance(SingleInstance::defaultSocketPath());
    if (instance.handOver(files)) return EXIT_SUCCESS;
    // Installed before anything can be seen from outside (the socket): a
    // signal that comes early waits in its pipe until the event loop runs.
    AppDelegate* running = nullptr;
    CloseOnTerminationSignals(&application, [&running] {
        // Nobody may be there to answer (a logout, a service manager): a
        // question the close would ask (preferences that cannot be written)
        // must not hold the process; it gets its default answer.
        SetCustomAlertsClosing(true);
        MainWindow* window = running ? running->window() : nullptr;
        if (window && window->isVisible()) {
            window->close();
        } else if (running) {
            running->windowWillClose();
        } else {
            QCoreApplication::quit();
        }
    });
    // Listening at once: a later start's files wait in the socket until the
    // event loop runs.
    instance.listen();

    AppDelegate delegate;
    running = &delegate;
    // Every event loop ends, also those of a question, a sheet or a drag
    // under which the close ran; quit() would first ask each window to
    // close, and one that refuses (a question) would keep the process.
    QObject::connect(&delegate, &AppDelegate::mainWindowDidClose, &application, [] { QCoreApplication::exit(0); });
    delegate.applicationDidFinishLaunching();
    delegate.window()->show();
    if (!files.empty()) delegate.applicationOpenFiles(files);
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
