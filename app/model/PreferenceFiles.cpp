#include "app/model/PreferenceFiles.h"

#include "platform/FileManager.h"
#include "platform/SettingsFile.h"
#include "platform/UserDefaults.h"

#include <cmath>
#include <string>

namespace {

const plat::PlistValue* Find(const PrefDictionary* dictionary, std::string_view key) {
    if (!dictionary) return nullptr;
    const auto it = dictionary->find(key);
    return it == dictionary->end() ? nullptr : &it->second;
}

// The check boxes of the general file, with their member and default.
struct GeneralBox {
    std::string_view key;
    bool GeneralPreferences::*member;
};
constexpr GeneralBox kGeneralBoxes[] = {
    {general_pref::kAddRecursively, &GeneralPreferences::addRecursively},
    {general_pref::kMaintainDirectory, &GeneralPreferences::maintainDirectory},
    {general_pref::kOverWriteFile, &GeneralPreferences::overwriteFile},
    {general_pref::kMetaData, &GeneralPreferences::metaData},
    {general_pref::kPreserveCreationDate, &GeneralPreferences::preserveCreationDate},
    {general_pref::kPreserveModificationDate, &GeneralPreferences::preserveModificationDate},
    {general_pref::kDoNotShowAlert, &GeneralPreferences::doNotShowAlert},
    {general_pref::kDoNotShowPNGOptimizationAlert, &GeneralPreferences::doNotShowPNGOptimizationAlert},
    {general_pref::kUseAsDestinationFolder, &GeneralPreferences::useAsDestinationFolder},
};

}  // namespace

std::filesystem::path PrefFilePath(std::string_view nameFormat) {
    const std::filesystem::path folder = plat::FileManager::preferencesDirectory();
    if (folder.empty() || !plat::FileManager::createDirectories(folder)) return {};
    std::string name(nameFormat);
    if (const std::size_t at = name.find("%@"); at != std::string::npos) {
        name.replace(at, 2, plat::UserDefaults::kBundleIdentifier);
    }
    return folder / name;
}

bool LoadPrefDictionary(std::optional<PrefDictionary>* out, std::string_view nameFormat) {
    const std::filesystem::path path = PrefFilePath(nameFormat);
    if (path.empty() || !plat::FileManager::fileExists(path)) return false;
    std::optional<PrefDictionary> dictionary = plat::SettingsFile::read(path);
    const bool read = dictionary.has_value();
    if (out) *out = std::move(dictionary);
    return read;
}

bool SavePrefDictionary(const PrefDictionary& dictionary, std::string_view nameFormat) {
    const std::filesystem::path path = PrefFilePath(nameFormat);
    return !path.empty() && plat::SettingsFile::write(path, dictionary);
}

std::optional<std::int64_t> PrefIntegerValue(const plat::PlistValue& value, std::int64_t min, std::int64_t max) {
    std::int64_t number = 0;
    if (const std::int64_t* integer = value.get<std::int64_t>()) {
        number = *integer;
    } else if (const double* real = value.get<double>();
               real && std::isfinite(*real) && std::trunc(*real) == *real && *real >= -9223372036854775808.0 &&
               *real < 9223372036854775808.0) {
        number = static_cast<std::int64_t>(*real);
    } else {
        return std::nullopt;
    }
    if (number < min || number > max) return std::nullopt;
    return number;
}

std::optional<double> PrefRealValue(const plat::PlistValue& value, double min, double max) {
    double number = 0.0;
    if (const std::int64_t* integer = value.get<std::int64_t>()) {
        number = static_cast<double>(*integer);
    } else if (const double* real = value.get<double>()) {
        number = *real;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(number) || number < min || number > max) return std::nullopt;
    return number;
}

std::optional<bool> PrefBool(const PrefDictionary* dictionary, std::string_view key) {
    const plat::PlistValue* value = Find(dictionary, key);
    const bool* on = value ? value->get<bool>() : nullptr;
    return on ? std::optional<bool>(*on) : std::nullopt;
}

std::optional<bool> PrefBoxState(const PrefDictionary* dictionary, std::string_view key) {
    if (auto on = PrefBool(dictionary, key)) return on;
    const plat::PlistValue* value = Find(dictionary, key);
    const std::int64_t* state = value ? value->get<std::int64_t>() : nullptr;
    if (!state || (*state != 0 && *state != 1)) return std::nullopt;
    return *state == 1;
}

std::optional<std::int64_t> PrefInteger(const PrefDictionary* dictionary, std::string_view key, std::int64_t min,
                                        std::int64_t max) {
    const plat::PlistValue* value = Find(dictionary, key);
    return value ? PrefIntegerValue(*value, min, max) : std::nullopt;
}

std::optional<double> PrefReal(const PrefDictionary* dictionary, std::string_view key, double min, double max) {
    const plat::PlistValue* value = Find(dictionary, key);
    return value ? PrefRealValue(*value, min, max) : std::nullopt;
}

std::optional<QString> PrefString(const PrefDictionary* dictionary, std::string_view key) {
    const plat::PlistValue* value = Find(dictionary, key);
    const std::string* text = value ? value->get<std::string>() : nullptr;
    if (!text) return std::nullopt;
    return QString::fromStdString(*text);
}

const plat::PlistValue::Data* PrefData(const PrefDictionary* dictionary, std::string_view key) {
    const plat::PlistValue* value = Find(dictionary, key);
    return value ? value->get<plat::PlistValue::Data>() : nullptr;
}

const PrefDictionary* PrefSubDictionary(const PrefDictionary* dictionary, std::string_view key) {
    const plat::PlistValue* value = Find(dictionary, key);
    return value ? value->get<PrefDictionary>() : nullptr;
}

GeneralPreferences GeneralPreferencesFromDictionary(const PrefDictionary* dictionary) {
    GeneralPreferences options;
    if (!dictionary) return options;
    options.photoPresetIndex =
        PrefInteger(dictionary, general_pref::kPhotoPresetIndex, 0, std::numeric_limits<int>::max()).value_or(0);
    for (const GeneralBox& box : kGeneralBoxes) {
        if (auto on = PrefBoxState(dictionary, box.key)) options.*box.member = *on;
    }
    if (const auto* data = PrefData(dictionary, general_pref::kDestinationURL)) options.destinationURL = *data;
    return options;
}

PrefDictionary GeneralPreferencesDictionary(const GeneralPreferences& options) {
    PrefDictionary dictionary;
    dictionary.emplace(general_pref::kPhotoPresetIndex, plat::PlistValue(static_cast<long long>(options.photoPresetIndex)));
    for (const GeneralBox& box : kGeneralBoxes) {
        dictionary.emplace(box.key, plat::PlistValue(options.*box.member ? 1 : 0));
    }
    if (options.destinationURL) dictionary.emplace(general_pref::kDestinationURL, plat::PlistValue(*options.destinationURL));
    return dictionary;
}
