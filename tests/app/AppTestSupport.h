#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QThread>

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
