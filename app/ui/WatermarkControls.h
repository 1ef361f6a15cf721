#pragma once

#include "platform/FontRef.h"

#include <QDoubleSpinBox>
#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <vector>

class ColorWell;
class CharSpaceField;
class FontSizeNumberField;
class KSMNumberTextField;
class KSMStepper;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;
class RotationAngleNumberField;
class ShadowBlurNumberField;
class ShadowXOffsetNumberField;
class ShadowYOffsetNumberField;
class WatermarkEditorModel;

// The spacing stepper: its increment may be negative (condensed spacing
// grows downwards) and changes with the magnitude.
class CharSpaceStepper : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit CharSpaceStepper(QWidget* parent = nullptr);
    double increment() const { return increment_; }
    void setIncrement(double increment) { increment_ = increment; }
    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }

private:
    double increment_ = 0.1;
};

// The controls of the text watermark rows (TextWatermarkView1 to 5) and the
// image watermark row (ImageWatermarkView): each action sets the watermark
// editor's model, keeps the slider, field and stepper of its setting in step
// and enforces the upper limits; text-watermark changes by the user put the
// watermark preset menu back to its first item. Every user change ends in
// optionChanged(sender), the controller's common tail. Each control's
// objectName is its outlet name. Main thread only.
class WatermarkControls : public QObject {
    Q_OBJECT
public:
    // Builds the rows as children of `store`.
    explicit WatermarkControls(QWidget* store);

    // The rows by outlet name, each as high as its controls need.
    const std::vector<QWidget*>& panels() const { return panels_; }

    void bind(WatermarkEditorModel* model);
    WatermarkEditorModel* model() const { return model_; }
    // Shows the model's values in every control (after presets, defaults or
    // the font chooser changed them).
    void refresh();

    // Where a chosen watermark image file comes from (an open dialog on the
    // window); tests answer it themselves.
    using ImageFileChooser = std::function<void(QWidget* parent, std::function<void(std::filesystem::path)> chosen)>;
    static ImageFileChooser& imageFileChooser();
    // The chooser's filter: the image types the application reads.
    static QString ImageFilesNameFilter();

    // --- Tails ---
    void changeTextWatermarkOption(QObject* sender);
    void changeImageWatermarkOption(QObject* sender);

    // --- Actions ---
    void takeFontColorFrom(QObject* sender);
    void takeShadowColorFrom(QObject* sender);
    void ChangeCGDrawingMode(QObject* sender);
    void DropShadowApplied(QObject* sender);
    void FontSizeStepperControlDidChange(QObject* sender);
    void StrokeWidthStepperControlDidChange(QObject* sender);
    void ShadowBlurStepperControlDidChange(QObject* sender);
    void xOffsetStepperControlDidChange(QObject* sender);
    void yOffsetStepperControlDidChange(QObject* sender);
    void angleStepperControlDidChange(QObject* sender);
    void takeRotationAngleFrom(QObject* sender);
    void TextOpacityStepperControlDidChange(QObject* sender);
    void takeTextOpacityFrom(QObject* sender);
    void WatermarkImageOpacityStepperControlDidChange(QObject* sender);
    void WatermarkImageSizeStepperControlDidChange(QObject* sender);
    void takeWatermarkImageOpacityFrom(QObject* sender);
    void takeWatermarkImageSizeFrom(QObject* sender);
    void WatermarkImageAction(QObject* sender);
    void AddWatermarkImage(QObject* sender);
    void charSpacePopupButtonAction(QObject* sender);
    void TextCharSpaceStepperControlDidChange(QObject* sender);
    void ChangeSelectedFont(QObject* sender);
    void ChangeSelectedFontStyle(QObject* sender);
    void ShowFontPanel(QObject* sender);
    // A number or text field was edited.
    void controlTextDidChange(QObject* field);
    // Editing of a field ended: the image size field shows its value again.
    void controlTextDidEndEditing(QObject* field);

    // --- Named setters (model value; the canvas redraws) ---
    void setFontSize(std::int64_t size);
    void setTextStrokeWidth(std::int64_t width);
    void setTextShadowBlur(std::int64_t blur);
    void setShadowXOffset(std::int64_t offset);
    void setShadowYOffset(std::int64_t offset);
    void setRotationAngle(std::int64_t degrees);
    void setFontName(plat::FontRef font);
    void setTextOpacityValue(double opacity);
    void setTextCharSpaceValue(double spacing);
    void setWatermarkImageOpacityValue(double opacity);
    void setWatermarkImageSizeValue(double size);

    // --- Font chooser results ---
    void setFontToControls(plat::FontRef font);
    void setFontSizeToControl(int pointSize);
    // The first family, in order, whose name begins with `prefix` in either
    // case; the prefix itself when none does.
    QString firstFontMatchingPrefix(const QString& prefix) const;

    // --- Enabling ---
    void ImageWatermarkOnOffAction(bool on);
    void EnableDisableWatermarkControls(bool on);
    void EnableDisableShadowControl(bool on);
    void EnableDisableStrokeControl(bool on);
    void EnableDisableColorControl(int mode);
    void EnableDisableWatermarkImageControls(bool on);

