#include "app/model/StringTable.h"

#include "platform/Bundle.h"
#include "platform/PropertyList.h"

#include <mutex>

namespace {

std::mutex gMutex;
QHash<QString, QString> gEntries;
bool gLoaded = false;

bool ReadEntries(const std::filesystem::path& path, QHash<QString, QString>& entries) {
    const auto plist = plat::PropertyList::readFile(path);
    const auto* dictionary = plist ? plist->get<plat::PlistValue::Dictionary>() : nullptr;
    if (!dictionary) return false;
    for (const auto& [key, value] : *dictionary) {
        if (const auto* text = value.get<std::string>()) {
            entries.insert(QString::fromStdString(key), QString::fromStdString(*text));
        }
    }
    return true;
}

void LoadFromBundleLocked() {
    if (gLoaded) return;
    gLoaded = true;
    const std::filesystem::path path = plat::Bundle::pathForResource("Localizable", "plist");
    if (!path.empty()) ReadEntries(path, gEntries);
}

}  // namespace

bool StringTable::load(const std::filesystem::path& path) {
    QHash<QString, QString> entries;
    const bool ok = ReadEntries(path, entries);
    std::lock_guard lock(gMutex);
    gEntries = std::move(entries);
    gLoaded = true;
    return ok;
}

void StringTable::set(QHash<QString, QString> entries) {
    std::lock_guard lock(gMutex);
    gEntries = std::move(entries);
    gLoaded = true;
}

QString StringTable::lookup(const QString& key) {
    std::lock_guard lock(gMutex);
    LoadFromBundleLocked();
    const auto it = gEntries.constFind(key);
    return it != gEntries.constEnd() ? *it : key;
}

QString LocalizedString(const char* key) {
    return StringTable::lookup(QString::fromUtf8(key));
}

QString LocalizedFormat(const char* key, std::initializer_list<FormatArg> args) {
    return FormatString(LocalizedString(key), args);
}
