#pragma once
// The readers behind PropertyList::fromData. Our own rather than libplist's:
// libplist recurses once per nesting level and expands every shared object
// of a binary list without bound, so a small hostile file could overflow the
// stack or take minutes and gigabytes. These readers count what they really
// nest and build: depth, values and bytes, each reference as often as it is
// followed.

#include "platform/PropertyList.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace plat::plist_reader {

// Property-list dates count from 2001-01-01 00:00:00 UTC.
inline constexpr std::int64_t kReferenceDateOffset = 978307200;

std::optional<PlistValue> readXml(std::string_view text, const PlistLimits& limits);
std::optional<PlistValue> readBinary(std::span<const std::uint8_t> data, const PlistLimits& limits);

}  // namespace plat::plist_reader
