#pragma once
// The application's own preference files: one property-list dictionary each
// in the preferences folder, named by a format completed with the bundle
// identifier ("%@-Pref.plist" -> org.vantrell.Vantrell-Pref.plist). Read and
// written whole.

#include "platform/PropertyList.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>

using PrefDictionary = plat::PlistValue::Dictionary;

inline constexpr std::string_view kGeneralPrefFileFormat = "%@-Pref.plist";
inline constexpr std::string_view kResizePrefFileFormat = "%@-ResizePref.plist";
inline constexpr std::string_view kWaterMarkPrefFileFormat = "%@-WaterMarkPref.plist";
inline constexpr std::string_view kPhotoPrefFileFormat = "%@-PhotoPref.plist";

// The file of a name format in the preferences folder, which is created when
// missing; empty when that fails.
std::filesystem::path PrefFilePath(std::string_view nameFormat);

// Reads the file of a name format. True when a dictionary was read; `out` is
// set only when a file exists (to none when it is no readable dictionary).
bool LoadPrefDictionary(std::optional<PrefDictionary>* out, std::string_view nameFormat);
// Writes the dictionary as the whole file, atomically, by the rule of every
// settings file (plat::SettingsFile::write): an existing file that is not a
// readable dictionary is first kept beside it as "<name>.unreadable", nothing
// is written through or over a non-regular file, and a dictionary too large
// for the reader is refused with the old file kept. True on success.
bool SavePrefDictionary(const PrefDictionary& dictionary, std::string_view nameFormat);

// --- Typed reads: a value of another type counts as absent ------------------------
// A damaged or hostile file must not turn a box on (Overwrite) or a number
// into something the controls never hold, so every read is strict:
// - a boolean key takes a boolean only; a box of the general file also the
//   integer 0 or 1 (its writer stores the boxes so). A real, a date, a
//   string, data or a container is no boolean;
// - a number key takes an integer or a real that is finite and within the
//   key's range [min, max]; an integer key only a whole number. A date the
//   reader could not hold (NaN, infinite, 1e300) comes as a real and falls
//   out here too.

std::optional<bool> PrefBool(const PrefDictionary* dictionary, std::string_view key);
std::optional<bool> PrefBoxState(const PrefDictionary* dictionary, std::string_view key);
std::optional<std::int64_t> PrefInteger(const PrefDictionary* dictionary, std::string_view key,
                                        std::int64_t min = std::numeric_limits<std::int64_t>::min(),
                                        std::int64_t max = std::numeric_limits<std::int64_t>::max());
std::optional<double> PrefReal(const PrefDictionary* dictionary, std::string_view key,
                               double min = -std::numeric_limits<double>::max(),
                               double max = std::numeric_limits<double>::max());
// The same rules for one value (an element of an array).
std::optional<std::int64_t> PrefIntegerValue(const plat::PlistValue& value, std::int64_t min, std::int64_t max);
std::optional<double> PrefRealValue(const plat::PlistValue& value, double min, double max);
std::optional<QString> PrefString(const PrefDictionary* dictionary, std::string_view key);
const plat::PlistValue::Data* PrefData(const PrefDictionary* dictionary, std::string_view key);
const PrefDictionary* PrefSubDictionary(const PrefDictionary* dictionary, std::string_view key);

// --- The general options file -----------------------------------------------------

// Its keys, spelled as the file has always spelled them.
namespace general_pref {
inline constexpr std::string_view kPhotoPresetIndex = "PhotoPresetIndex";
inline constexpr std::string_view kAddRecursively = "AddRecusrsively";
inline constexpr std::string_view kMaintainDirectory = "MaintainDirectory";
inline constexpr std::string_view kOverWriteFile = "OverWriteFile";
inline constexpr std::string_view kMetaData = "MetaData";
inline constexpr std::string_view kPreserveCreationDate = "PrsereveCreationDate";
inline constexpr std::string_view kPreserveModificationDate = "PrsereveModificaionDate";
inline constexpr std::string_view kDoNotShowAlert = "DoNotShowAlert";
inline constexpr std::string_view kDoNotShowPNGOptimizationAlert = "DoNotShowPNGOptimizationAlert";
inline constexpr std::string_view kUseAsDestinationFolder = "UseAsDestinationFolder";
inline constexpr std::string_view kDestinationURL = "DestinationURL";
}  // namespace general_pref

// The general options with the values used when a key (or the file) is
// missing or holds a value of another type.
struct GeneralPreferences {
    std::int64_t photoPresetIndex = 0;
    bool addRecursively = true;
    bool maintainDirectory = true;
    bool overwriteFile = false;
    bool metaData = true;
    bool preserveCreationDate = false;
    bool preserveModificationDate = true;
    bool doNotShowAlert = false;
    bool doNotShowPNGOptimizationAlert = false;
    bool useAsDestinationFolder = false;
    std::optional<plat::PlistValue::Data> destinationURL;

    friend bool operator==(const GeneralPreferences&, const GeneralPreferences&) = default;
};

// The options of a loaded file (none: every default).
GeneralPreferences GeneralPreferencesFromDictionary(const PrefDictionary* dictionary);
// A fresh dictionary of every key: the boxes as integers 0 or 1, and
// "DestinationURL" only when a folder is stored.
PrefDictionary GeneralPreferencesDictionary(const GeneralPreferences& options);
