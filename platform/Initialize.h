#pragma once

namespace plat {

// One-time global set-up of the libraries under the platform layer (vips,
// fontconfig, exiv2). Safe to call from any thread, any number of times.
void Initialize();

// Loads the libvips module `module` ("heif", "jxl", "magick", "poppler")
// unless `operation`, one of the operations it brings, is there already.
// Call before the first use of any of the module's operations; safe from
// any thread.
void RequireVipsModule(const char* module, const char* operation);

}  // namespace plat
