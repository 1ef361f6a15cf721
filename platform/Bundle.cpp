#include "platform/Bundle.h"

#include <cstdlib>
#include <system_error>

namespace plat {

namespace fs = std::filesystem;

fs::path Bundle::executablePath() {
    std::error_code ec;
    fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : path;
}

std::vector<fs::path> Bundle::resourcesCandidates() {
    if (const char* overridden = std::getenv("VANTRELL_RESOURCES"); overridden && *overridden) {
        return {fs::path(overridden)};
    }
    const fs::path executable = executablePath();
    if (executable.empty()) return {};
    const fs::path folder = executable.parent_path();
    return {folder / "resources", folder.parent_path() / "resources", folder.parent_path() / "share" / "vantrell"};
}

fs::path Bundle::resourcesDirectory() {
    if (const char* overridden = std::getenv("VANTRELL_RESOURCES"); overridden && *overridden) {
        return fs::path(overridden);
    }
    std::error_code ec;
    for (const fs::path& candidate : resourcesCandidates()) {
        if (fs::is_directory(candidate, ec)) return candidate;
    }
    return {};
}

fs::path Bundle::pathForResource(std::string_view name, std::string_view type) {
    if (name.empty() || name.find('/') != std::string_view::npos) return {};
    const fs::path folder = resourcesDirectory();
    if (folder.empty()) return {};
    std::string fileName(name);
    if (!type.empty()) {
        fileName += '.';
        fileName += type;
    }
    const fs::path path = folder / fileName;
    std::error_code ec;
    return fs::exists(path, ec) ? path : fs::path();
}

}  // namespace plat
