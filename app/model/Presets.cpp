// The platform headers (which reach GLib) come before any Qt header.
#include "common/KSMUtil.h"
#include "engine/ImageTypes.h"
#include "platform/FileManager.h"
#include "platform/Font.h"
#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"
#include "platform/KeyedArchive.h"

#include "app/model/Presets.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/WatermarkEditorModel.h"

#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

using plat::PlistValue;
namespace key = preset_key;

constexpr std::string_view kWatermarkImagePrefix = "watermark_image";
// Far more stored images than any user keeps; a bound on the name search.
constexpr int kMaxWatermarkImageNumber = 1000000;

PlistValue Integer(std::int64_t value) { return PlistValue(static_cast<long long>(value)); }
PlistValue String(const QString& text) { return PlistValue(text.toStdString()); }
// Single-precision values are stored as their float value widened.
PlistValue Single(double value) { return PlistValue(static_cast<double>(static_cast<float>(value))); }

void Set(PrefDictionary& dictionary, std::string_view name, PlistValue value) {
    dictionary.insert_or_assign(std::string(name), std::move(value));
}

PlistValue CenterArray(QPointF first, QPointF opposite, QSizeF view) {
    return PlistValue(PlistValue::Array{Single(first.x()), Single(first.y()), Single(opposite.x()),
                                        Single(opposite.y()), Single(view.width()), Single(view.height())});
}

// Far beyond any placement on the editor's canvas (550 points on its longer
// side), yet no number that overflows the geometry built from it.
constexpr double kMaxPlacement = 100000.0;

// A placement array: the defaults for elements that are missing, no number
// or out of range (corners within the bound, the view at least a point).
std::array<double, 6> CenterValues(const PrefDictionary* preset, std::string_view name) {
    std::array<double, 6> values{20.0, 20.0, 20.0, 20.0, 550.0, 550.0};
    const auto it = preset ? preset->find(name) : PrefDictionary::const_iterator{};
    if (!preset || it == preset->end()) return values;
    const auto* array = it->second.get<PlistValue::Array>();
    if (!array) return values;
    for (std::size_t i = 0; i < values.size() && i < array->size(); ++i) {
        const double min = i < 4 ? -kMaxPlacement : 1.0;
        if (const auto number = PrefRealValue((*array)[i], min, kMaxPlacement)) values[i] = *number;
    }
    return values;
}

std::optional<plat::Color> ArchivedColor(const PrefDictionary* preset, std::string_view name) {
    const PlistValue::Data* data = PrefData(preset, name);
    return data ? plat::KeyedArchive::unarchiveColor(*data) : std::nullopt;
}

plat::FontRef ArchivedFont(const PrefDictionary* preset) {
    const PlistValue::Data* data = PrefData(preset, key::kTextFontName);
    const auto font = data ? plat::KeyedArchive::unarchiveFont(*data) : std::nullopt;
    return font ? plat::Font::fontWithName(font->postScriptName) : nullptr;
}

void PutColor(PrefDictionary& preset, std::string_view name, const plat::Color& color) {
    if (auto data = plat::KeyedArchive::archiveColor(color)) Set(preset, name, PlistValue(std::move(*data)));
}

int Compare(const PlistValue* a, const PlistValue* b, std::string_view indexKey) {
    const auto index = [indexKey](const PlistValue* preset) -> std::optional<std::int64_t> {
        return preset ? PrefInteger(preset->get<PrefDictionary>(), indexKey) : std::nullopt;
    };
    const auto left = index(a);
    const auto right = index(b);
    if (!left && !right) return 0;
    if (!left) return 1;
    if (!right) return -1;
    return *left < *right ? -1 : (*left > *right ? 1 : 0);
}


}  // namespace

PresetKindInfo InfoForPresetKind(PresetKind kind) {
    switch (kind) {
    case PresetKind::Resize: return {kResizePrefFileFormat, key::kPresetIndex, JobOptionsModel::kFirstResizePresetIndex};
    case PresetKind::Watermark: return {kWaterMarkPrefFileFormat, key::kWaterMarkPresetIndex, 1};
    case PresetKind::Photo: break;
    }
    return {kPhotoPrefFileFormat, key::kPhotoPresetIndex, 1};
}

// --- Order ---

int ComparePresetIndex(const PlistValue* a, const PlistValue* b) { return Compare(a, b, key::kPresetIndex); }
int CompareWaterMarkPresetIndex(const PlistValue* a, const PlistValue* b) {
    return Compare(a, b, key::kWaterMarkPresetIndex);
}
int ComparePhotoPresetIndex(const PlistValue* a, const PlistValue* b) { return Compare(a, b, key::kPhotoPresetIndex); }

