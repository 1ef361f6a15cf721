#pragma once

namespace plat {

// Broken or protected files are expected input: poppler's messages about
// them would only fill the terminal. Safe to call from any thread, any
// number of times.
void SilencePopplerMessages();

}  // namespace plat
