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
