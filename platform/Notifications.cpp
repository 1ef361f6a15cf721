#include "platform/Notifications.h"

#include "platform/Bundle.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include <gio/gio.h>
#include <sys/stat.h>

namespace plat {

namespace {

// Connecting, authenticating and the call together get this long at most.
constexpr auto kDeadline = std::chrono::milliseconds(2000);

std::string sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
    // The systemd user bus lives at a fixed place. Never autolaunch a bus.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        const std::string socket = std::string(runtime) + "/bus";
        struct stat st{};
        if (::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + socket;
    }
    return {};
}

// Cancels `cancellable` when the deadline passes, unless stopped first.
class Watchdog {
public:
    explicit Watchdog(GCancellable* cancellable)
        : thread_([this, cancellable] {
              std::unique_lock lock(mutex_);
              if (!condition_.wait_for(lock, kDeadline, [this] { return stopped_; })) {
                  g_cancellable_cancel(cancellable);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        condition_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool stopped_ = false;
    std::thread thread_;
};

}  // namespace

std::string Notifications::applicationIcon() {
    const std::string name(Bundle::identifier);
    // Run from the build tree the icon is not in the theme: the resources' copy is.
    const std::filesystem::path icon = Bundle::pathForResource(name, "svg");
    if (icon.empty() || !icon.is_absolute()) return name;
    gchar* uri = g_filename_to_uri(icon.c_str(), nullptr, nullptr);
    if (!uri) return name;
    std::string result(uri);
    g_free(uri);
    return result;
}

bool Notifications::post(std::string_view title, std::string_view body) {
    const std::string address = sessionBusAddress();
    if (address.empty() || !g_dbus_is_supported_address(address.c_str(), nullptr)) return false;

    GCancellable* cancellable = g_cancellable_new();
    bool posted = false;
    {
        Watchdog watchdog(cancellable);
        GError* error = nullptr;
        // A private connection of our own: it is closed again below and never
        // shares state with other users of the bus in this process.
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancellable, &error);
        if (connection) {
            g_dbus_connection_set_exit_on_close(connection, FALSE);
            const std::string titleText(title);
            // Servers may read the body as markup; send it as plain text.
            gchar* bodyMarkup = g_markup_escape_text(body.data(), static_cast<gssize>(body.size()));
            GVariantBuilder actions;
            g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
            GVariantBuilder hints;
            g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string("message-new-instant"));
            // The desktop entry's name without ".desktop", as the notification service expects.
            const std::string entry(Bundle::identifier);
            g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(entry.c_str()));
            const std::string icon = applicationIcon();
            GVariant* parameters = g_variant_new("(susssasa{sv}i)", "Vantrell", 0u, icon.c_str(), titleText.c_str(),
                                                 bodyMarkup, &actions, &hints, -1);
            g_free(bodyMarkup);
            GVariant* reply = g_dbus_connection_call_sync(
                connection, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                "org.freedesktop.Notifications", "Notify", parameters, G_VARIANT_TYPE("(u)"),
                G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(kDeadline.count()), cancellable, &error);
            if (reply) {
                posted = true;
                g_variant_unref(reply);
            }
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        if (error) g_error_free(error);
    }
    g_object_unref(cancellable);
    return posted;
}

}  // namespace plat
