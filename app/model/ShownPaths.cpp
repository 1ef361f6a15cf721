#include "app/model/ShownPaths.h"

#include "platform/FileManager.h"

#include <QFile>

#include <system_error>

namespace fs = std::filesystem;

namespace {

// The entries of `folder` that Qt shows as `name`.
void AddEntriesShownAs(const fs::path& folder, const QString& name, std::vector<fs::path>& found, std::size_t limit) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end && found.size() < limit;
         it.increment(error)) {
        const fs::path entry = it->path().filename();
        const std::string& bytes = entry.native();
        if (QFile::decodeName(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()))) == name) {
            found.push_back(it->path());
        }
    }
}

}  // namespace

std::vector<fs::path> PathsShownAs(const QString& shown, std::size_t limit) {
    if (!shown.startsWith(QLatin1Char('/'))) return {};
    std::vector<fs::path> candidates{fs::path("/")};
    for (const QString& part : shown.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        std::vector<fs::path> next;
        for (const fs::path& folder : candidates) {
            // Valid UTF-8 reads back to the same bytes: nothing to look for.
            if (!part.contains(QChar::ReplacementCharacter)) {
                const fs::path exact = folder / QFile::encodeName(part).toStdString();
                if (plat::FileManager::fileExists(exact)) next.push_back(exact);
            } else {
                AddEntriesShownAs(folder, part, next, limit);
            }
            if (next.size() >= limit) break;
        }
        candidates = std::move(next);
        if (candidates.empty()) return {};
    }
    return candidates;
}

fs::path PathShownAs(const QString& shown) {
    std::vector<fs::path> paths = PathsShownAs(shown, 2);
    return paths.size() == 1 ? std::move(paths.front()) : fs::path();
}
