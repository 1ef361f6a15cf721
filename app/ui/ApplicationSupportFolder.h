#pragma once
// The application's working folders: "Vantrell" (stored watermark images of
// job presets) and "VantrellPreview" (preview output) in the user's data
// folder.

#include <filesystem>
#include <string_view>

// The folder `name` ("Vantrell" when empty) in the user's data folder, made
// when nothing is there. Without a data folder the user is told once and the
// preferences folder serves instead; without that either the user is told
// and the process ends with a failure status.
std::filesystem::path GetApplicationSupportFolder(std::string_view name = {});
// The same over given base folders (empty for none).
std::filesystem::path GetApplicationSupportFolderIn(const std::filesystem::path& supportBase,
                                                    const std::filesystem::path& preferencesBase,
                                                    std::string_view name);

// Removes a working folder. A symbolic link is removed itself: whatever it
// points to is left alone. Nothing there is no failure.
void RemoveWorkingFolder(const std::filesystem::path& folder);
