#pragma once
// While a window-modal dialog is up, Qt drops the window manager's request
// to close the window under it: the close box does nothing. The progress
// sheet of a batch is such a dialog, yet closing the window during a batch
// must end the application as at any other time (the batch stops after its
// current file). This filter sees the X11 close request (the WM_DELETE_WINDOW
// message) before Qt does and, when `mayClose` allows it, closes the window
// from the event loop as QWidget::close does, which reaches the same close
// path as the Quit item and a termination signal.
//
// Other platforms deliver the request only through Qt: there the sheet's
// Cancel, Escape and the Quit shortcut (which the sheet carries) remain.

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class CloseRequestFilter : public QAbstractNativeEventFilter {
public:
    // `protocolsAtom` and `deleteWindowAtom` are the X11 atoms of
    // WM_PROTOCOLS and WM_DELETE_WINDOW.
    CloseRequestFilter(QWidget* window, std::function<bool()> mayClose, std::uint32_t protocolsAtom,
                       std::uint32_t deleteWindowAtom);

    // A filter installed on the application when it runs on X11; none
    // elsewhere. The filter leaves the application when it is destroyed.
    static std::unique_ptr<CloseRequestFilter> installForX11(QWidget* window, std::function<bool()> mayClose);

    // Whether an xcb event is the close request for the X window `window`.
    static bool IsCloseRequest(const void* xcbEvent, std::uint32_t window, std::uint32_t protocolsAtom,
                               std::uint32_t deleteWindowAtom);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QPointer<QWidget> window_;
    std::function<bool()> mayClose_;
    std::uint32_t protocolsAtom_;
    std::uint32_t deleteWindowAtom_;
};
