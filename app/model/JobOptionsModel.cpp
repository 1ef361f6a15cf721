#include "app/model/JobOptionsModel.h"

#include "app/model/NumberScanner.h"
#include "app/model/OutputNaming.h"
#include "app/model/WatermarkEditorModel.h"

#include <cmath>
#include <limits>

namespace {

// The length factors are single-precision constants widened to double, so
// the texts come out as the controls have always shown them.
constexpr double kCentimetresPerInch = static_cast<double>(2.54f);
constexpr double kMillimetresPerInch = static_cast<double>(25.4f);
constexpr double kPointsPerInch = 72.0;
constexpr std::int64_t kMaxZeroPadding = 9;
constexpr std::int64_t kStartDigitLimit = 2147483648LL;  // first refused start number
constexpr int kMaxQuality = 100;

struct DimensionPreset {
    int index;
    int width;
    int height;
};
constexpr DimensionPreset kDimensionPresets[] = {
    {2, 320, 240},   {3, 640, 480},   {4, 800, 600},    {5, 1024, 768},
    {6, 1280, 1024}, {8, 1280, 720},  {9, 1920, 1080},
};

bool KeepsProportionsWithPixels(int scaleOption) {
    return scaleOption == 2 || scaleOption == 5 || scaleOption == 6;
}

}  // namespace

// --- JobOptionState -----------------------------------------------------------------------

double JobOptionState::widthValue() const {
    return LeadingReal(widthText, std::numeric_limits<double>::max());
}

double JobOptionState::heightValue() const {
    return LeadingReal(heightText, std::numeric_limits<double>::max());
}

std::int64_t JobOptionState::resolutionValue() const {
    return LeadingInteger(resolutionText, std::numeric_limits<std::int64_t>::min(),
                          std::numeric_limits<std::int64_t>::max());
}

int JobOptionState::zeroPaddingValue() const {
    return static_cast<int>(LeadingInteger(zeroPaddingText, 0, kMaxZeroPadding));
}

std::int64_t JobOptionState::startDigitValue() const {
    return LeadingInteger(startDigitText, 0, kStartDigitLimit - 1);
}

// --- JobOptionsModel ----------------------------------------------------------------------

JobOptionsModel::JobOptionsModel(WatermarkEditorModel* watermark, QObject* parent)
    : QObject(parent), watermark_(watermark) {}

void JobOptionsModel::setState(const JobOptionState& state) {
    state_ = state;
    changed();
}

void JobOptionsModel::changed() {
    emit stateChanged();
}

void JobOptionsModel::tail(bool user) {
    changed();
    if (user) emit userChangedOption();
}

SelectedImageInfo JobOptionsModel::selectedImage() const {
    return selectedImageProvider_ ? selectedImageProvider_() : SelectedImageInfo{};
}

std::optional<ImageMetrics> JobOptionsModel::selectedImageMetrics() const {
    const SelectedImageInfo info = selectedImage();
    if (info.selectedRow < 0) return std::nullopt;
    // What the entry has not measured yet is read from its file, so a
    // conversion never divides by an unknown size.
    const ImageMetrics metrics =
        CompleteImageMetricsFromFile({info.pixelWidth, info.pixelHeight, info.dpi}, info.url);
    if (!metrics.complete()) return std::nullopt;
    return metrics;
}

// --- Conversion ---

void JobOptionsModel::SetImageTypeSecondaryOption(int tag, bool user) {
    state_.outputType = tag;
    tail(user);
}

void JobOptionsModel::changeImageQualityAction(double sliderValue, bool user) {
    if (!std::isfinite(sliderValue)) sliderValue = 0.0;
    state_.qualitySlider = std::clamp(sliderValue, 0.0, 1.0);
    const int quality = static_cast<int>(std::lround(static_cast<float>(state_.qualitySlider) * 100.0f));
    state_.qualityStepper = quality;
    state_.qualityText = QString::number(quality);
    tail(user);
}

