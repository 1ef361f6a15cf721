#include "app/model/AddImageFiles.h"

#include "common/KSMUtil.h"
#include "engine/ImageFile.h"
#include "platform/Bundle.h"
#include "platform/FileManager.h"
#include "platform/PropertyList.h"
#include "platform/TypeIdentifier.h"

#include <algorithm>
#include <exception>
#include <system_error>

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& value) {
    return !value.empty() && std::find(list.begin(), list.end(), value) != list.end();
}

// Linux keeps no per-file type codes: every file answers with none, and the
// filter goes on to the extension and the contents.
std::string HFSTypeOfFile(const std::filesystem::path&) { return {}; }

bool IsHidden(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name.front() == '.';
}

// Only files whose contents an image reader recognises are opened: a CSV or
// text file is never handed to a loader that would make a picture of it.
bool ContentsAreAnImage(const std::filesystem::path& url) {
    const std::string type = plat::TypeIdentifier::forFileContents(url);
    if (type.empty() || !plat::TypeIdentifier::conformsTo(type, "public.image")) return false;
    ImageFile file;
    InitImageFile(&file);
    int loaded = 0;
    try {
        loaded = LoadImageFile(&file, url);
    } catch (const std::exception&) {
        loaded = 0;
    }
    ReleaseImageFile(&file);
    return loaded == 1;
}

}  // namespace

std::vector<std::string> GetImageTypesList() {
    const auto path = plat::Bundle::pathForResource("ImageTypes", "plist");
    if (path.empty()) return {};
    const auto list = plat::PropertyList::readFile(path);
    const auto* array = list ? list->get<plat::PlistValue::Array>() : nullptr;
    if (!array) return {};
    std::vector<std::string> types;
    types.reserve(array->size());
    for (const plat::PlistValue& value : *array) {
        if (auto text = value.asString()) types.push_back(std::move(*text));
    }
    return types;
}

std::vector<std::string> ImageTypePatterns() {
    std::vector<std::string> patterns;
    for (const std::string& type : GetImageTypesList()) {
        if (type.empty() || type.front() == '\'') continue;
        std::string pattern = "*." + type;
        if (std::find(patterns.begin(), patterns.end(), pattern) == patterns.end()) patterns.push_back(std::move(pattern));
    }
    return patterns;
}

std::vector<std::string> GetExcludedTypesList() {
    return {"'PDF '", "PDF", "pdf", "'PICT'", "PIC",  "pic",  "PCT", "pct", "PICT",
            "pict",   "'EPSF'", "PS", "ps",  "EPSI", "epsi", "EPSF", "epsf", "EPI",
            "epi",    "EPS",  "eps", "txt", "doc",  "docx", "ppt",  "pptx", "text"};
}

int IsSupportedImageFile(const std::filesystem::path& url) {
    const auto size = plat::FileManager::fileSize(url);
    if (!size || *size == 0) return 0;
    const std::vector<std::string> imageTypes = GetImageTypesList();
    const std::vector<std::string> excluded = GetExcludedTypesList();

    const std::string typeCode = HFSTypeOfFile(url);
    if (Contains(imageTypes, typeCode)) return 1;
    if (Contains(excluded, typeCode)) return 0;

    // The extension as written: "doc.PDF" is refused, "scan.Pdf" is not.
    std::string extension = url.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    if (!extension.empty()) {
        if (Contains(imageTypes, extension)) return 1;
        if (Contains(excluded, extension)) return 0;
    }
    return ContentsAreAnImage(url) ? 1 : 0;
}

std::vector<AddFileRecord> CollectFilesForAdding(const std::vector<std::filesystem::path>& urls, bool recursive,
                                                 AddRequestState& state) {
    namespace fs = std::filesystem;
    std::vector<AddFileRecord> records;
    for (const fs::path& url : urls) {
        if (state.cancelled.load()) break;
        std::error_code error;
        if (!fs::is_directory(url, error)) {
            state.numOfFilesForConversion.fetch_add(1);
            if (IsSupportedImageFile(url)) records.push_back({url, {}});
            continue;
        }
        // Symbolic links to folders are not followed, so a link loop cannot
        // make the walk endless.
        fs::recursive_directory_iterator it(url, fs::directory_options::skip_permission_denied, error);
        if (error) continue;
        for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
            if (state.cancelled.load()) break;
            std::error_code itemError;
            const bool isFolder = it->is_directory(itemError);
            if (isFolder || IsHidden(it->path())) {
                // Hidden folders stay closed; others open only when recursive.
                if (!recursive || IsHidden(it->path())) it.disable_recursion_pending();
                continue;
            }
            state.numOfFilesForConversion.fetch_add(1);
            if (!itemError && IsSupportedImageFile(it->path())) records.push_back({it->path(), url});
        }
    }
    return records;
}

void SortAddRecords(std::vector<AddFileRecord>& records, bool ascending) {
    std::stable_sort(records.begin(), records.end(), [ascending](const AddFileRecord& a, const AddFileRecord& b) {
        const std::string nameA = a.fileURL.filename().string();
        const std::string nameB = b.fileURL.filename().string();
        if (nameA.empty() || nameB.empty()) return !nameA.empty() && nameB.empty();
        const int order = FinderCompare(nameA, nameB);
        return ascending ? order < 0 : order > 0;
    });
}