QStringList SortedPresetNames(const PrefDictionary& presets, PresetKind kind) {
    using Comparator = int (*)(const PlistValue*, const PlistValue*);
    const Comparator compare = kind == PresetKind::Resize      ? ComparePresetIndex
                               : kind == PresetKind::Watermark ? CompareWaterMarkPresetIndex
                                                               : ComparePhotoPresetIndex;
    std::vector<std::pair<const std::string*, const PlistValue*>> entries;
    entries.reserve(presets.size());
    for (const auto& [name, preset] : presets) {
        // An entry that is no preset could not be applied: no menu item for it.
        if (preset.get<PrefDictionary>()) entries.emplace_back(&name, &preset);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [compare](const auto& a, const auto& b) { return compare(a.second, b.second) < 0; });
    QStringList names;
    names.reserve(static_cast<qsizetype>(entries.size()));
    for (const auto& entry : entries) names.append(QString::fromStdString(*entry.first));
    return names;
}

// --- Names ---

QString UniquePresetName(const QString& proposal, const QStringList& titles) {
    if (!titles.contains(proposal)) return proposal;
    for (long number = 1;; ++number) {
        const QString candidate = proposal + QStringLiteral(" New ") + QString::number(number);
        if (!titles.contains(candidate)) return candidate;
    }
}

QString ResizePresetNameProposal(const JobOptionState& state, const QString& unitTitle) {
    QString name;
    const bool width = state.widthEnabled();
    if (width) name += QStringLiteral("%1 ").arg(static_cast<long long>(state.widthValue()));
    if (state.heightEnabled()) {
        name += width ? QStringLiteral("x %1 ").arg(static_cast<long long>(state.heightValue()))
                      : QStringLiteral("%1 ").arg(static_cast<long long>(state.heightValue()));
    }
    return name + QStringLiteral("(%1)").arg(unitTitle);
}

// --- Save and remove ---

std::int64_t InsertPreset(PrefDictionary& presets, const QString& name, PrefDictionary preset, PresetKind kind) {
    const std::string_view indexKey = InfoForPresetKind(kind).indexKey;
    const std::string stored = name.toStdString();
    std::int64_t index = static_cast<std::int64_t>(presets.size());
    if (const auto old = presets.find(stored); old != presets.end()) {
        const auto* oldPreset = old->second.get<PrefDictionary>();
        index = PrefInteger(oldPreset, indexKey).value_or(static_cast<std::int64_t>(presets.size()));
    }
    Set(preset, indexKey, Integer(index));
    presets.insert_or_assign(stored, PlistValue(std::move(preset)));
    return index;
}

std::optional<std::int64_t> RemovePreset(PrefDictionary& presets, const QString& name, PresetKind kind) {
    const std::string_view indexKey = InfoForPresetKind(kind).indexKey;
    const auto found = presets.find(name.toStdString());
    if (found == presets.end()) return std::nullopt;
    const std::optional<std::int64_t> removed = PrefInteger(found->second.get<PrefDictionary>(), indexKey);
    presets.erase(found);
    if (!removed) return std::nullopt;
    for (auto& [other, value] : presets) {
        auto* preset = value.get<PrefDictionary>();
        const auto index = PrefInteger(preset, indexKey);
        if (index && *index > *removed) Set(*preset, indexKey, Integer(*index - 1));
    }
    return removed;
}

bool UpdateGlobalPhotoPresetDatadDringRemoveAction(PrefDictionary& jobPresets, std::string_view name,
                                                   std::int64_t popupIndex) {
    bool changed = false;
    for (auto& [job, value] : jobPresets) {
        auto* preset = value.get<PrefDictionary>();
        const auto reference = PrefInteger(preset, name);
        if (!reference || *reference < popupIndex) continue;
        Set(*preset, name, Integer(*reference == popupIndex ? 0 : *reference - 1));
        changed = true;
    }
    return changed;
}

// --- Reading the options ---

PrefDictionary GetResizePreferenceValue(const JobOptionState& state) {
    PrefDictionary preset;
    Set(preset, key::kUpscaling, PlistValue(state.upsample));
    Set(preset, key::kSharpen, PlistValue(state.sharpen));
    Set(preset, key::kResolutionFlag, PlistValue(state.resolutionOn));
    if (state.resolutionOn) Set(preset, key::kResolutionValue, String(state.resolutionText));
    Set(preset, key::kScaleOption, Integer(state.scaleOption));
    Set(preset, key::kInputType, Integer(state.unit));
    if (state.widthEnabled()) Set(preset, key::kWidth, String(state.widthText));
    if (state.heightEnabled()) Set(preset, key::kHeight, String(state.heightText));
    Set(preset, key::kResizeState, PlistValue(state.groupOn[kResizeGroup]));
    return preset;
}

