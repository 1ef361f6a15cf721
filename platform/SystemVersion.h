#pragma once

#include <compare>
#include <optional>

namespace plat {

// The version that CompareSystemVersion and the other version tests compare
// against. Linux distributions number themselves in their own ways, so
// current() answers a fixed version, emulated(), at or above every version
// those tests ask for: every version-dependent path takes its newest branch.
// Tests set another with setOverride to reach the older branches.
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
