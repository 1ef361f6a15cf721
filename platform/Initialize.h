#pragma once

namespace plat {

// One-time global set-up of the libraries under the platform layer (vips,
// fontconfig, exiv2). Safe to call from any thread, any number of times.
void Initialize();

}  // namespace plat
