#pragma once
// A growable memory file that libtiff reads and writes, with libtiff's
// messages kept off the console.

#include <tiffio.h>

#include <cstdint>
#include <vector>

namespace plat {

struct TiffMemoryFile {
    std::vector<std::uint8_t> bytes;
    toff_t position = 0;
};

// Failures surface as results; libtiff's messages for these files stay off
// the console without touching the process-wide handlers.
struct QuietTiffOptions {
    TIFFOpenOptions* options = nullptr;
    QuietTiffOptions();
    ~QuietTiffOptions();
    QuietTiffOptions(const QuietTiffOptions&) = delete;
    QuietTiffOptions& operator=(const QuietTiffOptions&) = delete;
};

// Opens the memory file with libtiff ("r" or "w"); null when libtiff refuses.
// The file must outlive the handle.
TIFF* OpenTiffMemoryFile(TiffMemoryFile* file, const char* mode);

}  // namespace plat
