#include "app/model/DropRules.h"

#include "platform/FileManager.h"

bool ImageViewAcceptsDrop(const std::vector<std::filesystem::path>& paths, bool dropAllowed,
                          const std::function<bool(const std::filesystem::path&)>& isSupportedImageFile) {
    if (!dropAllowed) return false;
    for (const auto& path : paths) {
        if (plat::FileManager::isDirectory(path)) return true;
        if (isSupportedImageFile && isSupportedImageFile(path)) return true;
    }
    return false;
}

bool FolderBoxAcceptsDrop(const std::vector<std::filesystem::path>& paths) {
    return paths.size() == 1 && plat::FileManager::isDirectory(paths.front());
}
