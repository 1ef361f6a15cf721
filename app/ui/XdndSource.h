#pragma once
// What Qt's X drag source leaves to us when rows are dragged out:
// - the types offered to each target: file managers that take direct save
//   but rank the URI list above it only use direct save when it is offered
//   alone;
// - the target's verdict on the drop (XdndFinished), which Qt keeps to itself;
// - answering a request for the file list later, when the files are ready,
//   instead of inside the request (where the window would have to wait in a
//   nested event loop while the target's own time-out runs).

#include <QByteArray>

#include <vector>

#include <xcb/xcb.h>

namespace xdnd {

// The class (second part of WM_CLASS) of the client window at the root
// position, and the top-level window that holds it; empty when none.
// Windows in `passOver` (the drag's icon under the pointer) are not looked at.
struct WindowAt {
    xcb_window_t topLevel = XCB_WINDOW_NONE;
    QByteArray windowClass;
};
WindowAt ClientWindowAt(xcb_connection_t* connection, xcb_window_t root, int rootX, int rootY,
                        const std::vector<xcb_window_t>& passOver);
// The top-most viewable top-level window at the root position.
xcb_window_t TopLevelAt(xcb_connection_t* connection, xcb_window_t root, int rootX, int rootY,
                        const std::vector<xcb_window_t>& passOver);

// Targets that speak direct save but take the URI list whenever it is offered
// (they look for their own first type among the offered ones): Thunar and
// PCManFM. Offered both, they would never save directly.
bool TakesDirectSaveOnlyAlone(const QByteArray& windowClass);

// The types listed in XdndTypeList of `window` (the drag's source window).
std::vector<xcb_atom_t> OfferedTypes(xcb_connection_t* connection, xcb_window_t window);
void SetOfferedTypes(xcb_connection_t* connection, xcb_window_t window, const std::vector<xcb_atom_t>& types);

// Answers a selection request with `data` in the requestor's property, typed
// as the request's target; refuses it (no property) when `data` is null or
// too long for one request.
void AnswerSelectionRequest(xcb_connection_t* connection, const xcb_selection_request_event_t& request,
                            const QByteArray* data);

}  // namespace xdnd
