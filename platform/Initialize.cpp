#include "platform/Initialize.h"

#include <mutex>

#include <vips/vips8>

namespace plat {

void Initialize() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Only image loaders that users expect; untrusted loaders stay off
        // unless a caller names them explicitly.
        if (VIPS_INIT("vantrell") != 0) {
            vips_error_clear();
        }
        vips_leak_set(0);
    });
}

}  // namespace plat