PrefDictionary GetWaterMarkPreferenceValue(const WatermarkEditorModel& editor) {
    PrefDictionary preset;
    Set(preset, key::kTextString, String(editor.textString()));
    if (const plat::FontRef font = editor.textFont()) {
        const auto data = plat::KeyedArchive::archiveFont(
            {font->postScriptName(), static_cast<double>(editor.textFontSize())});
        if (data) Set(preset, key::kTextFontName, PlistValue(*data));
    }
    Set(preset, key::kTextFontSize, Integer(editor.textFontSize()));
    Set(preset, key::kDrawingMode, Integer(editor.drawingMode()));
    Set(preset, key::kStrokeWidthName, Integer(editor.strokeWidth()));
    Set(preset, key::kTextOpacity, Single(editor.textOpacity()));
    Set(preset, key::kTextCharSpace, Single(editor.textCharSpace()));
    Set(preset, key::kTextRotationAngle, Integer(editor.textRotationAngle()));
    PutColor(preset, key::kTextFontColor, editor.textFontColor());
    Set(preset, key::kIsDropShadowApplied, PlistValue(editor.isDropShadowApplied()));
    Set(preset, key::kShadowBlur, Integer(editor.shadowBlur()));
    Set(preset, key::kXOffset, Integer(editor.xOffset()));
    Set(preset, key::kYOffset, Integer(editor.yOffset()));
    PutColor(preset, key::kShadowFontColor, editor.textShadowColor());
    Set(preset, key::kTextCenter,
        CenterArray(editor.centerLoc(), editor.nextTextLoc(), editor.imageViewRectForText().size()));
    return preset;
}

PrefDictionary GetPhotoPreferenceValue(const JobOptionState& state, const WatermarkEditorModel& editor,
                                       int watermarkPopupIndex, const std::filesystem::path& imagePath) {
    PrefDictionary preset = GetWaterMarkPreferenceValue(editor);
    Set(preset, key::kTextWatermarkPresetIndex, Integer(watermarkPopupIndex));
    Set(preset, key::kTextWatermarkState, PlistValue(state.groupOn[kTextWatermarkGroup]));
    Set(preset, key::kResizePresetIndex, Integer(state.dimensionIndex));
    preset.merge(GetResizePreferenceValue(state));

    // Conversion.
    Set(preset, key::kImageType, Integer(state.outputType));
    Set(preset, key::kImageQuality, PlistValue(state.qualitySlider));
    Set(preset, key::kConversionState, PlistValue(state.groupOn[kConversionGroup]));
    // Rename: only what the enabled controls hold.
    Set(preset, key::kNameType, Integer(state.renameTag));
    if (state.renameEnabled()) {
        Set(preset, key::kPrefix, String(state.fileNameText));
        Set(preset, key::kNumberType, Integer(state.numberPosition));
    }
    if (state.suffixEnabled()) Set(preset, key::kSuffix, String(state.suffixText));
    if (state.numberControlsEnabled()) {
        Set(preset, key::kLead0, String(state.zeroPaddingText));
        Set(preset, key::kStartFrom, String(state.startDigitText));
    }
    Set(preset, key::kRenameState, PlistValue(state.groupOn[kRenameGroup]));
    // Optimisation.
    Set(preset, key::kOptimizationType, Integer(state.optimizationTag));
    Set(preset, key::kOptimizationState, PlistValue(state.groupOn[kOptimizationGroup]));
    // Image watermark.
    if (!imagePath.empty()) Set(preset, key::kImagePath, PlistValue(imagePath.string()));
    Set(preset, key::kImageOpacity, PlistValue(editor.WatermarkImageOpacity()));
    Set(preset, key::kImageSize, PlistValue(editor.WatermarkImageSize()));
    Set(preset, key::kImageCenter,
        CenterArray(editor.ImageLoc(), editor.nextImageLoc(), editor.imageViewRectForImage().size()));
    Set(preset, key::kImagewatermarkState, PlistValue(state.groupOn[kImageWatermarkGroup]));
    return preset;
}

// --- Applying ---

