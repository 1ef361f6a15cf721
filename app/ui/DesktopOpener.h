#pragma once

#include <QUrl>

#include <functional>

class QObject;

// Opens a document with the desktop's application for its type (xdg-open)
// and tells `finished` on `context`'s thread whether anything opened it:
// false when xdg-open is missing, killed, or ends with a failure (3: no
// application for the type). xdg-open may wait for the application it
// started, so the answer can come late; xdg-open is never stopped, so the
// document stays open when Vantrell quits. Nothing is told once `context`
// is gone.
void OpenWithDesktopApplication(const QUrl& url, QObject* context, std::function<void(bool opened)> finished);