void JobOptionsModel::ImageQualityStepperControlDidChange(int value, bool user) {
    state_.qualityStepper = std::clamp(value, 0, kMaxQuality);
    state_.qualityText = QString::number(state_.qualityStepper);
    state_.qualitySlider = state_.qualityStepper / 100.0;
    tail(user);
}

void JobOptionsModel::imageQualityTextDidChange(const QString& text) {
    state_.qualityText = text;
    if (!text.isEmpty()) {
        std::int64_t n = LeadingInteger(text, std::numeric_limits<std::int64_t>::min(),
                                        std::numeric_limits<std::int64_t>::max());
        if (n < 0) {
            // A pasted negative number would drive the slider below its range.
            n = 0;
            state_.qualityText = QStringLiteral("0");
        }
        if (n <= kMaxQuality) {
            state_.qualityStepper = static_cast<int>(n);
            state_.qualitySlider = n / 100.0;
        } else {
            state_.qualityText = QString::number(state_.qualityStepper);
            state_.qualitySlider = state_.qualityStepper / 100.0;
        }
    }
    tail(true);
}

// --- Optimisation ---

void JobOptionsModel::changeOptimizationOptionAction(int tag, bool user) {
    state_.optimizationTag = tag;
    tail(user);
}

// --- Rename ---

void JobOptionsModel::ChangeRenameOptionActions(int tag, bool user) {
    state_.renameTag = tag;
    if (tag == kRenameNewName) {
        state_.fileNamePlaceholder = QStringLiteral("Type new filename");
        state_.suffixPlaceholder.clear();
    } else if (tag == kRenamePrefixSuffix) {
        state_.fileNamePlaceholder = QStringLiteral("Type prefix to filename");
        state_.suffixPlaceholder = QStringLiteral("Type suffix to filename");
    }
    refreshExample();
    tail(user);
}

void JobOptionsModel::changeAddNumberPositionPopupAction(int tag, bool user) {
    state_.numberPosition = tag;
    refreshExample();
    tail(user);
}

void JobOptionsModel::ZeroPaddingStepperControlDidChange(int value, bool user) {
    state_.zeroPaddingStepper = static_cast<int>(std::clamp<std::int64_t>(value, 0, kMaxZeroPadding));
    state_.zeroPaddingText = QString::number(state_.zeroPaddingStepper);
    refreshExample();
    tail(user);
}

void JobOptionsModel::StartDigitStepperControlDidChange(std::int64_t value, bool user) {
    state_.startDigitStepper = std::clamp<std::int64_t>(value, 0, kStartDigitLimit - 1);
    state_.startDigitText = QString::number(state_.startDigitStepper);
    refreshExample();
    tail(user);
}

void JobOptionsModel::fileNameTextDidChange(const QString& text) {
    state_.fileNameText = text;
    refreshExample();
    tail(true);
}

void JobOptionsModel::suffixTextDidChange(const QString& text) {
    state_.suffixText = text;
    refreshExample();
    tail(true);
}

