#pragma once
// Named presets of the resize settings, the text watermark and whole jobs.
// Each kind lives in its own preference file, a dictionary from preset name
// to the preset's values with an order index. This unit turns option state
// into preset dictionaries and back, orders and renumbers presets, proposes
// names, and keeps the watermark images of job presets.

#include "app/model/PreferenceFiles.h"
#include "platform/ImageRef.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

class JobOptionsModel;
class WatermarkEditorModel;
struct JobOptionState;

namespace preset_key {
// Order indices.
inline constexpr std::string_view kPresetIndex = "PresetIndex";
inline constexpr std::string_view kWaterMarkPresetIndex = "WaterMarkPresetIndex";
inline constexpr std::string_view kPhotoPresetIndex = "PhotoPresetIndex";
// Resize.
inline constexpr std::string_view kUpscaling = "Upscaling";
inline constexpr std::string_view kSharpen = "Sharpen";
inline constexpr std::string_view kResolutionFlag = "ResolutionFlag";
inline constexpr std::string_view kResolutionValue = "ResolutionValue";
inline constexpr std::string_view kScaleOption = "ScaleOption";
inline constexpr std::string_view kInputType = "InputType";
inline constexpr std::string_view kWidth = "Width";
inline constexpr std::string_view kHeight = "Height";
inline constexpr std::string_view kResizeState = "ResizeState";
// Text watermark.
inline constexpr std::string_view kTextString = "textString";
inline constexpr std::string_view kTextFontName = "textFontName";
inline constexpr std::string_view kTextFontSize = "textFontSize";
inline constexpr std::string_view kDrawingMode = "drawingMode";
inline constexpr std::string_view kStrokeWidthName = "strokeWidthName";
inline constexpr std::string_view kTextOpacity = "textOpacity";
inline constexpr std::string_view kTextCharSpace = "textCharSpace";
inline constexpr std::string_view kTextRotationAngle = "textRotationAngle";
inline constexpr std::string_view kTextFontColor = "TextFontColor";
inline constexpr std::string_view kIsDropShadowApplied = "isDropShadowApplied";
inline constexpr std::string_view kShadowBlur = "shadowBlur";
inline constexpr std::string_view kXOffset = "xOffset";
inline constexpr std::string_view kYOffset = "yOffset";
inline constexpr std::string_view kShadowFontColor = "ShadowFontColor";
inline constexpr std::string_view kTextWatermarkState = "TextWatermarkState";
inline constexpr std::string_view kTextCenter = "TextCenter";
inline constexpr std::string_view kImageCenter = "ImageCenter";
// Job.
inline constexpr std::string_view kTextWatermarkPresetIndex = "TextWatermarkPresetIndex";
inline constexpr std::string_view kResizePresetIndex = "ResizePresetIndex";
inline constexpr std::string_view kImageType = "ImageType";
inline constexpr std::string_view kImageQuality = "ImageQuality";
inline constexpr std::string_view kConversionState = "ConversionState";
inline constexpr std::string_view kNameType = "NameType";
inline constexpr std::string_view kPrefix = "Prefix";
inline constexpr std::string_view kSuffix = "Suffix";
inline constexpr std::string_view kNumberType = "NumberType";
inline constexpr std::string_view kLead0 = "Lead0";
inline constexpr std::string_view kStartFrom = "StartFrom";
inline constexpr std::string_view kRenameState = "RenameState";
inline constexpr std::string_view kOptimizationType = "OptimizationType";
inline constexpr std::string_view kOptimizationState = "OptimizationState";
inline constexpr std::string_view kImagePath = "ImagePath";
inline constexpr std::string_view kImageOpacity = "ImageOpacity";
inline constexpr std::string_view kImageSize = "ImageSize";
inline constexpr std::string_view kImagewatermarkState = "ImagewatermarkState";
}  // namespace preset_key

// The three kinds, with their file, index key and the popup index of their
// first preset item.
enum class PresetKind { Resize, Watermark, Photo };
struct PresetKindInfo {
    std::string_view fileFormat;
    std::string_view indexKey;
    int firstItem;
};
PresetKindInfo InfoForPresetKind(PresetKind kind);

// --- Order ---------------------------------------------------------------------------

