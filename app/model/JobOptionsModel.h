#pragma once

#include "app/model/ImageMetrics.h"
#include "app/model/JobOptionState.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

class WatermarkEditorModel;

// What the option controls need to know about the image list: its size and
// the selected entry, whose pixel size and resolution drive the unit
// conversions. Sizes of 0 are "not known yet".
struct SelectedImageInfo {
    std::int64_t listCount = 0;
    std::int64_t selectedRow = -1;  // currentSelectedImageIndex; negative: none
    std::filesystem::path url;
    QString title;                  // the entry's file name
    double pixelWidth = 0.0;
    double pixelHeight = 0.0;
    double dpi = 0.0;
};
using SelectedImageProvider = std::function<SelectedImageInfo()>;


// The job's option groups without widgets: the controller's handling of the
// option controls (quality slider, field and stepper in step; rename and
// numbering; resize units, scale options and dimension presets; group
// switches; defaults). The widgets call the actions below with the value the
// user chose and show state() again on stateChanged().
//
// `user` stands for an action with a sender: only user changes end in
// userChangedOption(), which the controller turns into its common tail
// (preset menu back to custom, preview refresh). Main thread only.
class JobOptionsModel : public QObject {
    Q_OBJECT
public:
    // Dimension-menu items: presets in pixels, and the first user preset.
    static constexpr int kFirstResizePresetIndex = 11;

    explicit JobOptionsModel(WatermarkEditorModel* watermark, QObject* parent = nullptr);

    const JobOptionState& state() const { return state_; }
    // Replaces the whole state (presets); shows it, counts as no user edit.
    void setState(const JobOptionState& state);
    WatermarkEditorModel* watermark() const { return watermark_; }

    void setSelectedImageProvider(SelectedImageProvider provider) { selectedImageProvider_ = std::move(provider); }
    SelectedImageInfo selectedImage() const;
    // Pixel size and resolution of the selected entry; what the entry does not
    // know yet is read from its file. None without a selection or when the
    // file tells nothing usable.
    std::optional<ImageMetrics> selectedImageMetrics() const;

    // --- Conversion ---
    void SetImageTypeSecondaryOption(int tag, bool user);
    void changeImageQualityAction(double sliderValue, bool user);
    void ImageQualityStepperControlDidChange(int value, bool user);
    void imageQualityTextDidChange(const QString& text);

    // --- Optimisation ---
    void changeOptimizationOptionAction(int tag, bool user);

    // --- Rename ---
    void ChangeRenameOptionActions(int tag, bool user);
    void changeAddNumberPositionPopupAction(int tag, bool user);
    void ZeroPaddingStepperControlDidChange(int value, bool user);
    void StartDigitStepperControlDidChange(std::int64_t value, bool user);
    void fileNameTextDidChange(const QString& text);
    void suffixTextDidChange(const QString& text);
    void zeroPaddingTextDidChange(const QString& text);
    void startDigitTextDidChange(const QString& text);
    // The example name under the rename controls, from the selected entry.
    void updateRenameExampleString();

    // --- Resize ---
    void changeResizeOptionAction(bool user);
    void widthTextDidChange(const QString& text);
    void heightTextDidChange(const QString& text);
    void resolutionTextDidChange(const QString& text);
    void changeInScaleProportionalityAction(int tag, bool user);
    void changeImageResizeTypePopupAction(int tag, bool user);
    void changeImageDimentionPopupAction(int index, bool user);
    void setUpsample(bool on, bool user);
    void setSharpen(bool on, bool user);
    void setResolutionOn(bool on, bool user);
    // Names of the user's resize presets, shown after the built-in items.
    void setResizePresetNames(const QStringList& names);
    const QStringList& resizePresetNames() const { return resizePresetNames_; }

    // Unit conversions through the selected image (nullopt: no text).
    std::optional<QString> GetSizebasedOnImageResizeTypeForWidth(double value, int newUnit) const;
    std::optional<QString> GetSizebasedOnImageResizeTypeForHeight(double value, int newUnit) const;
    static std::optional<QString> GetStringValueFromNumberForType(int unit, double value);
    // Width and height texts of a unit when no image is selected.
    static std::optional<std::pair<QString, QString>> NoImageSizeTexts(int unit);

    // --- General check boxes ---
    void setExtraOption(bool GeneralOptions::*option, bool on, bool user);
    void setDoNotShowPNGOptimizationAlert(bool on);
    void PreserveCreationDateAction(bool on, bool user);

    // --- Group switches (called before the group's state changes) ---
    void ConversionOnOffAction(bool on);
    void OptimizeOnOffAction(bool on);
    void RenameOnOffAction(bool on);
    void ResizeOnOffAction(bool on);
    void TextWatermarkOnOffAction(bool on);
    void ImageWatermarkOnOffAction(bool on);
    // Any group, by index; an index outside 0..5 does nothing.
    void SwitchGroup(int group, bool on);

    // --- Defaults ---
    void DefaultImageConversionOption();
    void DefaultOptimizationOption();
    void DefaultResizeOption();
    void DefaultWatermarkTextOption();
    void DefaultWatermarkImageOption();
    void DefaultExtraOptions();

    // Byte count as the image list shows it (steps of 1000).
    static QString formattedFileSize(std::uint64_t bytes);

signals:
    // The state changed: the widgets show it again.
    void stateChanged();
    // The user changed an option (the controller's common tail).
    void userChangedOption();
    // A user resize preset was chosen from the dimension menu.
    void resizePresetChosen(const QString& name);
    // The text watermark defaults are asked for: the watermark preset menu
    // applies its selected item.
    void watermarkPresetReapplyRequested();
    // The watermark editor should be shown or hidden.
    void watermarkEditorVisibilityChanged(bool visible);

private:
    void tail(bool user);
    void refreshExample();
    void changed();
    void updateWatermarkEditorVisibility(int group, bool on);
    static std::optional<double> toPixels(double value, int unit, double imageExtent, const ImageMetrics& image);
    // A width or height in the current unit, in `newUnit` through the image.
    std::optional<QString> convertSize(double value, int newUnit, bool height, const ImageMetrics& image) const;
    static std::optional<double> fromPixels(double pixels, int unit, double imageExtent, const ImageMetrics& image);

    WatermarkEditorModel* watermark_;
    JobOptionState state_;
    SelectedImageProvider selectedImageProvider_;
    QStringList resizePresetNames_;
};
