#include "platform/Initialize.h"

#include "platform/FileManager.h"

#include <csignal>
#include <cstdlib>
#include <mutex>

#include <malloc.h>

#include <vips/vips8>

namespace plat {

void Initialize() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Loaders are never picked by vips's own sniffing: ImageSource chooses
        // one by signature and calls it by name, so CSV, matrix and similar
        // loaders can never take a user's file.
        if (VIPS_INIT("vantrell") != 0) {
            vips_error_clear();
        }
        vips_leak_set(0);
        // Every conversion reads a different file once: vips's operation
        // cache would only keep decoded images alive, and could hand back a
        // stale one when a file changes under the same name.
        vips_cache_set_max(0);
        // Image work allocates many large, short-lived buffers on many
        // threads. Left to itself, glibc serves them from per-thread arenas
        // that keep the freed memory: peak memory then grows with the thread
        // count. From 1 MiB up they come from and go back to the system.
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
        // A file-size limit (ulimit -f) then fails the write with EFBIG, as a
        // full disc does, instead of ending the process.
        std::signal(SIGXFSZ, SIG_IGN);
        // libvips puts the disc copies of large decodes (hundreds of MB of
        // the user's pictures) under $TMPDIR: make that the private folder.
        // Tools started later inherit it, which keeps their files private too.
        const std::filesystem::path folder = FileManager::temporaryDirectory();
        if (!folder.empty()) ::setenv("TMPDIR", folder.c_str(), 1);
    });
}

}  // namespace plat