// Compare two presets by their order index: -1, 0 or 1. A preset without an
// index (or none at all) sorts after every preset with one; two without
// count as the same.
int ComparePresetIndex(const plat::PlistValue* a, const plat::PlistValue* b);
int CompareWaterMarkPresetIndex(const plat::PlistValue* a, const plat::PlistValue* b);
int ComparePhotoPresetIndex(const plat::PlistValue* a, const plat::PlistValue* b);
// The preset names in popup order: by index, ties (and presets without an
// index) kept in name order. Entries that are no dictionary are left out.
QStringList SortedPresetNames(const PrefDictionary& presets, PresetKind kind);

// --- Names -----------------------------------------------------------------------------

// The proposal itself when no title has it, else "<proposal> New N" for the
// first N from 1 that no title has.
QString UniquePresetName(const QString& proposal, const QStringList& titles);
// "800 x 600 (Pixels)": the enabled fields' whole values and the unit title.
QString ResizePresetNameProposal(const JobOptionState& state, const QString& unitTitle);

// --- Save and remove ------------------------------------------------------------------------

// Stores `preset` under `name` with its order index: an existing preset's
// index when replacing (the number of presets when it had none), else the
// number of presets. Returns the index.
std::int64_t InsertPreset(PrefDictionary& presets, const QString& name, PrefDictionary preset, PresetKind kind);
// Removes the named preset and closes the gap in the order; the removed
// preset's index, or none when there was no such preset or it had no index.
std::optional<std::int64_t> RemovePreset(PrefDictionary& presets, const QString& name, PresetKind kind);
// After a resize or watermark preset at `popupIndex` was removed: job presets
// that referred to it under `key` fall back to 0 (their own stored values),
// and references to later items move up by one.
bool UpdateGlobalPhotoPresetDatadDringRemoveAction(PrefDictionary& jobPresets, std::string_view key,
                                                   std::int64_t popupIndex);

// --- Reading the options ----------------------------------------------------------------------

PrefDictionary GetResizePreferenceValue(const JobOptionState& state);
PrefDictionary GetWaterMarkPreferenceValue(const WatermarkEditorModel& editor);
// A whole job: the watermark and dimension popup indices, every group, and
// the stored watermark image's path (empty: none).
PrefDictionary GetPhotoPreferenceValue(const JobOptionState& state, const WatermarkEditorModel& editor,
                                       int watermarkPopupIndex, const std::filesystem::path& imagePath);

// --- Applying ---------------------------------------------------------------------------------

// Resize keys into the options (no user edit); nothing without a preset.
void ChangeAndSetResizeOptionsFromDict(JobOptionsModel& options, const PrefDictionary* preset);
// Watermark keys (and "TextCenter", "ImageCenter") into the editor, absent or
// wrongly typed keys giving the editor's defaults.
void ChangeAndSetWaterMarkPrefOptionsFromDict(WatermarkEditorModel& editor, const PrefDictionary* preset);
// A popup index stored in a preset, 0 when absent or outside 0..count-1.
int StoredPopupIndex(const PrefDictionary* preset, std::string_view key, int itemCount);
// The conversion, rename, optimisation and image watermark values of a job
// preset (the group switches are set by the controller).
void ApplyPhotoPresetOptions(JobOptionsModel& options, const PrefDictionary& preset);

// --- Stored watermark images -------------------------------------------------------------------

// The folder of the stored images ("Vantrell" in the application-support folder).
std::filesystem::path WatermarkImageFolder();
// Reserves "watermark_image<N>" for the first free N from 1 (created empty,
// exclusively); empty when no name could be reserved.
std::filesystem::path GetWatermarkImageFilePath();
// Writes the image as TIFF (with its alpha) to a reserved name; the path, or
// empty (and nothing left behind) when it could not be written.
std::filesystem::path StoreWatermarkImage(const plat::ImageRef& image);
// Deletes a stored watermark image; any other path (outside the folder, or
// not named "watermark_image<N>") is left alone. Errors are ignored.
void RemoveFileIfExists(const std::filesystem::path& path);
// The image of a stored file, or null when it cannot be read.
plat::ImageRef LoadWatermarkImage(const std::filesystem::path& path);