void ChangeAndSetResizeOptionsFromDict(JobOptionsModel& options, const PrefDictionary* preset) {
    if (!preset) return;
    JobOptionState state = options.state();
    state.unit = static_cast<int>(PrefInteger(preset, key::kInputType, kUnitPercent, kUnitPoints).value_or(kUnitPixels));
    state.currentSizeFormatType = state.unit;
    state.scaleOption = static_cast<int>(PrefInteger(preset, key::kScaleOption, 0, 6).value_or(2));
    options.setState(state);
    options.changeInScaleProportionalityAction(state.scaleOption, false);

    state = options.state();
    if (auto width = PrefString(preset, key::kWidth)) state.widthText = *width;
    if (auto height = PrefString(preset, key::kHeight)) state.heightText = *height;
    state.sharpen = PrefBool(preset, key::kSharpen).value_or(false);
    state.upsample = PrefBool(preset, key::kUpscaling).value_or(false);
    state.resolutionOn = PrefBool(preset, key::kResolutionFlag).value_or(false);
    if (state.resolutionOn) {
        if (auto resolution = PrefString(preset, key::kResolutionValue)) state.resolutionText = *resolution;
    }
    options.setState(state);
}

void ChangeAndSetWaterMarkPrefOptionsFromDict(WatermarkEditorModel& editor, const PrefDictionary* preset) {
    if (!preset) return;
    editor.setTextString(PrefString(preset, key::kTextString).value_or(QString()));
    editor.setTextFont(ArchivedFont(preset));  // null: the default font
    using Editor = WatermarkEditorModel;
    editor.setTextFontSize(
        PrefInteger(preset, key::kTextFontSize, Editor::kMinFontSize, Editor::kMaxFontSize).value_or(Editor::kDefaultFontSize));
    editor.setDrawingMode(static_cast<std::int32_t>(
        PrefInteger(preset, key::kDrawingMode, Editor::kFill, Editor::kFillStroke).value_or(Editor::kFill)));
    editor.setStrokeWidth(PrefInteger(preset, key::kStrokeWidthName, Editor::kMinStrokeWidth, Editor::kMaxFontSize).value_or(1));
    editor.setTextOpacity(PrefReal(preset, key::kTextOpacity, 0.0, 1.0).value_or(Editor::kDefaultTextOpacity));
    const double spacing = PrefReal(preset, key::kTextCharSpace, -Editor::kMaxCharSpace, Editor::kMaxCharSpace).value_or(0.0);
    editor.setSpacingType(spacing < 0.0   ? WatermarkEditorModel::kSpacingCondensed
                          : spacing > 0.0 ? WatermarkEditorModel::kSpacingExpanded
                                          : WatermarkEditorModel::kSpacingNone);
    editor.setTextCharSpace(spacing);
    editor.setTextRotationAngle(PrefInteger(preset, key::kTextRotationAngle, 0, Editor::kMaxRotationAngle).value_or(0));
    editor.setTextFontColor(ArchivedColor(preset, key::kTextFontColor).value_or(plat::Color{1.0, 1.0, 0.0, 1.0}));
    editor.setDropShadowApplied(PrefBool(preset, key::kIsDropShadowApplied).value_or(true));
    editor.setShadowBlur(PrefInteger(preset, key::kShadowBlur, 0, Editor::kMaxShadowBlur).value_or(Editor::kDefaultShadowBlur));
    editor.setXOffset(PrefInteger(preset, key::kXOffset, -Editor::kMaxShadowOffset, Editor::kMaxShadowOffset)
                          .value_or(Editor::kDefaultXOffset));
    editor.setYOffset(PrefInteger(preset, key::kYOffset, -Editor::kMaxShadowOffset, Editor::kMaxShadowOffset)
                          .value_or(Editor::kDefaultYOffset));
    editor.setTextShadowColor(ArchivedColor(preset, key::kShadowFontColor).value_or(plat::Color{0.0, 0.0, 0.0, 1.0}));

    const auto text = CenterValues(preset, key::kTextCenter);
    editor.setCenterLoc({text[0], text[1]});
    editor.setNextTextLoc({text[2], text[3]});
    editor.setImageViewRectForText(QRectF(0.0, 0.0, text[4], text[5]));
    const auto image = CenterValues(preset, key::kImageCenter);
    editor.setImageLoc({image[0], image[1]});
    editor.setNextImageLoc({image[2], image[3]});
    editor.setImageViewRectForImage(QRectF(0.0, 0.0, image[4], image[5]));
}

int StoredPopupIndex(const PrefDictionary* preset, std::string_view name, int itemCount) {
    return static_cast<int>(PrefInteger(preset, name, 0, itemCount - 1).value_or(0));
}