namespace {

// A typed number for a field with a stepper: accepted below `limit` (a clean
// negative number counts as 0), otherwise the stepper's value comes back.
template <typename Stepper>
void TakeSteppedNumber(const QString& text, std::int64_t limit, QString& field, Stepper& stepper) {
    field = text;
    if (text.isEmpty()) return;
    const std::int64_t n =
        LeadingInteger(text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
    if (n < 0) {
        stepper = 0;
        field = QStringLiteral("0");
    } else if (n < limit) {
        stepper = static_cast<Stepper>(n);
    } else {
        field = QString::number(stepper);
    }
}

}  // namespace

void JobOptionsModel::zeroPaddingTextDidChange(const QString& text) {
    TakeSteppedNumber(text, kMaxZeroPadding + 1, state_.zeroPaddingText, state_.zeroPaddingStepper);
    refreshExample();
    tail(true);
}

void JobOptionsModel::startDigitTextDidChange(const QString& text) {
    TakeSteppedNumber(text, kStartDigitLimit, state_.startDigitText, state_.startDigitStepper);
    refreshExample();
    tail(true);
}

void JobOptionsModel::updateRenameExampleString() {
    refreshExample();
    changed();
}

void JobOptionsModel::refreshExample() {
    // A switched-off rename group shows "-" without a tool tip.
    if (!state_.groupOn[kRenameGroup]) {
        state_.exampleText = QStringLiteral("-");
        state_.exampleToolTip.clear();
        return;
    }
    state_.exampleText = RenameExampleString(state_, selectedImage());
    state_.exampleToolTip = state_.exampleText;
}

// --- Resize ---

void JobOptionsModel::changeResizeOptionAction(bool user) {
    if (!user) return;
    state_.dimensionIndex = 0;
    tail(true);
}

void JobOptionsModel::widthTextDidChange(const QString& text) {
    state_.widthText = text;
    changeResizeOptionAction(true);
}

void JobOptionsModel::heightTextDidChange(const QString& text) {
    state_.heightText = text;
    changeResizeOptionAction(true);
}

void JobOptionsModel::resolutionTextDidChange(const QString& text) {
    state_.resolutionText = text;
    changeResizeOptionAction(true);
}

void JobOptionsModel::changeInScaleProportionalityAction(int tag, bool user) {
    const int newOption = tag;
    const int oldOption = state_.currentScaleOption;
    if (newOption == oldOption || newOption < 0 || newOption > 6) return;

    // The text a field may receive: the value that stood alone, or (with an
    // image in a length unit) the other side worked out in proportion.
    std::optional<QString> text;
    const std::optional<ImageMetrics> image = selectedImageMetrics();
    if (!image || state_.unit == kUnitPercent || (oldOption >= 2 && oldOption <= 6)) {
        if (oldOption == 1) text = state_.heightText;
        else if (oldOption == 0) text = state_.widthText;
        else if (newOption == 1) text = state_.heightText;
        else if (newOption == 0) text = state_.widthText;
    } else if (oldOption == 0) {
        text = GetStringValueFromNumberForType(state_.unit,
                                               static_cast<float>(state_.widthValue()) * image->height / image->width);
    } else if (oldOption == 1) {
        text = GetStringValueFromNumberForType(state_.unit,
                                               static_cast<float>(state_.heightValue()) * image->width / image->height);
    } else {
        text = QString();
    }

    if (newOption == 0 || newOption == 1) {
        state_.lockLinesShown = true;
        state_.locked = true;
        QString& editable = newOption == 0 ? state_.widthText : state_.heightText;
        QString& other = newOption == 0 ? state_.heightText : state_.widthText;
        if (text) editable = *text;
        other.clear();
        (newOption == 0 ? state_.heightPlaceholder : state_.widthPlaceholder) = QStringLiteral("Auto");
        (newOption == 0 ? state_.widthPlaceholder : state_.heightPlaceholder).clear();
        state_.percentUnitEnabled = true;
    } else {
        if (oldOption == 0 || oldOption == 1) {
            QString& reopened = oldOption == 0 ? state_.heightText : state_.widthText;
            if (text) reopened = *text;
        }
        state_.widthPlaceholder.clear();
        state_.heightPlaceholder.clear();
        if (KeepsProportionsWithPixels(newOption)) {
            state_.lockLinesShown = true;
            state_.locked = true;
        } else {
            state_.lockLinesShown = false;
            state_.locked = false;
            state_.percentUnitEnabled = true;
        }
    }
    state_.scaleOption = newOption;
    changeResizeOptionAction(user);
    state_.currentScaleOption = newOption;

    if (KeepsProportionsWithPixels(newOption)) {
        // A percentage cannot fit an image into a box: switch to pixels.
        if (state_.unit == kUnitPercent) {
            state_.unit = kUnitPixels;
            changeImageResizeTypePopupAction(kUnitPixels, false);
        }
        state_.percentUnitEnabled = false;
    }
    changed();
}

std::optional<double> JobOptionsModel::toPixels(double value, int unit, double imageExtent,
                                                const ImageMetrics& image) {
    switch (unit) {
    case kUnitPercent: return value * imageExtent / 100.0;
    case kUnitPixels: return value;
    case kUnitInches: return value * image.dpi;
    case kUnitCentimetres: return value / kCentimetresPerInch * image.dpi;
    case kUnitMillimetres: return value / kMillimetresPerInch * image.dpi;
    case kUnitPoints: return value * (image.dpi / kPointsPerInch);
    default: return std::nullopt;
    }
}

std::optional<double> JobOptionsModel::fromPixels(double pixels, int unit, double imageExtent,
                                                  const ImageMetrics& image) {
    switch (unit) {
    case kUnitPercent: return pixels * 100.0 / imageExtent;
    case kUnitPixels: return pixels;
    case kUnitInches: return pixels / image.dpi;
    case kUnitCentimetres: return pixels / image.dpi * kCentimetresPerInch;
    case kUnitMillimetres: return pixels / image.dpi * kMillimetresPerInch;
    case kUnitPoints: return pixels * kPointsPerInch / image.dpi;
    default: return std::nullopt;
    }
}

std::optional<QString> JobOptionsModel::convertSize(double value, int newUnit, bool height,
                                                    const ImageMetrics& image) const {
    const double extent = height ? image.height : image.width;
    const std::optional<double> pixels = toPixels(value, state_.currentSizeFormatType, extent, image);
    if (!pixels) return std::nullopt;
    const std::optional<double> converted = fromPixels(*pixels, newUnit, extent, image);
    return converted ? GetStringValueFromNumberForType(newUnit, *converted) : std::nullopt;
}

std::optional<QString> JobOptionsModel::GetSizebasedOnImageResizeTypeForWidth(double value, int newUnit) const {
    const std::optional<ImageMetrics> image = selectedImageMetrics();
    return image ? convertSize(value, newUnit, false, *image) : std::nullopt;
}

std::optional<QString> JobOptionsModel::GetSizebasedOnImageResizeTypeForHeight(double value, int newUnit) const {
    const std::optional<ImageMetrics> image = selectedImageMetrics();
    return image ? convertSize(value, newUnit, true, *image) : std::nullopt;
}

std::optional<QString> JobOptionsModel::GetStringValueFromNumberForType(int unit, double value) {
    if (unit == kUnitPixels) return QString::asprintf("%.0f", value);
    if (unit >= kUnitPercent && unit <= kUnitPoints) return QString::asprintf("%.2f", value);
    return std::nullopt;
}

std::optional<std::pair<QString, QString>> JobOptionsModel::NoImageSizeTexts(int unit) {
    switch (unit) {
    case kUnitPercent: return std::pair{QStringLiteral("100"), QStringLiteral("100")};
    case kUnitPixels: return std::pair{QStringLiteral("800"), QStringLiteral("600")};
    case kUnitInches: return std::pair{QStringLiteral("11.11"), QStringLiteral("8.33")};
    case kUnitCentimetres: return std::pair{QStringLiteral("28.22"), QStringLiteral("21.17")};
    case kUnitMillimetres: return std::pair{QStringLiteral("282.22"), QStringLiteral("211.67")};
    case kUnitPoints: return std::pair{QStringLiteral("800"), QStringLiteral("600")};
    default: return std::nullopt;
    }
}

void JobOptionsModel::changeImageResizeTypePopupAction(int tag, bool user) {
    if (tag == state_.currentSizeFormatType) return;
    std::optional<QString> width;
    std::optional<QString> height;
    // One look at the selected image for both fields.
    const std::optional<ImageMetrics> image = selectedImageMetrics();
    if (!image) {
        const auto texts = NoImageSizeTexts(tag);
        if (!texts) return;
        width = texts->first;
        height = texts->second;
    } else {
        const float widthValue = static_cast<float>(state_.widthValue());
        const float heightValue = static_cast<float>(state_.heightValue());
        if (state_.currentScaleOption != 1) width = convertSize(widthValue, tag, false, *image);
        if (state_.currentScaleOption != 0) height = convertSize(heightValue, tag, true, *image);
    }
    state_.unit = tag;
    if (state_.currentScaleOption != 1 && width) state_.widthText = *width;
    if (state_.currentScaleOption != 0 && height) state_.heightText = *height;
    state_.currentSizeFormatType = tag;
    changeResizeOptionAction(user);
    changed();
}

void JobOptionsModel::changeImageDimentionPopupAction(int index, bool user) {
    if (index >= kFirstResizePresetIndex) {
        const int preset = index - kFirstResizePresetIndex;
        if (preset >= resizePresetNames_.size()) return;
        emit resizePresetChosen(resizePresetNames_.at(preset));
    } else {
        const DimensionPreset* chosen = nullptr;
        for (const DimensionPreset& preset : kDimensionPresets) {
            if (preset.index == index) chosen = &preset;
        }
        if (!chosen) return;  // custom values and the dividers
        state_.unit = kUnitPixels;
        state_.currentSizeFormatType = kUnitPixels;
        changeInScaleProportionalityAction(2, false);
        state_.widthText = QString::number(chosen->width);
        state_.heightText = QString::number(chosen->height);
        state_.upsample = false;
        state_.sharpen = false;
        state_.resolutionOn = false;
    }
    state_.dimensionIndex = index;
    tail(user);
}

void JobOptionsModel::setUpsample(bool on, bool user) {
    state_.upsample = on;
    changeResizeOptionAction(user);
    changed();
}

void JobOptionsModel::setSharpen(bool on, bool user) {
    state_.sharpen = on;
    changeResizeOptionAction(user);
    changed();
}

void JobOptionsModel::setResolutionOn(bool on, bool user) {
    state_.resolutionOn = on;
    changeResizeOptionAction(user);
    changed();
}

void JobOptionsModel::setResizePresetNames(const QStringList& names) {
    resizePresetNames_ = names;
    if (state_.dimensionIndex >= kFirstResizePresetIndex + names.size()) state_.dimensionIndex = 0;
    changed();
}

// --- General check boxes ---

void JobOptionsModel::setExtraOption(bool GeneralOptions::*option, bool on, bool user) {
    state_.general.*option = on;
    tail(user);
}

void JobOptionsModel::setDoNotShowPNGOptimizationAlert(bool on) {
    state_.doNotShowPNGOptimizationAlert = on;
    changed();
}

void JobOptionsModel::PreserveCreationDateAction(bool on, bool user) {
    state_.general.preserveCreationDate = on;
    tail(user);
}

// --- Group switches ---

void JobOptionsModel::ConversionOnOffAction(bool on) {
    state_.groupOn[kConversionGroup] = on;
    changed();
}

void JobOptionsModel::OptimizeOnOffAction(bool on) {
    state_.groupOn[kOptimizationGroup] = on;
    changed();
}

void JobOptionsModel::RenameOnOffAction(bool on) {
    state_.groupOn[kRenameGroup] = on;
    if (on) {
        ChangeRenameOptionActions(state_.renameTag, false);
    } else {
        state_.fileNamePlaceholder.clear();
        state_.suffixPlaceholder.clear();
        state_.exampleText = QStringLiteral("-");
        state_.exampleToolTip.clear();
    }
    changed();
}

void JobOptionsModel::ResizeOnOffAction(bool on) {
    state_.groupOn[kResizeGroup] = on;
    changed();
}

void JobOptionsModel::TextWatermarkOnOffAction(bool on) {
    state_.groupOn[kTextWatermarkGroup] = on;
    if (watermark_) watermark_->setTextWatermarkFlag(on);
    updateWatermarkEditorVisibility(kTextWatermarkGroup, on);
    changed();
}

void JobOptionsModel::ImageWatermarkOnOffAction(bool on) {
    state_.groupOn[kImageWatermarkGroup] = on;
    if (watermark_) watermark_->setImageWatermarkFlag(on);
    updateWatermarkEditorVisibility(kImageWatermarkGroup, on);
    changed();
}

void JobOptionsModel::updateWatermarkEditorVisibility(int group, bool on) {
    if (selectedImage().listCount <= 0) return;
    const int other = group == kTextWatermarkGroup ? kImageWatermarkGroup : kTextWatermarkGroup;
    if (on) emit watermarkEditorVisibilityChanged(true);
    else if (!state_.groupOn[static_cast<std::size_t>(other)]) emit watermarkEditorVisibilityChanged(false);
}

void JobOptionsModel::SwitchGroup(int group, bool on) {
    switch (group) {
    case kConversionGroup: ConversionOnOffAction(on); break;
    case kOptimizationGroup: OptimizeOnOffAction(on); break;
    case kRenameGroup: RenameOnOffAction(on); break;
    case kResizeGroup: ResizeOnOffAction(on); break;
    case kTextWatermarkGroup: TextWatermarkOnOffAction(on); break;
    case kImageWatermarkGroup: ImageWatermarkOnOffAction(on); break;
    default: break;
    }
}

// --- Defaults ---

void JobOptionsModel::DefaultImageConversionOption() {
    SetImageTypeSecondaryOption(0, false);
    changeImageQualityAction(static_cast<double>(0.8f), false);
}

void JobOptionsModel::DefaultOptimizationOption() {
    changeOptimizationOptionAction(kOptimizeJPEG, false);
}

void JobOptionsModel::DefaultResizeOption() {
    // Counts as a change by the controller: the dimension menu goes back to
    // its custom item and the common tail runs.
    changeResizeOptionAction(true);
    state_.scaleOption = 0;
    state_.resolutionOn = false;
    state_.sharpen = false;
    state_.upsample = false;
    state_.resolutionText = QStringLiteral("72");
    state_.unit = kUnitPercent;
    state_.widthText = QStringLiteral("100");
    state_.widthPlaceholder.clear();
    state_.heightText.clear();
    state_.heightPlaceholder = QStringLiteral("Auto");
    state_.lockLinesShown = true;
    state_.locked = true;
    state_.percentUnitEnabled = true;
    state_.currentSizeFormatType = kUnitPercent;
    state_.currentScaleOption = 0;
    changed();
}

void JobOptionsModel::DefaultWatermarkTextOption() {
    emit watermarkPresetReapplyRequested();
}

void JobOptionsModel::DefaultWatermarkImageOption() {
    if (!watermark_) return;
    watermark_->setWatermarkImage(nullptr);
    watermark_->setWatermarkImageOpacity(WatermarkEditorModel::kDefaultImageOpacity);
    watermark_->setWatermarkImageSize(WatermarkEditorModel::kDefaultImageSize);
}

void JobOptionsModel::DefaultExtraOptions() {
    state_.general = {};
    PreserveCreationDateAction(state_.general.preserveCreationDate, false);
}

QString JobOptionsModel::formattedFileSize(std::uint64_t bytes) {
    const double count = static_cast<double>(bytes);
    if (bytes == 0) return {};
    if (count < 1000.0) return QStringLiteral("%1 bytes").arg(bytes);
    if (count < 1000000.0) return QString::asprintf("%.1f KB", count / 1000.0);
    if (count < 1000000000.0) return QString::asprintf("%.2f MB", count / 1000000.0);
    return QString::asprintf("%.3f GB", count / 1000000000.0);
}
