#pragma once
// Fixtures for the image list tests: photo-like files made in code, and
// waiting for work handed to the main thread.

// The vips (glib) headers come before Qt's, whose "signals" macro they use as a name.
#include "engine/ConverterTestSupport.h"
#include "AppTestSupport.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>
#include <QThread>

#include <chrono>
#include <functional>

namespace listtest {

using convtest::RGBA;
using convtest::ScratchDir;

// Serves the main thread's queue until `done` holds (or a generous limit
// passes, which the caller's assertion then reports).
inline bool WaitFor(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return true;
}

// A smooth gradient with a dark mark in the top left corner, so turned and
// mirrored copies tell apart.
inline plat::ImageRef PhotoImage(int width, int height, bool alpha = false) {
    return convtest::MakeImage(
        width, height,
        [&](int x, int y) -> RGBA {
            if (x < width / 4 && y < height / 4) return {20, 20, 160, 255};
            return {std::uint8_t(60 + 160 * x / std::max(1, width)), std::uint8_t(90 + 120 * y / std::max(1, height)),
                    120, std::uint8_t(alpha ? 40 + 200 * x / std::max(1, width) : 255)};
        },
        alpha);
}

inline std::filesystem::path WritePhoto(const std::filesystem::path& path, int width, int height,
                                        const std::string& uti = "public.jpeg", plat::PropertyDict properties = {}) {
    EXPECT_TRUE(convtest::WriteImage(path, PhotoImage(width, height), uti, properties)) << path;
    return path;
}

// Enters, moves over and drops on `target` at `at`, as a drag from another
// application does; `atDrop` runs just before the drop. True if the enter
// was accepted.
inline bool DragOnto(QWidget* target, QMimeData* data, QPoint at, const std::function<void()>& atDrop = {}) {
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    if (atDrop) atDrop();
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted();
}

}  // namespace listtest
