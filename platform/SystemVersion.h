#pragma once

#include <compare>
#include <optional>

namespace plat {

// The version of the system the application believes it runs on. Linux has
// no such number to match the design's version tests, so a recent one is
// emulated and every newer code path runs; tests may set another.
struct SystemVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;

    friend auto operator<=>(const SystemVersion&, const SystemVersion&) = default;

    static constexpr SystemVersion emulated() { return {14, 0, 0}; }
    // The emulated version, or the one set with setOverride.
    static SystemVersion current();
    // Replaces the running version (std::nullopt restores the default).
    static void setOverride(std::optional<SystemVersion> version);
};

}  // namespace plat
