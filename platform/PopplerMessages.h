#pragma once

#include <cstdint>

namespace plat {

// Broken or protected files are expected input: poppler's messages about
// them would only fill the terminal. Safe to call from any thread, any
// number of times.
void SilencePopplerMessages();

// The errors (not warnings) poppler has reported on the calling thread since
// SilencePopplerMessages was first called: a decoder run on its own tells
// of damaged data only through them.
std::uint64_t PopplerErrorsOnThisThread();

}  // namespace plat
