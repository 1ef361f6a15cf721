#include "platform/UserDefaults.h"

#include "platform/FileManager.h"
#include "platform/SettingsFile.h"

#include <memory>
#include <vector>

namespace plat {

namespace {

std::mutex& StandardMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<UserDefaults>& StandardSlot() {
    static std::unique_ptr<UserDefaults> standard;
    return standard;
}

// Replaced objects stay alive: a caller may still hold a reference.
std::vector<std::unique_ptr<UserDefaults>>& Retired() {
    static std::vector<std::unique_ptr<UserDefaults>> retired;
    return retired;
}

PlistValue::Dictionary OptimisationDefaults() {
    PlistValue::Dictionary registered;
    for (std::string_view key :
         {defaults::kPngCrushEnabled, defaults::kOptiPngEnabled, defaults::kPngOutEnabled,
          defaults::kAdvPngEnabled, defaults::kJpegOptimEnabled, defaults::kJpegTranEnabled,
          defaults::kGifsicleEnabled, defaults::kPngOutRemoveChunks,
          defaults::kPngOutInterruptIfTakesTooLong, defaults::kBackupFiles,
          defaults::kPreservePermissions, defaults::kRunLowPriority}) {
        registered.emplace(std::string(key), PlistValue(false));
    }
    registered.emplace(std::string(defaults::kPngOutLevel), PlistValue(0));
    return registered;
}

}  // namespace

UserDefaults& UserDefaults::standardUserDefaults() {
    std::lock_guard lock(StandardMutex());
    auto& slot = StandardSlot();
    if (!slot) {
        auto file = FileManager::preferencesDirectory() / (std::string(kBundleIdentifier) + ".plist");
        slot = std::make_unique<UserDefaults>(std::move(file));
        slot->registerDefaults(OptimisationDefaults());
    }
    return *slot;
}

void UserDefaults::resetStandardUserDefaults() {
    std::lock_guard lock(StandardMutex());
    if (StandardSlot()) Retired().push_back(std::move(StandardSlot()));
}

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

void UserDefaults::registerDefaults(const PlistValue::Dictionary& registered) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : registered) registered_[key] = value;
}

void UserDefaults::loadIfNeeded() const {
    if (loaded_) return;
    loaded_ = true;
    values_.clear();
    // A missing, unreadable or malformed file holds nothing: every key then
    // answers its registered value (and the first write keeps that file aside).
    if (auto stored = SettingsFile::read(file_)) values_ = std::move(*stored);
}

const PlistValue* UserDefaults::storedValue(std::string_view key) const {
    loadIfNeeded();
    auto found = values_.find(key);
    return found == values_.end() ? nullptr : &found->second;
}

const PlistValue* UserDefaults::registeredValue(std::string_view key) const {
    auto found = registered_.find(key);
    return found == registered_.end() ? nullptr : &found->second;
}

std::optional<PlistValue> UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (const auto* stored = storedValue(key)) return *stored;
    if (const auto* registered = registeredValue(key)) return *registered;
    return std::nullopt;
}

bool UserDefaults::boolForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (const auto* stored = storedValue(key)) {
        if (auto value = stored->asBool()) return *value;
    }
    if (const auto* registered = registeredValue(key)) {
        if (auto value = registered->asBool()) return *value;
    }
    return false;
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto asInteger = [](const PlistValue& value) -> std::optional<std::int64_t> {
        if (auto flag = value.get<bool>()) return *flag ? 1 : 0;
        return value.asInteger();
    };
    if (const auto* stored = storedValue(key)) {
        if (auto value = asInteger(*stored)) return *value;
    }
    if (const auto* registered = registeredValue(key)) {
        if (auto value = asInteger(*registered)) return *value;
    }
    return 0;
}

bool UserDefaults::setObject(std::string_view key, const PlistValue& value) {
    std::lock_guard lock(mutex_);
    loadIfNeeded();
    if (value.isNull()) {
        values_.erase(std::string(key));
    } else {
        values_[std::string(key)] = value;
    }
    return write();
}

bool UserDefaults::removeObjectForKey(std::string_view key) {
    return setObject(key, PlistValue());
}

void UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    loaded_ = false;
    loadIfNeeded();
}

bool UserDefaults::write() const {
    std::error_code ignored;
    FileManager::createDirectories(file_.parent_path(), &ignored);
    return SettingsFile::write(file_, values_);
}

}  // namespace plat
