#include "platform/Initialize.h"

#include "platform/FileManager.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include <dlfcn.h>
#include <malloc.h>

#include <gmodule.h>
#include <vips/vips8>

namespace plat {

namespace {

namespace fs = std::filesystem;

// libvips loads every module of its module folder when it starts: HEIF,
// JPEG XL, ImageMagick, PDF and whole-slide loaders with their libraries,
// some 14 ms of every start, which a batch of JPEG photos never calls on.
// vips is pointed (through VIPSHOME) at a home without modules, and
// RequireVipsModule loads each one the first time a file needs it. A
// VIPSHOME the user set is left alone: vips loads what it finds there.
std::string& systemModuleFolder() {
    static std::string folder;
    return folder;
}

void deferVipsModules(const fs::path& privateFolder) {
    if (privateFolder.empty() || std::getenv("VIPSHOME")) return;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&vips_init), &info) == 0 || !info.dli_fname) return;
    const fs::path modules = fs::path(info.dli_fname).parent_path() /
                             ("vips-modules-" + std::to_string(VIPS_MAJOR_VERSION) + "." +
                              std::to_string(VIPS_MINOR_VERSION));
    std::error_code ec;
    if (!fs::is_directory(modules, ec)) return;
    systemModuleFolder() = modules.string();
    // Never made: nothing under it for vips to load.
    ::setenv("VIPSHOME", (privateFolder / "vips-home-without-modules").c_str(), 1);
}

}  // namespace

void Initialize() {
    static std::once_flag once;
    std::call_once(once, [] {
        // libvips puts the disc copies of large decodes (hundreds of MB of
        // the user's pictures) under $TMPDIR: make that the private folder.
        // Tools started later inherit it, which keeps their files private too.
        const std::filesystem::path folder = FileManager::temporaryDirectory();
        if (!folder.empty()) ::setenv("TMPDIR", folder.c_str(), 1);
        deferVipsModules(folder);
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
        // Below that, two arenas are shared by all threads, and each keeps up
        // to 16 MiB free at its top: otherwise every file's region buffers
        // were handed back and faulted in afresh (a third more page faults
        // and a few ms a photo), while the two arenas bound what is kept.
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
        mallopt(M_ARENA_MAX, 2);
        mallopt(M_TRIM_THRESHOLD, 16 << 20);
        // A file-size limit (ulimit -f) then fails the write with EFBIG, as a
        // full disc does, instead of ending the process.
        std::signal(SIGXFSZ, SIG_IGN);
    });
}

void RequireVipsModule(const char* module, const char* operation) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const std::string& folder = systemModuleFolder();
    if (folder.empty() || vips_type_find("VipsOperation", operation) != 0) return;
    const std::string path = folder + "/vips-" + module + ".so";
    // The module registers its operations as it opens; it stays for the
    // life of the process, as the ones vips loads itself do. One that cannot
    // be opened leaves its operations missing: their calls then fail cleanly.
    if (GModule* opened = g_module_open(path.c_str(), G_MODULE_BIND_LAZY)) {
        g_module_make_resident(opened);
    }
}

}  // namespace plat
