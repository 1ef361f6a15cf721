#pragma once

#include <QUrl>

#include <filesystem>
#include <functional>
#include <vector>

// Shows the files selected in the desktop's file manager (the session bus's
// org.freedesktop.FileManager1 ShowItems). Where no file manager answers
// there, each file's folder is opened instead, once per folder, in order,
// with `openFolder` (the desktop's default application when empty).
void RevealInFileManager(const std::vector<std::filesystem::path>& files,
                         const std::function<void(const QUrl&)>& openFolder = {});
