#include "app/ui/XdndSource.h"

#include "app/ui/X11Connection.h"

#include <QList>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace xdnd {

namespace {

template <typename T>
std::unique_ptr<T, decltype(&std::free)> Own(T* reply) {
    return {reply, &std::free};
}

// Window trees are shallow (root, frame, client and a few wrappers).
constexpr int kMaxDepth = 8;

xcb_window_t ChildAt(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window, int rootX, int rootY) {
    const auto reply = Own(xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, root, window, std::int16_t(rootX), std::int16_t(rootY)),
        nullptr));
    return reply ? reply->child : xcb_window_t(XCB_WINDOW_NONE);
}

QByteArray WindowClass(xcb_connection_t* connection, xcb_window_t window) {
    const auto reply = Own(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr));
    if (!reply || reply->format != 8) return {};
    // "instance\0class\0"
    const QByteArray value(static_cast<const char*>(xcb_get_property_value(reply.get())),
                           xcb_get_property_value_length(reply.get()));
    const QList<QByteArray> parts = value.split('\0');
    return parts.size() >= 2 ? parts[1] : QByteArray();
}

}  // namespace

xcb_window_t TopLevelAt(xcb_connection_t* connection, xcb_window_t root, int rootX, int rootY,
                        const std::vector<xcb_window_t>& passOver) {
    const auto tree = Own(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree) return XCB_WINDOW_NONE;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    // All questions first, then the answers: two round trips however many
    // windows there are.
    std::vector<xcb_get_window_attributes_cookie_t> attributes(count);
    std::vector<xcb_get_geometry_cookie_t> geometries(count);
    for (int i = 0; i < count; ++i) {
        attributes[i] = xcb_get_window_attributes(connection, children[i]);
        geometries[i] = xcb_get_geometry(connection, children[i]);
    }
    xcb_window_t found = XCB_WINDOW_NONE;
    // Children come bottom to top.
    for (int i = count - 1; i >= 0; --i) {
        const auto attribute = Own(xcb_get_window_attributes_reply(connection, attributes[i], nullptr));
        const auto geometry = Own(xcb_get_geometry_reply(connection, geometries[i], nullptr));
        if (found != XCB_WINDOW_NONE || !attribute || !geometry) continue;
        if (attribute->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        if (std::find(passOver.begin(), passOver.end(), children[i]) != passOver.end()) continue;
        const int border = geometry->border_width;
        if (rootX >= geometry->x && rootY >= geometry->y && rootX < geometry->x + geometry->width + 2 * border &&
            rootY < geometry->y + geometry->height + 2 * border) {
            found = children[i];
        }
    }
    return found;
}

WindowAt ClientWindowAt(xcb_connection_t* connection, xcb_window_t root, int rootX, int rootY,
                        const std::vector<xcb_window_t>& passOver) {
    WindowAt found;
    found.topLevel = TopLevelAt(connection, root, rootX, rootY, passOver);
    xcb_window_t window = found.topLevel;
    for (int depth = 0; window != XCB_WINDOW_NONE && depth < kMaxDepth; ++depth) {
        found.windowClass = WindowClass(connection, window);
        if (!found.windowClass.isEmpty()) break;
        window = ChildAt(connection, root, window, rootX, rootY);
    }
    return found;
}

bool TakesDirectSaveOnlyAlone(const QByteArray& windowClass) {
    const QByteArray name = windowClass.toLower();
    return name == "thunar" || name == "pcmanfm";
}

std::vector<xcb_atom_t> OfferedTypes(xcb_connection_t* connection, xcb_window_t window) {
    const xcb_atom_t list = X11Atom(connection, "XdndTypeList");
    if (list == XCB_ATOM_NONE) return {};
    const auto reply = Own(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, list, XCB_ATOM_ATOM, 0, 256), nullptr));
    if (!reply || reply->format != 32) return {};
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return {atoms, atoms + xcb_get_property_value_length(reply.get()) / 4};
}

void SetOfferedTypes(xcb_connection_t* connection, xcb_window_t window, const std::vector<xcb_atom_t>& types) {
    const xcb_atom_t list = X11Atom(connection, "XdndTypeList");
    if (list == XCB_ATOM_NONE) return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, list, XCB_ATOM_ATOM, 32,
                        std::uint32_t(types.size()), types.data());
    xcb_flush(connection);
}

void AnswerSelectionRequest(xcb_connection_t* connection, const xcb_selection_request_event_t& request,
                            const QByteArray* data) {
    // Old clients name no property: the target's name serves.
    xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
    // One request carries the list; a longer one is refused rather than cut.
    const std::uint64_t limit = std::uint64_t(xcb_get_maximum_request_length(connection)) * 4 - 64;
    if (data && std::uint64_t(data->size()) <= limit) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor, property, request.target, 8,
                            std::uint32_t(data->size()), data->constData());
    } else {
        property = XCB_ATOM_NONE;
    }
    xcb_selection_notify_event_t notify = {};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    xcb_send_event(connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
    xcb_flush(connection);
}

}  // namespace xdnd
