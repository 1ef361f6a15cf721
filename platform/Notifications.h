#pragma once

#include <string_view>

namespace plat {

// User notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus).
class Notifications {
public:
    // Shows a notification with a title and a body text. Returns whether the
    // service accepted it. Without a session bus, or when the bus or the
    // service does not answer within a short time, nothing happens and the
    // result is false. Safe from any thread.
    static bool post(std::string_view title, std::string_view body);
};

}  // namespace plat