    // TextWatermarkView1: watermark presets.
    QLabel* waterMarkPresetLabelOutlet = nullptr;
    QComboBox* waterMarkPresetPopupOutlet = nullptr;
    QPushButton* waterMarkSavePresetButtonOutlet = nullptr;
    // TextWatermarkView2: text and font.
    QLabel* textLabelOutlet = nullptr;
    QLineEdit* textTextFieldOutlet = nullptr;
    QLabel* fontLabelOutlet = nullptr;
    QComboBox* fontComboBoxOutlet = nullptr;
    QComboBox* fontStylePopupButtonOutlet = nullptr;
    QPushButton* showFontPanelButtonOutlet = nullptr;
    // TextWatermarkView3: size, drawing mode, colour, stroke.
    QLabel* fontSizeLabelOutlet = nullptr;
    FontSizeNumberField* fontSizeTextFieldOutlet = nullptr;
    KSMStepper* fontSizeStepperOutlet = nullptr;
    QLabel* fillTypeLabel = nullptr;
    QComboBox* fillTypePopupOutlet = nullptr;
    QLabel* fillColorLabel = nullptr;
    ColorWell* fillColorWellOutlet = nullptr;
    QLabel* strokeWidthLabel = nullptr;
    FontSizeNumberField* strokeWidthTextFieldOutlet = nullptr;
    KSMStepper* strokeWidthStepperOutlet = nullptr;
    // TextWatermarkView4: opacity and rotation.
    QLabel* opacityLabelOutlet = nullptr;
    QLabel* oLabelOutlet = nullptr;
    ShadowBlurNumberField* opacityTextFieldOutlet = nullptr;
    QSlider* opacitySliderOutlet = nullptr;
    KSMStepper* opacityStepperOutlet = nullptr;
    QLabel* angleLabelOutlet = nullptr;
    QLabel* aLabelOutlet = nullptr;
    RotationAngleNumberField* angleTextFieldOutlet = nullptr;
    QSlider* angleSliderOutlet = nullptr;
    KSMStepper* angleStepperOutlet = nullptr;
    // TextWatermarkView5: spacing and shadow.
    QLabel* charSpaceLabelOutlet = nullptr;
    CharSpaceField* charSpaceTextFieldOutlet = nullptr;
    QComboBox* charSpacePopupButtonOutlet = nullptr;
    CharSpaceStepper* charSpaceStepperOutlet = nullptr;
    QCheckBox* dropShadowCheckBoxOutlet = nullptr;
    ColorWell* shadowColorWellOutlet = nullptr;
    QLabel* xOffsetLabel = nullptr;
    ShadowXOffsetNumberField* xOffsetTextFieldOutlet = nullptr;
    KSMStepper* xOffsetStepperOutlet = nullptr;
    QLabel* yOffsetLabel = nullptr;
    ShadowYOffsetNumberField* yOffsetTextFieldOutlet = nullptr;
    KSMStepper* yOffsetStepperOutlet = nullptr;
    QLabel* blurLabel = nullptr;
    ShadowBlurNumberField* blurTextFieldOutlet = nullptr;
    KSMStepper* blurStepperOutlet = nullptr;
    // ImageWatermarkView.
    QLabel* WaterMarkImageView = nullptr;
    QPushButton* AddButtonOutlet = nullptr;
    QLabel* WatermarkImageSizeTextLabel = nullptr;
    QLabel* WatermarkImageSizePercentTextLabel = nullptr;
    QSlider* WatermarkImageSizeSliderOutlet = nullptr;
    KSMStepper* WatermarkImageSizeStepperOutlet = nullptr;
    ShadowBlurNumberField* WatermarkImageSizeTextFieldOutlet = nullptr;
    QLabel* WatermarkImageOpacityTextLabel = nullptr;
    QLabel* WatermarkImageOpacityPercentTextLabel = nullptr;
    QSlider* WatermarkImageOpacitySliderOutlet = nullptr;
    KSMStepper* WatermarkImageOpacityStepperOutlet = nullptr;
    ShadowBlurNumberField* WatermarkImageOpacityTextFieldOutlet = nullptr;

signals:
    // A user change of a watermark option (the controller's common tail).
    void optionChanged(QObject* sender);
    // The user chose an item of the watermark preset menu.
    void watermarkPresetChosen(int index);
    // The watermark preset menu's save button was pressed.
    void savePresetRequested();
    // The font panel button: the controller shows the font chooser.
    void fontPanelRequested();

private:
    QWidget* buildTextWatermarkView1(QWidget* store);
    QWidget* buildTextWatermarkView2(QWidget* store);
    QWidget* buildTextWatermarkView3(QWidget* store);
    QWidget* buildTextWatermarkView4(QWidget* store);
    QWidget* buildTextWatermarkView5(QWidget* store);
    QWidget* buildImageWatermarkView(QWidget* store);
    void connectControls();
    void alignLabelColumn();
    void fillStylePopup(const QString& family, const std::string& postScriptName);
    void showWatermarkImage();
    // Runs `change` on the model as the controls' own edit: no refresh of the
    // controls follows.
    template <typename F>
    void edit(F&& change);

    std::vector<QWidget*> panels_;
    WatermarkEditorModel* model_ = nullptr;
    bool editing_ = false;
    bool refreshQueued_ = false;
};
