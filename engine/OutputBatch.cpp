#include "engine/OutputBatch.h"

#include "platform/FileManager.h"

#include <system_error>

using plat::FileManager;

OutputBatch::~OutputBatch() {
    if (!committed_) {
        RollBack();
    }
}

bool OutputBatch::MakeFolder(const std::filesystem::path& folder) {
    folder_ = folder;
    madeFolder_ = !FileManager::fileExists(folder);
    return FileManager::createDirectories(folder);
}

std::filesystem::path OutputBatch::Stage(const std::filesystem::path& target, bool replace) {
    if (target.empty()) {
        return {};
    }
    Entry entry;
    entry.target = target;
    entry.replace = replace;
    // Named like every temporary beside a destination, so that what a killed
    // run leaves is removed by a later one.
    entry.staged = FileManager::temporaryPathBeside(target);
    entries_.push_back(entry);
    return entries_.back().staged;
}

bool OutputBatch::Commit() {
    for (Entry& entry : entries_) {
        if (!FileManager::fileExists(entry.staged)) {
            continue;  // nothing was written for it (a page with nothing to show)
        }
        if (entry.replace && FileManager::fileExists(entry.target)) {
            // Set aside, not removed: it comes back should a later file fail.
            const std::filesystem::path aside = FileManager::temporaryPathBeside(entry.target);
            if (!FileManager::moveItemIfAbsent(entry.target, aside)) {
                RollBack();
                return false;
            }
            entry.replaced = aside;
        }
        if (!FileManager::moveItemIfAbsent(entry.staged, entry.target)) {
            RollBack();
            return false;
        }
        entry.moved = true;
    }
    for (const Entry& entry : entries_) {
        if (!entry.replaced.empty()) {
            FileManager::removeItem(entry.replaced);
        }
    }
    committed_ = true;
    return true;
}

void OutputBatch::RollBack() {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        Entry& entry = *it;
        if (entry.moved) {
            FileManager::removeItem(entry.target);
            entry.moved = false;
        } else if (FileManager::fileExists(entry.staged)) {
            FileManager::removeItem(entry.staged);
        }
        if (!entry.replaced.empty() && FileManager::moveItemIfAbsent(entry.replaced, entry.target)) {
            entry.replaced.clear();
        }
    }
    entries_.clear();
    std::error_code error;
    if (madeFolder_ && std::filesystem::is_empty(folder_, error) && !error) {
        FileManager::removeItem(folder_);
    }
    madeFolder_ = false;
}
