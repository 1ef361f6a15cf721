#include "platform/SettingsFile.h"

#include "platform/FileManager.h"

namespace plat {

std::optional<PlistValue::Dictionary> SettingsFile::read(const std::filesystem::path& path) {
    auto value = PropertyList::readFile(path);
    auto* dictionary = value ? value->get<PlistValue::Dictionary>() : nullptr;
    if (!dictionary) return std::nullopt;
    return std::move(*dictionary);
}

bool SettingsFile::write(const std::filesystem::path& path, const PlistValue::Dictionary& dictionary,
                         std::error_code* error) {
    if (path.empty()) {
        if (error) *error = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    // Made first: a list refused here leaves everything where it was.
    const auto data = PropertyList::toData(PlistValue(dictionary), PlistFormat::Xml);
    if (!data) {
        if (error) *error = std::make_error_code(std::errc::file_too_large);
        return false;
    }
    if (FileManager::fileExists(path)) {
        if (!FileManager::isRegularFile(path)) {
            if (error) *error = std::make_error_code(std::errc::invalid_argument);
            return false;
        }
        if (!read(path)) {
            std::filesystem::path kept = path;
            kept += ".unreadable";
            if (FileManager::moveItemToFreeName(path, kept, error).empty()) return false;
        }
    }
    return FileManager::createFile(path, std::span<const std::uint8_t>(*data), std::nullopt, error);
}

}  // namespace plat
