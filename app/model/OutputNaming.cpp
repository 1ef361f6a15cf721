#include "app/model/OutputNaming.h"

#include "app/model/JobOptionsModel.h"
#include "common/KSMUtil.h"
#include "engine/ImageTypes.h"
#include "platform/FileManager.h"

#include <QFileInfo>

#include <algorithm>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string RunningNumber(std::int64_t number, int width) {
    // The magnitude as unsigned: the lowest number has no positive twin.
    const std::uint64_t magnitude = number < 0 ? 0 - std::uint64_t(number) : std::uint64_t(number);
    std::string digits = std::to_string(magnitude);
    if (width > 0 && digits.size() < std::size_t(width)) digits.insert(0, std::size_t(width) - digits.size(), '0');
    return number < 0 ? "-" + digits : digits;
}

// A name that cannot leave its folder: no separator, no NUL, and not a
// bare "." or "..". Bytes other than these stay as they are.
std::string SafeFileName(std::string name) {
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    if (name == "." || name == "..") name.assign(name.size(), '_');
    return name;
}

// The components of a path with "." parts, repeated and trailing separators
// dropped.
std::vector<fs::path> Components(const fs::path& path) {
    std::vector<fs::path> components;
    for (const fs::path& component : path.lexically_normal()) {
        if (!component.empty()) components.push_back(component);
    }
    return components;
}

std::string ExtensionWithoutDot(const fs::path& path) {
    std::string extension = path.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    return extension;
}

}  // namespace

std::optional<RenamePattern> CheckAndGetNewFileName(const JobOptionState& state, bool* sourceNameFlag,
                                                    int* numberPosition) {
    if (!state.groupOn[kRenameGroup]) return std::nullopt;
    if (numberPosition) *numberPosition = state.numberPosition;
    if (state.renameTag == kRenamePrefixSuffix && sourceNameFlag) *sourceNameFlag = true;
    if (state.renameTag != kRenameNewName && state.renameTag != kRenamePrefixSuffix) return std::nullopt;
    RenamePattern pattern;
    pattern.renameTag = state.renameTag;
    pattern.numberPosition = state.numberPosition;
    pattern.paddingWidth = state.zeroPaddingValue() + 1;
    pattern.name = state.fileNameText.toStdString();
    pattern.suffix = state.suffixText.toStdString();
    return pattern;
}

std::string OutputBaseName(const RenamePattern* pattern, bool sourceNameFlag, std::string_view sourceBase,
                           std::int64_t number, int numberPosition) {
    if (!pattern) return SafeFileName(std::string(sourceBase));
    std::string named = pattern->name;
    if (sourceNameFlag) named.append(sourceBase).append(pattern->suffix);
    std::string base;
    switch (numberPosition) {
    case kNoNumber: base = std::move(named); break;
    case kNumberBeforeName: base = RunningNumber(number, pattern->paddingWidth) + named; break;
    default: base = named + RunningNumber(number, pattern->paddingWidth); break;
    }
    // An empty name would make a hidden ".jpg": keep the source's name.
    if (base.empty()) base = sourceBase;
    return SafeFileName(std::move(base));
}

fs::path GetDestinationFolderURL(const fs::path& source, const fs::path& destination, const fs::path& parent,
                                 bool maintainDirectory) {
    if (parent.empty() || !maintainDirectory) return destination;
    const std::vector<fs::path> parentComponents = Components(parent);
    const std::vector<fs::path> sourceComponents = Components(source);
    // Only folders that really lie between the added folder and the file.
    if (parentComponents.size() >= sourceComponents.size()) return destination;
    for (std::size_t i = 0; i < parentComponents.size(); ++i) {
        if (parentComponents[i] != sourceComponents[i]) return destination;
    }
    fs::path folder = destination;
    for (std::size_t i = parentComponents.size(); i + 1 < sourceComponents.size(); ++i) {
        if (sourceComponents[i] == "..") return destination;
        folder /= sourceComponents[i];
    }
    if (folder == destination) return destination;
    std::error_code error;
    if (!plat::FileManager::createDirectories(folder, &error) || error) return destination;
    return folder;
}

fs::path GetDestinationFileURL(const fs::path& source, const fs::path& folder, const RenamePattern* pattern,
                               bool sourceNameFlag, std::int64_t number, std::int32_t numberPosition,
                               std::int32_t outputType, bool exactName) {
    const std::string extension = outputType == 0 ? ExtensionWithoutDot(source) : GetImageExtensionForType(outputType);
    const std::string base = OutputBaseName(pattern, sourceNameFlag, source.stem().native(), number, numberPosition);
    if (!exactName) return GetUniqueFileURL(folder, base, extension, false);
    return folder / (extension.empty() ? base : base + "." + extension);
}

QString RenameExampleString(const JobOptionState& state, const SelectedImageInfo& selected) {
    bool sourceNameFlag = false;
    int numberPosition = kNoNumber;
    const std::optional<RenamePattern> pattern = CheckAndGetNewFileName(state, &sourceNameFlag, &numberPosition);
    if (!pattern || selected.selectedRow < 0) return QStringLiteral("-");
    const std::int64_t number = numberPosition == kNoNumber ? 0 : state.startDigitValue() + selected.selectedRow;
    const QFileInfo title(selected.title);
    const QString suffix = title.suffix();
    const QString base = QString::fromStdString(
        OutputBaseName(&*pattern, sourceNameFlag, title.completeBaseName().toStdString(), number, numberPosition));
    return suffix.isEmpty() ? base : base + QLatin1Char('.') + suffix;
}
