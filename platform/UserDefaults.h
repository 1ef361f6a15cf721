#pragma once
// The application's user defaults: a property-list dictionary in the
// preferences folder, named with the bundle identifier, over a domain of
// registered defaults.

#include "platform/PropertyList.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Keys read by the optimisation agents and their queue.
namespace defaults {
inline constexpr std::string_view kPngCrushEnabled = "PngCrushEnabled";
inline constexpr std::string_view kOptiPngEnabled = "OptiPngEnabled";
inline constexpr std::string_view kPngOutEnabled = "PngOutEnabled";
inline constexpr std::string_view kAdvPngEnabled = "AdvPngEnabled";
inline constexpr std::string_view kJpegOptimEnabled = "JpegOptimEnabled";
inline constexpr std::string_view kJpegTranEnabled = "JpegTranEnabled";
inline constexpr std::string_view kGifsicleEnabled = "GifsicleEnabled";
inline constexpr std::string_view kPngOutLevel = "PngOutLevel";
inline constexpr std::string_view kPngOutRemoveChunks = "PngOutRemoveChunks";
inline constexpr std::string_view kPngOutInterruptIfTakesTooLong = "PngOutInterruptIfTakesTooLong";
inline constexpr std::string_view kBackupFiles = "BackupFiles";
inline constexpr std::string_view kPreservePermissions = "PreservePermissions";
inline constexpr std::string_view kRunLowPriority = "RunLowPriority";
}  // namespace defaults

class UserDefaults {
public:
    static constexpr std::string_view kBundleIdentifier = "org.vantrell.Vantrell";

    // The process's defaults, stored in
    // FileManager::preferencesDirectory()/org.vantrell.Vantrell.plist, with
    // the optimisation keys registered (every switch off, "PngOutLevel" 0).
    static UserDefaults& standardUserDefaults();
    // Drops the process's defaults object; the next standardUserDefaults()
    // finds the preferences folder anew (tests point XDG_CONFIG_HOME at their
    // own folder). Only while no other thread uses the old object.
    static void resetStandardUserDefaults();

    // Defaults stored in `file`, read on first use.
    explicit UserDefaults(std::filesystem::path file);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::filesystem::path& filePath() const { return file_; }

    // Values used for keys the file does not hold, or holds with a wrong type.
    void registerDefaults(const PlistValue::Dictionary& registered);

    // The stored value, else the registered one, else none.
    std::optional<PlistValue> objectForKey(std::string_view key) const;
    // Booleans accept numbers (non-zero is true; a real only within an
    // integer's range, never NaN or infinite) and integers accept booleans
    // and reals; any other stored type counts as absent and the registered
    // value (else false / 0) is answered.
    bool boolForKey(std::string_view key) const;
    std::int64_t integerForKey(std::string_view key) const;

    // Each change is written to the file at once (atomically, by the rule of
    // SettingsFile::write: an unreadable file is kept aside, a non-regular
    // one is never written through or over); false when that write failed
    // or was refused (the value is still held for this process).
    bool setObject(std::string_view key, const PlistValue& value);
    bool setBool(std::string_view key, bool value) { return setObject(key, PlistValue(value)); }
    bool setInteger(std::string_view key, std::int64_t value) {
        return setObject(key, PlistValue(static_cast<long long>(value)));
    }
    bool removeObjectForKey(std::string_view key);

    // Reads the file again, taking changes made by other processes.
    void synchronize();

private:
    void loadIfNeeded() const;
    const PlistValue* storedValue(std::string_view key) const;
    const PlistValue* registeredValue(std::string_view key) const;
    bool write() const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    mutable bool loaded_ = false;
    mutable PlistValue::Dictionary values_;
    PlistValue::Dictionary registered_;
};

}  // namespace plat
