#pragma once

#include <string>
#include <string_view>

namespace plat {

// User notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus).
class Notifications {
public:
    // Shows a notification with a title and a body text, the application's
    // icon and its desktop entry (so the desktop ties it to the launcher).
    // Returns whether the service accepted it. Without a session bus, or when the bus or the
    // service does not answer within a short time, nothing happens and the
    // result is false. Safe from any thread.
    static bool post(std::string_view title, std::string_view body);

    // The icon a notification names: the file URI of the application icon
    // among the resources, else its name in the icon theme.
    static std::string applicationIcon();
};

}  // namespace plat
