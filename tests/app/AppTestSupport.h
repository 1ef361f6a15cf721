#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QPalette>
#include <QThread>

#include "app/model/StringTable.h"

#include <cstdlib>
#include <filesystem>

// One application object for the whole test process, made on first use on
// the main (test) thread. It lives until the process ends.
// Widget tests run without a display unless told otherwise.
inline QApplication& TestApplication() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

// Serves events until the condition holds (a bound only against hangs).
template <typename Condition>
bool WaitUntil(Condition condition) {
    for (int i = 0; i < 60000 && !condition(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return condition();
}

// A dark desktop palette: light text on dark windows and fields.
inline QPalette DarkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::AlternateBase, QColor(40, 40, 42));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(55, 55, 58));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        dark.setColor(QPalette::Disabled, role, QColor(130, 130, 130));
    }
    return dark;
}

// The application's own texts from the resources the tests run with (other
// tests may have put a few of their own in the table).
inline bool LoadApplicationStringTable() {
    const char* resources = std::getenv("VANTRELL_RESOURCES");
    return resources && StringTable::load(std::filesystem::path(resources) / "Localizable.plist");
}
