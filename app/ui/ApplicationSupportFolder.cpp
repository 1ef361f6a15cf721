#include "app/ui/ApplicationSupportFolder.h"

#include "app/ui/CustomAlert.h"
#include "platform/FileManager.h"

#include <QString>

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace {

void TellUser(const char* message) {
    RunCustomAlertSheet(QStringLiteral("Alert"), QLatin1String(message), QStringLiteral("Quit"), QString(), QString(),
                        nullptr);
}

}  // namespace

fs::path GetApplicationSupportFolderIn(const fs::path& supportBase, const fs::path& preferencesBase,
                                       std::string_view name) {
    fs::path base = supportBase;
    if (base.empty()) {
        TellUser("Can't find application support folder");
        base = preferencesBase;
        if (base.empty()) {
            TellUser("Can't find user /Library folder");
            // Nothing can be kept anywhere: the run ends as a failure.
            std::exit(EXIT_FAILURE);
        }
    }
    const fs::path folder = base / (name.empty() ? std::string_view("Vantrell") : name);
    if (!plat::FileManager::fileExists(folder)) plat::FileManager::createDirectories(folder);
    return folder;
}

fs::path GetApplicationSupportFolder(std::string_view name) {
    return GetApplicationSupportFolderIn(plat::FileManager::applicationSupportDirectory(),
                                         plat::FileManager::preferencesDirectory(), name);
}

void RemoveWorkingFolder(const fs::path& folder) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(folder, error);
    if (error || !fs::exists(status)) return;
    // A link is unlinked, never followed into the folder it names.
    if (fs::is_symlink(status)) {
        fs::remove(folder, error);
        return;
    }
    plat::FileManager::removeItem(folder, &error);
}
