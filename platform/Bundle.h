#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace plat {

// The application's resources: the folder named by VANTRELL_RESOURCES when
// set, else "resources" beside the executable, else "../resources" from it,
// else "../share/vantrell" from it (an installed executable in bin/).
class Bundle {
public:
    static constexpr std::string_view identifier = "org.vantrell.Vantrell";

    // The running executable (from /proc/self/exe).
    static std::filesystem::path executablePath();
    // Empty when no resources folder can be found.
    static std::filesystem::path resourcesDirectory();
    // The folders looked at, in order (only the override when it is set).
    static std::vector<std::filesystem::path> resourcesCandidates();
    // resources/<name>.<type> (just <name> when type is empty) when that
    // file exists, else an empty path.
    static std::filesystem::path pathForResource(std::string_view name, std::string_view type);
};

}  // namespace plat
