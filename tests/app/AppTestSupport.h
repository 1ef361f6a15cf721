#pragma once

#include <QApplication>

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
