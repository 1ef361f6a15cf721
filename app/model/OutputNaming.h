#pragma once

#include "app/model/JobOptionState.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

struct SelectedImageInfo;

// The rename options of one batch, taken when it starts.
struct RenamePattern {
    int renameTag = kRenameNewName;       // 1 new name, 2 prefix and suffix around the source's name
    int numberPosition = kNumberAfterName;
    int paddingWidth = 1;                 // the number has at least this many digits
    std::string name;                     // the new name, or the prefix (UTF-8, as typed)
    std::string suffix;
};

// The batch's rename pattern: none when the rename group is off or the
// rename kind is neither 1 nor 2. With the group on, `numberPosition` is
// always written and `sourceNameFlag` is set for kind 2; the caller starts
// them at false and kNoNumber.
std::optional<RenamePattern> CheckAndGetNewFileName(const JobOptionState& state, bool* sourceNameFlag,
                                                    int* numberPosition);

// The output base name for a source base name `sourceBase` and running
// number: the pattern's text inserted literally, "/" and NUL made "_" so the
// name stays inside its folder; the source's name when the result would be
// empty. Made of bytes: the source's part is its name's own bytes, whatever
// they are, never a decoded and re-encoded copy.
std::string OutputBaseName(const RenamePattern* pattern, bool sourceNameFlag, std::string_view sourceBase,
                           std::int64_t number, int numberPosition);

// The folder a source's output goes to: the destination, extended by the
// source's folders below `parent` (the folder through which it was added)
// when `maintainDirectory` is on and `parent` really holds the source. Made
// when missing; the destination itself when that fails.
std::filesystem::path GetDestinationFolderURL(const std::filesystem::path& source,
                                              const std::filesystem::path& destination,
                                              const std::filesystem::path& parent, bool maintainDirectory);

// The output file: the named base with the extension of `outputType` (the
// source's own for 0). A free name (" N" added) unless `exactName` (a preview
// run or overwriting), in which case an existing file of that name will be
// replaced.
std::filesystem::path GetDestinationFileURL(const std::filesystem::path& source, const std::filesystem::path& folder,
                                            const RenamePattern* pattern, bool sourceNameFlag, std::int64_t number,
                                            std::int32_t numberPosition, std::int32_t outputType, bool exactName);

// The example under the rename controls: "-" without a pattern or selection,
// else the selected entry's name as the batch would make it, with the
// source's extension.
QString RenameExampleString(const JobOptionState& state, const SelectedImageInfo& selected);
