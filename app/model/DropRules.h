#pragma once
// Which drags the main window's drop targets accept.

#include <filesystem>
#include <functional>
#include <vector>

// The big image view: with dropping allowed, the first path that is a folder
// or passes the input filter makes the drag acceptable.
bool ImageViewAcceptsDrop(const std::vector<std::filesystem::path>& paths, bool dropAllowed,
                          const std::function<bool(const std::filesystem::path&)>& isSupportedImageFile);

// A folder box: exactly one path, an existing folder.
bool FolderBoxAcceptsDrop(const std::vector<std::filesystem::path>& paths);
