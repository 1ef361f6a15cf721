#include "app/ui/CloseRequestFilter.h"

#include "app/ui/X11Connection.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>


CloseRequestFilter::CloseRequestFilter(QWidget* window, std::function<bool()> mayClose, std::uint32_t protocolsAtom,
                                       std::uint32_t deleteWindowAtom)
    : window_(window), mayClose_(std::move(mayClose)), protocolsAtom_(protocolsAtom),
      deleteWindowAtom_(deleteWindowAtom) {}

std::unique_ptr<CloseRequestFilter> CloseRequestFilter::installForX11(QWidget* window,
                                                                      std::function<bool()> mayClose) {
    xcb_connection_t* connection = X11Connection();
    if (!connection) return nullptr;
    const std::uint32_t protocols = X11Atom(connection, "WM_PROTOCOLS");
    const std::uint32_t deleteWindow = X11Atom(connection, "WM_DELETE_WINDOW");
    if (protocols == std::uint32_t(XCB_ATOM_NONE) || deleteWindow == std::uint32_t(XCB_ATOM_NONE)) return nullptr;
    auto filter = std::make_unique<CloseRequestFilter>(window, std::move(mayClose), protocols, deleteWindow);
    QCoreApplication::instance()->installNativeEventFilter(filter.get());
    return filter;
}

bool CloseRequestFilter::IsCloseRequest(const void* xcbEvent, std::uint32_t window, std::uint32_t protocolsAtom,
                                        std::uint32_t deleteWindowAtom) {
    const auto* event = static_cast<const xcb_generic_event_t*>(xcbEvent);
    // The high bit marks an event sent by another client (the window manager).
    if (!event || window == 0 || (event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    const auto* message = static_cast<const xcb_client_message_event_t*>(xcbEvent);
    return message->window == window && message->format == 32 && message->type == protocolsAtom &&
           message->data.data32[0] == deleteWindowAtom;
}

bool CloseRequestFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !window_) return false;
    if (!IsCloseRequest(message, std::uint32_t(window_->internalWinId()), protocolsAtom_, deleteWindowAtom_)) {
        return false;
    }
    // Any other time Qt handles the request itself.
    if (!mayClose_ || !mayClose_()) return false;
    // Closed from the event loop, not from inside the platform's event
    // handling: closing waits for the batch, serving events meanwhile.
    QMetaObject::invokeMethod(window_, [window = window_] {
        if (window) window->close();
    }, Qt::QueuedConnection);
    return true;
}
