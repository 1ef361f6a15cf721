#include "platform/Notifications.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

TEST(Notifications, SilentWithoutASessionBus) {
    ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_FALSE(plat::Notifications::post("Done", "3 files converted"));
}

TEST(Notifications, SilentWithAnUnreachableOrInvalidBus) {
    ScratchFolder folder;
    const std::string missing = "unix:path=" + (folder / "no-bus").string();
    for (const std::string& address : {missing, std::string("not an address"), std::string("tcp:host=")}) {
        ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", address.c_str());
        EXPECT_FALSE(plat::Notifications::post("Done", "<b>& text</b>")) << address;
    }
}

TEST(Notifications, GivesUpOnABusThatNeverAnswers) {
    // A socket that accepts connections but never speaks.
    ScratchFolder folder;
    const std::string path = (folder / "silent").string();
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    const std::string bus = "unix:path=" + path;
    ScopedEnvironment env("DBUS_SESSION_BUS_ADDRESS", bus.c_str());
    EXPECT_FALSE(plat::Notifications::post("Done", "never delivered"));
    ::close(listener);
}

#include <gio/gio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// A private bus (dbus-daemon) with a small notification service on it.
class FakeNotificationService {
public:
    explicit FakeNotificationService(const std::filesystem::path& folder) {
        socketPath_ = (folder / "bus").string();
        address_ = "unix:path=" + socketPath_;
        const std::string addressArg = "--address=" + address_;
        const char* argv[] = {"dbus-daemon", "--session", "--nofork", addressArg.c_str(), nullptr};
        if (::posix_spawnp(&daemon_, "dbus-daemon", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
            daemon_ = -1;
            return;
        }
        // Wait for the socket, within bounds, by polling the daemon's start.
        for (int i = 0; i < 500 && !std::filesystem::exists(socketPath_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!std::filesystem::exists(socketPath_)) return;

        context_ = g_main_context_new();
        loop_ = g_main_loop_new(context_, FALSE);
        g_main_context_push_thread_default(context_);
        // The socket file appears when the daemon binds it, a moment before
        // it listens: a connection refused then is retried, within bounds.
        GError* error = nullptr;
        for (int i = 0; i < 500 && !connection_; ++i) {
            if (error) {
                g_error_free(error);
                error = nullptr;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            connection_ = g_dbus_connection_new_for_address_sync(
                address_.c_str(),
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
        }
        if (connection_) {
            static const char* xml =
                "<node><interface name='org.freedesktop.Notifications'><method name='Notify'>"
                "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
                "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
                "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
                "<arg type='u' direction='out'/></method></interface></node>";
            GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(xml, nullptr);
            static const GDBusInterfaceVTable vtable = {&FakeNotificationService::handle, nullptr, nullptr, {}};
            g_dbus_connection_register_object(connection_, "/org/freedesktop/Notifications", info->interfaces[0],
                                              &vtable, this, nullptr, nullptr);
            g_dbus_node_info_unref(info);
            GVariant* reply = g_dbus_connection_call_sync(
                connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.Notifications", 4u), nullptr,
                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            if (reply) {
                g_variant_unref(reply);
                ready_ = true;
            }
        }
        if (error) g_error_free(error);
        g_main_context_pop_thread_default(context_);
        thread_ = std::thread([this] {
            g_main_context_push_thread_default(context_);
            g_main_loop_run(loop_);
            g_main_context_pop_thread_default(context_);
        });
    }

    ~FakeNotificationService() {
        if (loop_) {
            // Quit from inside the loop: a quit issued before the thread has
            // entered g_main_loop_run would be forgotten and the run would
            // never return.
            GSource* quit = g_idle_source_new();
            g_source_set_callback(
                quit, [](gpointer loop) -> gboolean {
                    g_main_loop_quit(static_cast<GMainLoop*>(loop));
                    return G_SOURCE_REMOVE;
                },
                loop_, nullptr);
            g_source_attach(quit, context_);
            g_source_unref(quit);
        }
        if (thread_.joinable()) thread_.join();
        if (connection_) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
        if (loop_) g_main_loop_unref(loop_);
        if (context_) g_main_context_unref(context_);
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            ::waitpid(daemon_, nullptr, 0);
        }
    }

    bool ready() const { return ready_; }
    const std::string& address() const { return address_; }
    std::vector<std::pair<std::string, std::string>> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // The icon and the "desktop-entry" hint of each notification received.
    std::vector<std::pair<std::string, std::string>> sources() {
        std::lock_guard lock(mutex_);
        return sources_;
    }

private:
    static void handle(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
        auto* service = static_cast<FakeNotificationService*>(self);
        const gchar* summary = nullptr;
        const gchar* body = nullptr;
        g_variant_get_child(parameters, 3, "&s", &summary);
        g_variant_get_child(parameters, 4, "&s", &body);
        const gchar* icon = nullptr;
        g_variant_get_child(parameters, 2, "&s", &icon);
        GVariant* hints = g_variant_get_child_value(parameters, 6);
        const gchar* entry = nullptr;
        g_variant_lookup(hints, "desktop-entry", "&s", &entry);
        {
            std::lock_guard lock(service->mutex_);
            service->received_.emplace_back(summary ? summary : "", body ? body : "");
            service->sources_.emplace_back(icon ? icon : "", entry ? entry : "");
        }
        g_variant_unref(hints);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 7u));
    }

    std::string socketPath_;
    std::string address_;
    pid_t daemon_ = -1;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    GDBusConnection* connection_ = nullptr;
    std::thread thread_;
    bool ready_ = false;
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> received_;
    std::vector<std::pair<std::string, std::string>> sources_;
};

bool haveDbusDaemon() {
    for (const char* dir : {"/usr/bin", "/bin", "/usr/local/bin"}) {
        if (::access((std::string(dir) + "/dbus-daemon").c_str(), X_OK) == 0) return true;
    }
    return false;
}

}  // namespace

TEST(Notifications, DeliveredToTheNotificationService) {
    if (!haveDbusDaemon()) GTEST_SKIP() << "dbus-daemon is not installed";
    ScratchFolder folder;
    FakeNotificationService service(folder.path());
    ASSERT_TRUE(service.ready());
    ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", service.address().c_str());
    EXPECT_TRUE(plat::Notifications::post("Conversion finished", "12 files <done> & saved"));
    const auto received = service.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].first, "Conversion finished");
    EXPECT_EQ(received[0].second, "12 files &lt;done&gt; &amp; saved");
    // The desktop ties it to the launcher, and shows the application's icon.
    const auto sources = service.sources();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].second, "org.vantrell.Vantrell");
    const std::string resources = std::getenv("VANTRELL_RESOURCES") ? std::getenv("VANTRELL_RESOURCES") : "";
    ASSERT_FALSE(resources.empty());
    EXPECT_EQ(sources[0].first, "file://" + resources + "/org.vantrell.Vantrell.svg");
}