void ApplyPhotoPresetOptions(JobOptionsModel& options, const PrefDictionary& preset) {
    // Conversion.
    options.SetImageTypeSecondaryOption(
        static_cast<int>(PrefInteger(&preset, key::kImageType, kImageTypeSource, kImageTypeWebP).value_or(0)), false);
    if (auto quality = PrefReal(&preset, key::kImageQuality, 0.0, 1.0)) options.changeImageQualityAction(*quality, false);

    // Rename.
    if (auto nameType = PrefInteger(&preset, key::kNameType, kRenameNewName, kRenamePrefixSuffix)) {
        options.ChangeRenameOptionActions(static_cast<int>(*nameType), false);
    }
    JobOptionState state = options.state();
    if (auto prefix = PrefString(&preset, key::kPrefix)) state.fileNameText = *prefix;
    if (auto suffix = PrefString(&preset, key::kSuffix)) state.suffixText = *suffix;
    options.setState(state);
    if (auto position = PrefInteger(&preset, key::kNumberType, kNumberAfterName, kNoNumber)) {
        options.changeAddNumberPositionPopupAction(static_cast<int>(*position), false);
    }
    state = options.state();
    if (auto padding = PrefString(&preset, key::kLead0)) {
        state.zeroPaddingText = *padding;
        state.zeroPaddingStepper = state.zeroPaddingValue();
    }
    if (auto start = PrefString(&preset, key::kStartFrom)) {
        state.startDigitText = *start;
        state.startDigitStepper = state.startDigitValue();
    }
    options.setState(state);
    options.updateRenameExampleString();

    // Optimisation.
    options.changeOptimizationOptionAction(
        static_cast<int>(PrefInteger(&preset, key::kOptimizationType, 0, kOptimizeJPEG | kOptimizePNG).value_or(kOptimizeJPEG)),
        false);

    // Image watermark: an image that cannot be read leaves the well empty
    // rather than showing the previous preset's image.
    if (WatermarkEditorModel* editor = options.watermark()) {
        const auto path = PrefString(&preset, key::kImagePath);
        editor->setWatermarkImage(path ? LoadWatermarkImage(path->toStdString()) : nullptr);
        using Editor = WatermarkEditorModel;
        editor->setWatermarkImageOpacity(PrefReal(&preset, key::kImageOpacity, 0.0, 1.0).value_or(Editor::kDefaultImageOpacity));
        editor->setWatermarkImageSize(
            PrefReal(&preset, key::kImageSize, Editor::kMinWatermarkImageSize, 1.0).value_or(Editor::kDefaultImageSize));
    }
}

// --- Stored watermark images ---

std::filesystem::path WatermarkImageFolder() {
    return GetApplicationSupportSubfolder("Vantrell");
}

std::filesystem::path GetWatermarkImageFilePath() {
    const std::filesystem::path folder = WatermarkImageFolder();
    if (folder.empty()) return {};
    for (int number = 1; number <= kMaxWatermarkImageNumber; ++number) {
        std::filesystem::path path = folder / (std::string(kWatermarkImagePrefix) + std::to_string(number));
        // Reserved exclusively, so two saves never share a name.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

std::filesystem::path StoreWatermarkImage(const plat::ImageRef& image) {
    if (!image) return {};
    const std::filesystem::path path = GetWatermarkImageFilePath();
    if (path.empty()) return {};
    auto destination = plat::ImageDestination::CreateWithData("public.tiff");
    bool written = false;
    if (destination) {
        destination->addImage(image);
        written = destination->finalize() && !destination->data().empty() &&
                  plat::FileManager::createFile(path, destination->data());
    }
    if (!written) {
        plat::FileManager::removeItem(path);
        return {};
    }
    return path;
}

void RemoveFileIfExists(const std::filesystem::path& path) {
    if (path.empty()) return;
    static const QRegularExpression storedName(QStringLiteral("^watermark_image[1-9][0-9]*$"));
    if (!storedName.match(QString::fromStdString(path.filename().string())).hasMatch()) return;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(WatermarkImageFolder(), error);
    if (error) return;
    const std::filesystem::path parent = std::filesystem::weakly_canonical(path.parent_path(), error);
    if (error || parent != folder || !plat::FileManager::isRegularFile(path)) return;
    plat::FileManager::removeItem(path);
}

plat::ImageRef LoadWatermarkImage(const std::filesystem::path& path) {
    if (path.empty() || !plat::FileManager::isRegularFile(path)) return nullptr;
    std::optional<plat::ImageRep> rep = plat::ImageRep::Load(path);
    return rep ? rep->image() : nullptr;
}
