#include "app/ui/DirectSave.h"

#include "app/ui/X11Connection.h"

#include <QGuiApplication>
#include <QUrl>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace xds {

namespace {

// Longer answers are not a path a target means.
constexpr std::uint32_t kMaxURIWords = 4096;

}  // namespace

xcb_window_t SourceWindow(xcb_connection_t* connection) {
    const xcb_atom_t selection = X11Atom(connection, "XdndSelection");
    if (selection == XCB_ATOM_NONE) return XCB_WINDOW_NONE;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr),
        &std::free);
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

bool Available() { return X11Connection() != nullptr; }

bool PublishFileName(const QByteArray& name) {
    xcb_connection_t* connection = X11Connection();
    if (!connection) return false;
    const xcb_window_t window = SourceWindow(connection);
    const xcb_atom_t property = X11Atom(connection, kType);
    const xcb_atom_t type = X11Atom(connection, "text/plain");
    if (window == XCB_WINDOW_NONE || property == XCB_ATOM_NONE || type == XCB_ATOM_NONE) return false;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, 8, std::uint32_t(name.size()),
                        name.constData());
    xcb_flush(connection);
    return true;
}

QByteArray TargetURI() {
    xcb_connection_t* connection = X11Connection();
    if (!connection) return {};
    const xcb_window_t window = SourceWindow(connection);
    const xcb_atom_t property = X11Atom(connection, kType);
    if (window == XCB_WINDOW_NONE || property == XCB_ATOM_NONE) return {};
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxURIWords);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    if (!reply || reply->format != 8 || reply->bytes_after != 0) return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::optional<std::filesystem::path> FolderOfURI(const QByteArray& uri, const QByteArray& hostName) {
    // Some targets end the property with a NUL or a line break.
    QByteArray text = uri;
    while (!text.isEmpty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r')) text.chop(1);
    const QUrl url = QUrl::fromEncoded(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("file") || url.hasQuery() || url.hasFragment()) {
        return std::nullopt;
    }
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost") &&
        host.compare(QString::fromUtf8(hostName), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    // The folder is what the target means; the name is ours to choose.
    const std::filesystem::path file(path.toStdString());
    if (!file.is_absolute() || path.contains('\0')) return std::nullopt;
    const std::filesystem::path folder = file.parent_path().lexically_normal();
    if (folder.empty()) return std::nullopt;
    return folder;
}

QByteArray LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return QByteArray(name);
}

}  // namespace xds
