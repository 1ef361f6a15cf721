#include "platform/SystemVersion.h"

#include <mutex>

namespace plat {

namespace {
std::mutex versionMutex;
std::optional<SystemVersion> versionOverride;
}  // namespace

SystemVersion SystemVersion::current() {
    std::lock_guard lock(versionMutex);
    return versionOverride.value_or(emulated());
}

void SystemVersion::setOverride(std::optional<SystemVersion> version) {
    std::lock_guard lock(versionMutex);
    versionOverride = version;
}

}  // namespace plat
