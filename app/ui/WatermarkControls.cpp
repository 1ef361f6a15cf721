// The platform headers reach GLib, which must come before Qt's keyword macros.
#include "platform/Font.h"
#include "platform/Image.h"
#include "platform/ImageRep.h"

#include "app/ui/WatermarkControls.h"

#include "app/model/AddImageFiles.h"
#include "app/model/ShownPaths.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/ColorWell.h"
#include "app/ui/NumberFields.h"
#include "app/ui/OptionRowBuilders.h"

#include <QCheckBox>
#include <QCompleter>
#include <QFileDialog>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

using namespace optionrow;

namespace {

// Fraction sliders (opacity, image size) move in thousandths; their value is
// read in single precision, as the controls have always shown it (0.9 shows 89).
constexpr int kFractionSteps = 1000;

constexpr MenuItem kDrawingModes[] = {
    {"DrawingModeFillItem", 0}, {"DrawingModeStrokeItem", 1}, {"DrawingModeFillStrokeItem", 2}};
constexpr MenuItem kSpacingTypes[] = {
    {"SpacingNoneItem", 0}, {"SpacingExpandedItem", 1}, {"SpacingCondensedItem", 2}};

double SliderFraction(const QSlider* slider) {
    return static_cast<float>(slider->value()) / static_cast<float>(kFractionSteps);
}

void SetSliderFraction(QSlider* slider, double fraction) {
    slider->setValue(static_cast<int>(std::lround(fraction * kFractionSteps)));
}

// Whole percent of a slider's fraction, held in single precision and
// truncated, as the slider's actions show it.
int Percent(double fraction) {
    return static_cast<int>(static_cast<double>(static_cast<float>(fraction)) * 100.0);
}

QSlider* FractionSlider(const char* outlet, int minimum, QWidget* parent) {
    auto* slider = Named(new QSlider(Qt::Horizontal, parent), outlet);
    slider->setRange(minimum, kFractionSteps);
    return slider;
}

QString OneDecimal(double value) {
    return QString::number(value, 'f', 1);
}

// A whole-number field's value; none while it is empty.
std::optional<std::int64_t> WholeValue(const QLineEdit* field) {
    bool ok = false;
    const std::int64_t value = field->text().trimmed().toLongLong(&ok);
    if (ok) return value;
    const double real = field->text().trimmed().toDouble(&ok);
    if (ok && std::isfinite(real)) return static_cast<std::int64_t>(real);
    return std::nullopt;
}

std::optional<double> RealValue(const QLineEdit* field) {
    bool ok = false;
    const double value = field->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

void SetNumber(QLineEdit* field, std::int64_t value) {
    ShowText(field, QString::number(value));
}

template <typename W>
void Enable(bool on, std::initializer_list<W*> widgets) {
    for (W* widget : widgets) {
        if (widget) widget->setEnabled(on);
    }
}

}  // namespace

// --- Spacing stepper ---

CharSpaceStepper::CharSpaceStepper(QWidget* parent) : QDoubleSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setDecimals(1);
    setRange(-500.0, 500.0);
    setKeyboardTracking(false);
}

void CharSpaceStepper::stepBy(int steps) {
    setValue(std::round((value() + steps * increment_) * 10.0) / 10.0);
}

QSize CharSpaceStepper::sizeHint() const {
    return {18, QDoubleSpinBox::sizeHint().height()};
}

QSize CharSpaceStepper::minimumSizeHint() const {
    return sizeHint();
}

// --- Building ---

WatermarkControls::WatermarkControls(QWidget* store) : QObject(store) {
    panels_ = {buildTextWatermarkView1(store), buildTextWatermarkView2(store), buildTextWatermarkView3(store),
               buildTextWatermarkView4(store), buildTextWatermarkView5(store), buildImageWatermarkView(store)};
    alignLabelColumn();
    for (QWidget* panel : panels_) panel->setFixedHeight(panel->sizeHint().height());
    connectControls();
}

void WatermarkControls::alignLabelColumn() {
    const std::initializer_list<QLabel*> labels = {
        waterMarkPresetLabelOutlet, textLabelOutlet, fontLabelOutlet, fontSizeLabelOutlet, strokeWidthLabel,
        opacityLabelOutlet, angleLabelOutlet, charSpaceLabelOutlet, xOffsetLabel};
    int width = 0;
    for (QLabel* label : labels) width = std::max(width, label->sizeHint().width());
    for (QLabel* label : labels) {
        label->setFixedWidth(width);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
}

QWidget* WatermarkControls::buildTextWatermarkView1(QWidget* store) {
    QWidget* panel = Panel("TextWatermarkView1", store);
    QHBoxLayout* row = RowLayout(panel);
    waterMarkPresetLabelOutlet = Label("waterMarkPresetLabelOutlet", "WatermarkPresetLabel", panel);
    waterMarkPresetPopupOutlet = Named(new QComboBox(panel), "waterMarkPresetPopupOutlet");
    waterMarkPresetPopupOutlet->addItem(LocalizedString("WatermarkPresetCustomItem"));
    Pair(waterMarkPresetLabelOutlet, waterMarkPresetPopupOutlet);
    waterMarkSavePresetButtonOutlet =
        Named(new QPushButton(LocalizedString("SaveWatermarkPresetButton"), panel), "waterMarkSavePresetButtonOutlet");
    row->addWidget(waterMarkPresetLabelOutlet);
    row->addWidget(waterMarkPresetPopupOutlet, 1);
    row->addWidget(waterMarkSavePresetButtonOutlet);
    return panel;
}

QWidget* WatermarkControls::buildTextWatermarkView2(QWidget* store) {
    QWidget* panel = Panel("TextWatermarkView2", store);
    QGridLayout* grid = GridLayout(panel);
    textLabelOutlet = Label("textLabelOutlet", "WatermarkTextLabel", panel);
    textTextFieldOutlet = Named(new QLineEdit(panel), "textTextFieldOutlet");
    Pair(textLabelOutlet, textTextFieldOutlet);
    grid->addWidget(textLabelOutlet, 0, 0, Qt::AlignRight);
    grid->addWidget(textTextFieldOutlet, 0, 1, 1, 3);

    fontLabelOutlet = Label("fontLabelOutlet", "WatermarkFontLabel", panel);
    fontComboBoxOutlet = Named(new QComboBox(panel), "fontComboBoxOutlet");
    fontComboBoxOutlet->setEditable(true);
    fontComboBoxOutlet->setInsertPolicy(QComboBox::NoInsert);
    fontComboBoxOutlet->setMinimumContentsLength(10);
    fontComboBoxOutlet->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    fontComboBoxOutlet->completer()->setCaseSensitivity(Qt::CaseInsensitive);
    fontComboBoxOutlet->completer()->setCompletionMode(QCompleter::InlineCompletion);
    Pair(fontLabelOutlet, fontComboBoxOutlet);
    fontStylePopupButtonOutlet = Named(new QComboBox(panel), "fontStylePopupButtonOutlet");
    SetAccessibleName(fontStylePopupButtonOutlet, LocalizedString("WatermarkFontStyleName"));
    fontStylePopupButtonOutlet->setMinimumContentsLength(6);
    fontStylePopupButtonOutlet->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    showFontPanelButtonOutlet =
        Named(new QPushButton(LocalizedString("ShowFontPanelButton"), panel), "showFontPanelButtonOutlet");
    grid->addWidget(fontLabelOutlet, 1, 0, Qt::AlignRight);
    grid->addWidget(fontComboBoxOutlet, 1, 1);
    grid->addWidget(fontStylePopupButtonOutlet, 1, 2);
    grid->addWidget(showFontPanelButtonOutlet, 1, 3);
    grid->setColumnStretch(1, 2);
    grid->setColumnStretch(2, 1);
    return panel;
}

QWidget* WatermarkControls::buildTextWatermarkView3(QWidget* store) {
    QWidget* panel = Panel("TextWatermarkView3", store);
    QGridLayout* grid = GridLayout(panel);
    fontSizeLabelOutlet = Label("fontSizeLabelOutlet", "WatermarkFontSizeLabel", panel);
    fontSizeTextFieldOutlet = NumberInput<FontSizeNumberField>("fontSizeTextFieldOutlet", panel);
    fontSizeStepperOutlet = Stepper("fontSizeStepperOutlet", 1, 1000, LocalizedString("WatermarkFontSizeLabel"), panel);
    Pair(fontSizeLabelOutlet, fontSizeTextFieldOutlet);
    fillTypeLabel = Label("fillTypeLabel", "WatermarkDrawingModeLabel", panel);
    fillTypePopupOutlet = Popup("fillTypePopupOutlet", kDrawingModes, panel);
    Pair(fillTypeLabel, fillTypePopupOutlet);
    fillColorLabel = Label("fillColorLabel", "WatermarkColorLabel", panel);
    fillColorWellOutlet = Named(new ColorWell(panel), "fillColorWellOutlet");
    Pair(fillColorLabel, fillColorWellOutlet);
    strokeWidthLabel = Label("strokeWidthLabel", "WatermarkStrokeWidthLabel", panel);
    strokeWidthTextFieldOutlet = NumberInput<FontSizeNumberField>("strokeWidthTextFieldOutlet", panel);
    strokeWidthStepperOutlet =
        Stepper("strokeWidthStepperOutlet", 1, 1000, LocalizedString("WatermarkStrokeWidthLabel"), panel);
    Pair(strokeWidthLabel, strokeWidthTextFieldOutlet);

    grid->addWidget(fontSizeLabelOutlet, 0, 0, Qt::AlignRight);
    grid->addWidget(fontSizeTextFieldOutlet, 0, 1);
    grid->addWidget(fontSizeStepperOutlet, 0, 2);
    grid->addWidget(fillTypeLabel, 0, 4, Qt::AlignRight);
    grid->addWidget(fillTypePopupOutlet, 0, 5, 1, 2);
    grid->addWidget(strokeWidthLabel, 1, 0, Qt::AlignRight);
    grid->addWidget(strokeWidthTextFieldOutlet, 1, 1);
    grid->addWidget(strokeWidthStepperOutlet, 1, 2);
    grid->addWidget(fillColorLabel, 1, 4, Qt::AlignRight);
    grid->addWidget(fillColorWellOutlet, 1, 5, Qt::AlignLeft);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(6, 1);
    return panel;
}

QWidget* WatermarkControls::buildTextWatermarkView4(QWidget* store) {
    QWidget* panel = Panel("TextWatermarkView4", store);
    QGridLayout* grid = GridLayout(panel);
    opacityLabelOutlet = Label("opacityLabelOutlet", "WatermarkOpacityLabel", panel);
    opacitySliderOutlet = FractionSlider("opacitySliderOutlet", 0, panel);
    opacityTextFieldOutlet = NumberInput<ShadowBlurNumberField>("opacityTextFieldOutlet", panel);
    opacityStepperOutlet = Stepper("opacityStepperOutlet", 0, 100, LocalizedString("WatermarkOpacityLabel"), panel);
    oLabelOutlet = Label("oLabelOutlet", "PercentSign", panel);
    Pair(opacityLabelOutlet, opacitySliderOutlet);
    opacityTextFieldOutlet->setAccessibleName(opacitySliderOutlet->accessibleName());

    angleLabelOutlet = Label("angleLabelOutlet", "WatermarkAngleLabel", panel);
    angleSliderOutlet = Named(new QSlider(Qt::Horizontal, panel), "angleSliderOutlet");
    angleSliderOutlet->setRange(0, 359);
    angleTextFieldOutlet = NumberInput<RotationAngleNumberField>("angleTextFieldOutlet", panel);
    angleStepperOutlet = Stepper("angleStepperOutlet", 0, 359, LocalizedString("WatermarkAngleLabel"), panel);
    aLabelOutlet = Label("aLabelOutlet", "DegreeSign", panel);
    Pair(angleLabelOutlet, angleSliderOutlet);
    angleTextFieldOutlet->setAccessibleName(angleSliderOutlet->accessibleName());

    const std::initializer_list<std::tuple<QLabel*, QSlider*, QLineEdit*, KSMStepper*, QLabel*>> rows = {
        {opacityLabelOutlet, opacitySliderOutlet, opacityTextFieldOutlet, opacityStepperOutlet, oLabelOutlet},
        {angleLabelOutlet, angleSliderOutlet, angleTextFieldOutlet, angleStepperOutlet, aLabelOutlet}};
    int r = 0;
    for (const auto& [label, slider, field, stepper, unit] : rows) {
        grid->addWidget(label, r, 0, Qt::AlignRight);
        grid->addWidget(slider, r, 1);
        grid->addWidget(field, r, 2);
        grid->addWidget(stepper, r, 3);
        grid->addWidget(unit, r, 4);
        ++r;
    }
    grid->setColumnStretch(1, 1);
    return panel;
}

QWidget* WatermarkControls::buildTextWatermarkView5(QWidget* store) {
    QWidget* panel = Panel("TextWatermarkView5", store);
    QGridLayout* grid = GridLayout(panel);
    charSpaceLabelOutlet = Label("charSpaceLabelOutlet", "WatermarkSpacingLabel", panel);
    charSpacePopupButtonOutlet = Popup("charSpacePopupButtonOutlet", kSpacingTypes, panel);
    Pair(charSpaceLabelOutlet, charSpacePopupButtonOutlet);
    charSpaceTextFieldOutlet = NumberInput<CharSpaceField>("charSpaceTextFieldOutlet", panel);
    charSpaceTextFieldOutlet->setAccessibleName(LocalizedString("WatermarkSpacingLabel").remove(QLatin1Char(':')));
    charSpaceStepperOutlet = Named(new CharSpaceStepper(panel), "charSpaceStepperOutlet");
    charSpaceStepperOutlet->setAccessibleName(charSpaceTextFieldOutlet->accessibleName());
    grid->addWidget(charSpaceLabelOutlet, 0, 0, Qt::AlignRight);
    grid->addWidget(charSpacePopupButtonOutlet, 0, 1, 1, 3);
    grid->addWidget(charSpaceTextFieldOutlet, 0, 4);
    grid->addWidget(charSpaceStepperOutlet, 0, 5);

    dropShadowCheckBoxOutlet =
        Named(new QCheckBox(LocalizedString("DropShadowCheckBox"), panel), "dropShadowCheckBoxOutlet");
    shadowColorWellOutlet = Named(new ColorWell(panel), "shadowColorWellOutlet");
    shadowColorWellOutlet->setAccessibleName(LocalizedString("ShadowColorName"));
    grid->addWidget(dropShadowCheckBoxOutlet, 1, 0, 1, 2, Qt::AlignRight);
    grid->addWidget(shadowColorWellOutlet, 1, 2, 1, 2, Qt::AlignLeft);

    xOffsetLabel = Label("xOffsetLabel", "ShadowXOffsetLabel", panel);
    xOffsetTextFieldOutlet = NumberInput<ShadowXOffsetNumberField>("xOffsetTextFieldOutlet", panel);
    xOffsetStepperOutlet = Stepper("xOffsetStepperOutlet", -5000, 5000, LocalizedString("ShadowXOffsetLabel"), panel);
    yOffsetLabel = Label("yOffsetLabel", "ShadowYOffsetLabel", panel);
    yOffsetTextFieldOutlet = NumberInput<ShadowYOffsetNumberField>("yOffsetTextFieldOutlet", panel);
    yOffsetStepperOutlet = Stepper("yOffsetStepperOutlet", -5000, 5000, LocalizedString("ShadowYOffsetLabel"), panel);
    blurLabel = Label("blurLabel", "ShadowBlurLabel", panel);
    blurTextFieldOutlet = NumberInput<ShadowBlurNumberField>("blurTextFieldOutlet", panel);
    blurStepperOutlet = Stepper("blurStepperOutlet", 0, 100, LocalizedString("ShadowBlurLabel"), panel);
    Pair(xOffsetLabel, xOffsetTextFieldOutlet);
    Pair(yOffsetLabel, yOffsetTextFieldOutlet);
    Pair(blurLabel, blurTextFieldOutlet);
    const std::initializer_list<std::tuple<QLabel*, QLineEdit*, KSMStepper*>> rows = {
        {xOffsetLabel, xOffsetTextFieldOutlet, xOffsetStepperOutlet},
        {yOffsetLabel, yOffsetTextFieldOutlet, yOffsetStepperOutlet},
        {blurLabel, blurTextFieldOutlet, blurStepperOutlet}};
    int column = 0;
    for (const auto& [label, field, stepper] : rows) {
        grid->addWidget(label, 2, column, Qt::AlignRight);
        grid->addWidget(field, 2, column + 1);
        grid->addWidget(stepper, 2, column + 2);
        column += 3;
    }
    grid->setColumnStretch(8, 1);
    return panel;
}

QWidget* WatermarkControls::buildImageWatermarkView(QWidget* store) {
    QWidget* panel = Panel("ImageWatermarkView", store);
    QGridLayout* grid = GridLayout(panel);
    WaterMarkImageView = Named(new QLabel(panel), "WaterMarkImageView");
    WaterMarkImageView->setFixedSize(72, 72);
    WaterMarkImageView->setFrameShape(QFrame::StyledPanel);
    WaterMarkImageView->setAlignment(Qt::AlignCenter);
    WaterMarkImageView->setAccessibleName(LocalizedString("WatermarkImageName"));
    AddButtonOutlet = Named(new QPushButton(LocalizedString("AddWatermarkImageButton"), panel), "AddButtonOutlet");
    grid->addWidget(WaterMarkImageView, 0, 0, 2, 1);
    grid->addWidget(AddButtonOutlet, 2, 0);

    WatermarkImageSizeTextLabel = Label("WatermarkImageSizeTextLabel", "WatermarkImageSizeLabel", panel);
    WatermarkImageSizeSliderOutlet = FractionSlider("WatermarkImageSizeSliderOutlet", kFractionSteps / 20, panel);
    WatermarkImageSizeTextFieldOutlet = NumberInput<ShadowBlurNumberField>("WatermarkImageSizeTextFieldOutlet", panel);
    WatermarkImageSizeStepperOutlet =
        Stepper("WatermarkImageSizeStepperOutlet", 5, 100, LocalizedString("WatermarkImageSizeLabel"), panel);
    WatermarkImageSizePercentTextLabel = Label("WatermarkImageSizePercentTextLabel", "PercentSign", panel);
    Pair(WatermarkImageSizeTextLabel, WatermarkImageSizeSliderOutlet);
    WatermarkImageSizeTextFieldOutlet->setAccessibleName(WatermarkImageSizeSliderOutlet->accessibleName());

    WatermarkImageOpacityTextLabel = Label("WatermarkImageOpacityTextLabel", "WatermarkImageOpacityLabel", panel);
    WatermarkImageOpacitySliderOutlet = FractionSlider("WatermarkImageOpacitySliderOutlet", 0, panel);
    WatermarkImageOpacityTextFieldOutlet =
        NumberInput<ShadowBlurNumberField>("WatermarkImageOpacityTextFieldOutlet", panel);
    WatermarkImageOpacityStepperOutlet =
        Stepper("WatermarkImageOpacityStepperOutlet", 0, 100, LocalizedString("WatermarkImageOpacityLabel"), panel);
    WatermarkImageOpacityPercentTextLabel = Label("WatermarkImageOpacityPercentTextLabel", "PercentSign", panel);
    Pair(WatermarkImageOpacityTextLabel, WatermarkImageOpacitySliderOutlet);
    WatermarkImageOpacityTextFieldOutlet->setAccessibleName(WatermarkImageOpacitySliderOutlet->accessibleName());

    const std::initializer_list<std::tuple<QLabel*, QSlider*, QLineEdit*, KSMStepper*, QLabel*>> rows = {
        {WatermarkImageSizeTextLabel, WatermarkImageSizeSliderOutlet, WatermarkImageSizeTextFieldOutlet,
         WatermarkImageSizeStepperOutlet, WatermarkImageSizePercentTextLabel},
        {WatermarkImageOpacityTextLabel, WatermarkImageOpacitySliderOutlet, WatermarkImageOpacityTextFieldOutlet,
         WatermarkImageOpacityStepperOutlet, WatermarkImageOpacityPercentTextLabel}};
    int r = 0;
    for (const auto& [label, slider, field, stepper, unit] : rows) {
        grid->addWidget(label, r, 1, Qt::AlignRight);
        grid->addWidget(slider, r, 2);
        grid->addWidget(field, r, 3);
        grid->addWidget(stepper, r, 4);
        grid->addWidget(unit, r, 5);
        ++r;
    }
    grid->setColumnStretch(2, 1);
    return panel;
}

void WatermarkControls::connectControls() {
    auto onField = [this](KSMNumberTextField* field) {
        connect(field, &KSMNumberTextField::controlTextDidChange, this, [this, field] { controlTextDidChange(field); });
        connect(field, &KSMNumberTextField::controlTextDidEndEditing, this,
                [this, field] { controlTextDidEndEditing(field); });
    };
    for (KSMNumberTextField* field :
         std::initializer_list<KSMNumberTextField*>{fontSizeTextFieldOutlet, strokeWidthTextFieldOutlet,
                                                    opacityTextFieldOutlet, charSpaceTextFieldOutlet,
                                                    angleTextFieldOutlet, blurTextFieldOutlet, xOffsetTextFieldOutlet,
                                                    yOffsetTextFieldOutlet, WatermarkImageOpacityTextFieldOutlet,
                                                    WatermarkImageSizeTextFieldOutlet}) {
        onField(field);
    }
    connect(textTextFieldOutlet, &QLineEdit::textEdited, this, [this] { controlTextDidChange(textTextFieldOutlet); });

    auto onStepper = [this](KSMStepper* stepper, void (WatermarkControls::*action)(QObject*)) {
        connect(stepper, &QSpinBox::valueChanged, this, [this, stepper, action] { (this->*action)(stepper); });
    };
    onStepper(fontSizeStepperOutlet, &WatermarkControls::FontSizeStepperControlDidChange);
    onStepper(strokeWidthStepperOutlet, &WatermarkControls::StrokeWidthStepperControlDidChange);
    onStepper(blurStepperOutlet, &WatermarkControls::ShadowBlurStepperControlDidChange);
    onStepper(xOffsetStepperOutlet, &WatermarkControls::xOffsetStepperControlDidChange);
    onStepper(yOffsetStepperOutlet, &WatermarkControls::yOffsetStepperControlDidChange);
    onStepper(angleStepperOutlet, &WatermarkControls::angleStepperControlDidChange);
    onStepper(opacityStepperOutlet, &WatermarkControls::TextOpacityStepperControlDidChange);
    onStepper(WatermarkImageOpacityStepperOutlet, &WatermarkControls::WatermarkImageOpacityStepperControlDidChange);
    onStepper(WatermarkImageSizeStepperOutlet, &WatermarkControls::WatermarkImageSizeStepperControlDidChange);
    connect(charSpaceStepperOutlet, &QDoubleSpinBox::valueChanged, this,
            [this] { TextCharSpaceStepperControlDidChange(charSpaceStepperOutlet); });

    auto onSlider = [this](QSlider* slider, void (WatermarkControls::*action)(QObject*)) {
        connect(slider, &QSlider::actionTriggered, this, [this, slider, action] {
            // actionTriggered comes before the move: act on the new position.
            QMetaObject::invokeMethod(this, [this, slider, action] { (this->*action)(slider); }, Qt::QueuedConnection);
        });
        connect(slider, &QSlider::sliderMoved, this, [this, slider, action] { (this->*action)(slider); });
    };
    onSlider(angleSliderOutlet, &WatermarkControls::takeRotationAngleFrom);
    onSlider(opacitySliderOutlet, &WatermarkControls::takeTextOpacityFrom);
    onSlider(WatermarkImageOpacitySliderOutlet, &WatermarkControls::takeWatermarkImageOpacityFrom);
    onSlider(WatermarkImageSizeSliderOutlet, &WatermarkControls::takeWatermarkImageSizeFrom);

    connect(fillColorWellOutlet, &ColorWell::colorChosen, this, [this] { takeFontColorFrom(fillColorWellOutlet); });
    connect(shadowColorWellOutlet, &ColorWell::colorChosen, this,
            [this] { takeShadowColorFrom(shadowColorWellOutlet); });
    connect(fillTypePopupOutlet, &QComboBox::activated, this, [this] { ChangeCGDrawingMode(fillTypePopupOutlet); });
    connect(charSpacePopupButtonOutlet, &QComboBox::activated, this,
            [this] { charSpacePopupButtonAction(charSpacePopupButtonOutlet); });
    connect(dropShadowCheckBoxOutlet, &QCheckBox::toggled, this, [this] { DropShadowApplied(dropShadowCheckBoxOutlet); });
    connect(fontComboBoxOutlet, &QComboBox::activated, this, [this] { ChangeSelectedFont(fontComboBoxOutlet); });
    connect(fontStylePopupButtonOutlet, &QComboBox::activated, this,
            [this] { ChangeSelectedFontStyle(fontStylePopupButtonOutlet); });
    connect(showFontPanelButtonOutlet, &QPushButton::clicked, this, [this] { ShowFontPanel(showFontPanelButtonOutlet); });
    connect(AddButtonOutlet, &QPushButton::clicked, this, [this] { AddWatermarkImage(AddButtonOutlet); });
    connect(waterMarkPresetPopupOutlet, &QComboBox::activated, this, &WatermarkControls::watermarkPresetChosen);
    connect(waterMarkSavePresetButtonOutlet, &QPushButton::clicked, this, &WatermarkControls::savePresetRequested);
}

void WatermarkControls::bind(WatermarkEditorModel* model) {
    model_ = model;
    {
        QSignalBlocker block(fontComboBoxOutlet);
        fontComboBoxOutlet->clear();
        fontComboBoxOutlet->addItems(model_->fontFamilyArray());
    }
    connect(model_, &WatermarkEditorModel::valueChanged, this, [this] {
        if (!editing_) refresh();
    });
    refresh();
}

template <typename F>
void WatermarkControls::edit(F&& change) {
    const bool outer = !editing_;
    editing_ = true;
    change();
    if (outer) editing_ = false;
}

// --- Showing the model ---

void WatermarkControls::refresh() {
    if (!model_) return;
    const std::vector<QObject*> controls = {
        textTextFieldOutlet, fontSizeTextFieldOutlet, fontSizeStepperOutlet, fillTypePopupOutlet,
        fillColorWellOutlet, strokeWidthTextFieldOutlet, strokeWidthStepperOutlet, opacityTextFieldOutlet,
        opacitySliderOutlet, opacityStepperOutlet, angleTextFieldOutlet, angleSliderOutlet, angleStepperOutlet,
        charSpaceTextFieldOutlet, charSpacePopupButtonOutlet, charSpaceStepperOutlet, dropShadowCheckBoxOutlet,
        shadowColorWellOutlet, xOffsetTextFieldOutlet, xOffsetStepperOutlet, yOffsetTextFieldOutlet,
        yOffsetStepperOutlet, blurTextFieldOutlet, blurStepperOutlet, WatermarkImageSizeSliderOutlet,
        WatermarkImageSizeStepperOutlet, WatermarkImageSizeTextFieldOutlet, WatermarkImageOpacitySliderOutlet,
        WatermarkImageOpacityStepperOutlet, WatermarkImageOpacityTextFieldOutlet};
    std::vector<std::unique_ptr<QSignalBlocker>> blockers;
    for (QObject* control : controls) blockers.push_back(std::make_unique<QSignalBlocker>(control));

    ShowText(textTextFieldOutlet, model_->textString());
    setFontToControls(model_->textFont());
    auto showWhole = [](QLineEdit* field, KSMStepper* stepper, std::int64_t value) {
        stepper->setValue(static_cast<int>(value));
        SetNumber(field, value);
    };
    showWhole(fontSizeTextFieldOutlet, fontSizeStepperOutlet, model_->textFontSize());
    showWhole(strokeWidthTextFieldOutlet, strokeWidthStepperOutlet, model_->strokeWidth());
    showWhole(blurTextFieldOutlet, blurStepperOutlet, model_->shadowBlur());
    showWhole(xOffsetTextFieldOutlet, xOffsetStepperOutlet, model_->xOffset());
    showWhole(yOffsetTextFieldOutlet, yOffsetStepperOutlet, model_->yOffset());
    showWhole(angleTextFieldOutlet, angleStepperOutlet, model_->textRotationAngle());
    angleSliderOutlet->setValue(static_cast<int>(model_->textRotationAngle()));
    SelectTag(fillTypePopupOutlet, model_->drawingMode());
    fillColorWellOutlet->setColor(model_->textFontColor());
    shadowColorWellOutlet->setColor(model_->textShadowColor());
    dropShadowCheckBoxOutlet->setChecked(model_->isDropShadowApplied());

    auto showFraction = [](QSlider* slider, QLineEdit* field, KSMStepper* stepper, double value) {
        SetSliderFraction(slider, value);
        // A stored value is shown at its nearest percent: 0.7 comes back from
        // a preset as 0.69999999 and must show 70 again.
        stepper->setValue(static_cast<int>(std::lround(value * 100.0)));
        SetNumber(field, stepper->value());
    };
    showFraction(opacitySliderOutlet, opacityTextFieldOutlet, opacityStepperOutlet, model_->textOpacity());
    showFraction(WatermarkImageSizeSliderOutlet, WatermarkImageSizeTextFieldOutlet, WatermarkImageSizeStepperOutlet,
                 model_->WatermarkImageSize());
    showFraction(WatermarkImageOpacitySliderOutlet, WatermarkImageOpacityTextFieldOutlet,
                 WatermarkImageOpacityStepperOutlet, model_->WatermarkImageOpacity());

    const int type = model_->SpacingType();
    SelectTag(charSpacePopupButtonOutlet, type);
    const double magnitude = std::abs(model_->textCharSpace());
    charSpaceStepperOutlet->setValue(type == WatermarkEditorModel::kSpacingNone ? 0.0 : magnitude);
    const double step = magnitude >= 100.0 ? 1.0 : 0.1;
    charSpaceStepperOutlet->setIncrement(type == WatermarkEditorModel::kSpacingCondensed ? -step : step);
    ShowText(charSpaceTextFieldOutlet, type == WatermarkEditorModel::kSpacingNone ? QString() : OneDecimal(magnitude));
    showWatermarkImage();
    // A drawing mode or shadow set by a preset enables its controls as the
    // user's choice would, while the text watermark group is on.
    if (textTextFieldOutlet->isEnabled()) {
        EnableDisableColorControl(model_->drawingMode());
        EnableDisableShadowControl(model_->isDropShadowApplied());
    }
}

void WatermarkControls::showWatermarkImage() {
    const plat::ImageRef image = model_ ? model_->watermarkImage() : nullptr;
    const QVariant shown = WaterMarkImageView->property("shownImage");
    const auto key = reinterpret_cast<quintptr>(image.get());
    if (shown.isValid() && shown.value<quintptr>() == key) return;
    WaterMarkImageView->setProperty("shownImage", QVariant::fromValue(key));
    if (!image) {
        WaterMarkImageView->clear();
        return;
    }
    // A thumbnail of the image for the well; the model keeps the full image.
    const double factor = std::min(1.0, 128.0 / std::max(image->width(), image->height()));
    std::vector<std::uint8_t> rgba;
    int width = image->width(), height = image->height();
    try {
        vips::VImage small = image->toSRGBA();
        if (factor < 1.0) small = small.resize(factor);
        width = small.width();
        height = small.height();
        std::size_t size = 0;
        void* memory = small.write_to_memory(&size);
        rgba.assign(static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
        g_free(memory);
    } catch (const std::exception&) {
        WaterMarkImageView->clear();
        return;
    }
    if (rgba.size() < std::size_t(width) * height * 4) return;
    const QImage thumbnail(rgba.data(), width, height, width * 4, QImage::Format_RGBA8888);
    WaterMarkImageView->setPixmap(QPixmap::fromImage(thumbnail).scaled(
        WaterMarkImageView->size() - QSize(8, 8), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

// --- Tails ---

void WatermarkControls::changeTextWatermarkOption(QObject* sender) {
    if (sender) {
        QSignalBlocker block(waterMarkPresetPopupOutlet);
        waterMarkPresetPopupOutlet->setCurrentIndex(0);
    }
    emit optionChanged(sender);
}

void WatermarkControls::changeImageWatermarkOption(QObject* sender) {
    emit optionChanged(sender);
}

// --- Named setters ---

void WatermarkControls::setFontSize(std::int64_t size) {
    edit([&] { model_->setTextFontSize(size); });
}
void WatermarkControls::setTextStrokeWidth(std::int64_t width) {
    edit([&] { model_->setStrokeWidth(width); });
}
void WatermarkControls::setTextShadowBlur(std::int64_t blur) {
    edit([&] { model_->setShadowBlur(blur); });
}
void WatermarkControls::setShadowXOffset(std::int64_t offset) {
    edit([&] { model_->setXOffset(offset); });
}
void WatermarkControls::setShadowYOffset(std::int64_t offset) {
    edit([&] { model_->setYOffset(offset); });
}
void WatermarkControls::setRotationAngle(std::int64_t degrees) {
    edit([&] { model_->setTextRotationAngle(degrees); });
}
void WatermarkControls::setFontName(plat::FontRef font) {
    if (font) edit([&] { model_->setTextFont(font); });
}
void WatermarkControls::setTextOpacityValue(double opacity) {
    edit([&] { model_->setTextOpacity(opacity); });
}
void WatermarkControls::setTextCharSpaceValue(double spacing) {
    edit([&] {
        model_->setTextCharSpace(model_->SpacingType() == WatermarkEditorModel::kSpacingCondensed ? -spacing : spacing);
    });
}
void WatermarkControls::setWatermarkImageOpacityValue(double opacity) {
    edit([&] { model_->setWatermarkImageOpacity(opacity); });
}
void WatermarkControls::setWatermarkImageSizeValue(double size) {
    edit([&] { model_->setWatermarkImageSize(size); });
}

// --- Actions ---

void WatermarkControls::takeFontColorFrom(QObject* sender) {
    edit([&] { model_->setTextFontColor(fillColorWellOutlet->color()); });
    changeTextWatermarkOption(sender);
}

void WatermarkControls::takeShadowColorFrom(QObject* sender) {
    edit([&] { model_->setTextShadowColor(shadowColorWellOutlet->color()); });
    changeTextWatermarkOption(sender);
}

void WatermarkControls::ChangeCGDrawingMode(QObject* sender) {
    int mode = TagOf(fillTypePopupOutlet, fillTypePopupOutlet->currentIndex());
    if (mode >= 3 || mode < 0) mode = 0;
    edit([&] { model_->setDrawingMode(mode); });
    EnableDisableColorControl(mode);
    changeTextWatermarkOption(sender);
}

void WatermarkControls::DropShadowApplied(QObject* sender) {
    const bool on = dropShadowCheckBoxOutlet->isChecked();
    edit([&] { model_->setDropShadowApplied(on); });
    EnableDisableShadowControl(on);
    changeTextWatermarkOption(sender);
}

void WatermarkControls::FontSizeStepperControlDidChange(QObject* sender) {
    setFontSize(fontSizeStepperOutlet->value());
    SetNumber(fontSizeTextFieldOutlet, fontSizeStepperOutlet->value());
    changeTextWatermarkOption(sender);
}

void WatermarkControls::StrokeWidthStepperControlDidChange(QObject* sender) {
    setTextStrokeWidth(strokeWidthStepperOutlet->value());
    SetNumber(strokeWidthTextFieldOutlet, strokeWidthStepperOutlet->value());
    changeTextWatermarkOption(sender);
}

void WatermarkControls::ShadowBlurStepperControlDidChange(QObject* sender) {
    setTextShadowBlur(blurStepperOutlet->value());
    SetNumber(blurTextFieldOutlet, blurStepperOutlet->value());
    changeTextWatermarkOption(sender);
}

void WatermarkControls::xOffsetStepperControlDidChange(QObject* sender) {
    setShadowXOffset(xOffsetStepperOutlet->value());
    SetNumber(xOffsetTextFieldOutlet, xOffsetStepperOutlet->value());
    changeTextWatermarkOption(sender);
}

void WatermarkControls::yOffsetStepperControlDidChange(QObject* sender) {
    setShadowYOffset(yOffsetStepperOutlet->value());
    SetNumber(yOffsetTextFieldOutlet, yOffsetStepperOutlet->value());
    changeTextWatermarkOption(sender);
}

void WatermarkControls::angleStepperControlDidChange(QObject* sender) {
    setRotationAngle(angleStepperOutlet->value());
    SetNumber(angleTextFieldOutlet, angleStepperOutlet->value());
    QSignalBlocker block(angleSliderOutlet);
    angleSliderOutlet->setValue(angleStepperOutlet->value());
    changeTextWatermarkOption(sender);
}

void WatermarkControls::takeRotationAngleFrom(QObject* sender) {
    setRotationAngle(angleSliderOutlet->value());
    QSignalBlocker block(angleStepperOutlet);
    angleStepperOutlet->setValue(static_cast<int>(model_->textRotationAngle()));
    SetNumber(angleTextFieldOutlet, model_->textRotationAngle());
    changeTextWatermarkOption(sender);
}

void WatermarkControls::TextOpacityStepperControlDidChange(QObject* sender) {
    SetNumber(opacityTextFieldOutlet, opacityStepperOutlet->value());
    {
        QSignalBlocker block(opacitySliderOutlet);
        SetSliderFraction(opacitySliderOutlet, opacityStepperOutlet->value() / 100.0);
    }
    setTextOpacityValue(SliderFraction(opacitySliderOutlet));
    changeTextWatermarkOption(sender);
}

void WatermarkControls::takeTextOpacityFrom(QObject* sender) {
    setTextOpacityValue(SliderFraction(opacitySliderOutlet));
    QSignalBlocker block(opacityStepperOutlet);
    opacityStepperOutlet->setValue(Percent(model_->textOpacity()));
    SetNumber(opacityTextFieldOutlet, opacityStepperOutlet->value());
    changeTextWatermarkOption(sender);
}

void WatermarkControls::WatermarkImageOpacityStepperControlDidChange(QObject* sender) {
    SetNumber(WatermarkImageOpacityTextFieldOutlet, WatermarkImageOpacityStepperOutlet->value());
    {
        QSignalBlocker block(WatermarkImageOpacitySliderOutlet);
        SetSliderFraction(WatermarkImageOpacitySliderOutlet, WatermarkImageOpacityStepperOutlet->value() / 100.0);
    }
    setWatermarkImageOpacityValue(SliderFraction(WatermarkImageOpacitySliderOutlet));
    changeImageWatermarkOption(sender);
}

void WatermarkControls::WatermarkImageSizeStepperControlDidChange(QObject* sender) {
    SetNumber(WatermarkImageSizeTextFieldOutlet, WatermarkImageSizeStepperOutlet->value());
    {
        QSignalBlocker block(WatermarkImageSizeSliderOutlet);
        SetSliderFraction(WatermarkImageSizeSliderOutlet, WatermarkImageSizeStepperOutlet->value() / 100.0);
    }
    setWatermarkImageSizeValue(SliderFraction(WatermarkImageSizeSliderOutlet));
    changeImageWatermarkOption(sender);
}

void WatermarkControls::takeWatermarkImageOpacityFrom(QObject* sender) {
    setWatermarkImageOpacityValue(SliderFraction(WatermarkImageOpacitySliderOutlet));
    QSignalBlocker block(WatermarkImageOpacityStepperOutlet);
    WatermarkImageOpacityStepperOutlet->setValue(Percent(model_->WatermarkImageOpacity()));
    SetNumber(WatermarkImageOpacityTextFieldOutlet, WatermarkImageOpacityStepperOutlet->value());
    changeImageWatermarkOption(sender);
}

void WatermarkControls::takeWatermarkImageSizeFrom(QObject* sender) {
    setWatermarkImageSizeValue(SliderFraction(WatermarkImageSizeSliderOutlet));
    QSignalBlocker block(WatermarkImageSizeStepperOutlet);
    WatermarkImageSizeStepperOutlet->setValue(Percent(model_->WatermarkImageSize()));
    SetNumber(WatermarkImageSizeTextFieldOutlet, WatermarkImageSizeStepperOutlet->value());
    changeImageWatermarkOption(sender);
}

void WatermarkControls::WatermarkImageAction(QObject* sender) {
    emit model_->valueChanged();  // redraw
    changeImageWatermarkOption(sender);
}

QString WatermarkControls::ImageFilesNameFilter() {
    QStringList patterns;
    for (const std::string& pattern : ImageTypePatterns()) patterns << QString::fromStdString(pattern);
    if (patterns.isEmpty()) return QString();  // no list: every file, as the image test decides
    return LocalizedString("ImageFilesFilterName") + " (" + patterns.join(' ') + ")";
}

WatermarkControls::ImageFileChooser& WatermarkControls::imageFileChooser() {
    static ImageFileChooser chooser = [](QWidget* parent, std::function<void(std::filesystem::path)> chosen) {
        auto* dialog = new QFileDialog(parent, LocalizedString("OpenWatermarkImageDialogTitle"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setNameFilter(ImageFilesNameFilter());
        dialog->setLabelText(QFileDialog::Accept, LocalizedString("SetImageDialogButton"));
        QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, chosen = std::move(chosen)](int result) {
            const QStringList files = dialog->selectedFiles();
            const std::filesystem::path file = files.size() == 1 ? PathShownAs(files.front()) : std::filesystem::path();
            if (result == QDialog::Accepted && !file.empty()) chosen(file);
        });
        dialog->open();
    };
    return chooser;
}

void WatermarkControls::AddWatermarkImage(QObject*) {
    imageFileChooser()(WaterMarkImageView->window(), [this](const std::filesystem::path& path) {
        // A file that is no image changes nothing.
        std::optional<plat::ImageRep> rep = plat::ImageRep::Load(path);
        if (!rep || !rep->image()) return;
        edit([&] { model_->setWatermarkImage(rep->image()); });
        showWatermarkImage();
        changeImageWatermarkOption(WaterMarkImageView);
    });
}

void WatermarkControls::charSpacePopupButtonAction(QObject* sender) {
    const int tag = TagOf(charSpacePopupButtonOutlet, charSpacePopupButtonOutlet->currentIndex());
    edit([&] { model_->setSpacingType(tag); });
    QSignalBlocker block(charSpaceStepperOutlet);
    if (tag != WatermarkEditorModel::kSpacingNone) {
        ShowText(charSpaceTextFieldOutlet, OneDecimal(charSpaceStepperOutlet->value()));
        charSpaceStepperOutlet->setIncrement(tag == WatermarkEditorModel::kSpacingExpanded ? 0.1 : -0.1);
        setTextCharSpaceValue(charSpaceStepperOutlet->value());
    } else {
        ShowText(charSpaceTextFieldOutlet, QString());
        charSpaceStepperOutlet->setValue(0.0);
        charSpaceStepperOutlet->setIncrement(0.1);
        setTextCharSpaceValue(0.0);
    }
    changeTextWatermarkOption(sender);
}

void WatermarkControls::TextCharSpaceStepperControlDidChange(QObject* sender) {
    double v = OneDecimal(charSpaceStepperOutlet->value()).toDouble();
    const QString shown = OneDecimal(v);
    const bool fromNone = model_->textCharSpace() == 0.0;
    QSignalBlocker block(charSpaceStepperOutlet);
    if (v == 0.0) {
        SelectTag(charSpacePopupButtonOutlet, WatermarkEditorModel::kSpacingNone);
        charSpacePopupButtonAction(nullptr);
        setTextCharSpaceValue(0.0);
    } else if (v < 0.0 && fromNone) {
        v = -v;
        charSpaceStepperOutlet->setValue(v);
        SelectTag(charSpacePopupButtonOutlet, WatermarkEditorModel::kSpacingCondensed);
        charSpacePopupButtonAction(nullptr);
        setTextCharSpaceValue(v);
    } else if (v > 0.0 && fromNone) {
        SelectTag(charSpacePopupButtonOutlet, WatermarkEditorModel::kSpacingExpanded);
        charSpacePopupButtonAction(nullptr);
        setTextCharSpaceValue(v);
    } else {
        const double step = v >= 100.0 ? 1.0 : 0.1;
        charSpaceStepperOutlet->setIncrement(model_->SpacingType() == WatermarkEditorModel::kSpacingExpanded ? step
                                                                                                             : -step);
        ShowText(charSpaceTextFieldOutlet, shown);
        setTextCharSpaceValue(v);
    }
    changeTextWatermarkOption(sender);
}

void WatermarkControls::fillStylePopup(const QString& family, const std::string& postScriptName) {
    QSignalBlocker block(fontStylePopupButtonOutlet);
    fontStylePopupButtonOutlet->clear();
    int selected = 0;
    for (const plat::Font::FamilyMember& member : plat::Font::familyMembers(family.toStdString())) {
        if (member.postScriptName == postScriptName) selected = fontStylePopupButtonOutlet->count();
        fontStylePopupButtonOutlet->addItem(QString::fromStdString(member.styleName),
                                            QString::fromStdString(member.postScriptName));
    }
    if (fontStylePopupButtonOutlet->count() > 0) fontStylePopupButtonOutlet->setCurrentIndex(selected);
}

void WatermarkControls::ChangeSelectedFont(QObject* sender) {
    const QString family = fontComboBoxOutlet->currentText();
    fillStylePopup(family, {});
    if (fontStylePopupButtonOutlet->count() > 0) {
        setFontName(plat::Font::fontWithExactName(fontStylePopupButtonOutlet->itemData(0).toString().toStdString()));
    }
    changeTextWatermarkOption(sender);
}

void WatermarkControls::ChangeSelectedFontStyle(QObject* sender) {
    const QString family = fontComboBoxOutlet->currentText();
    const QString style = fontStylePopupButtonOutlet->currentText();
    for (const plat::Font::FamilyMember& member : plat::Font::familyMembers(family.toStdString())) {
        if (QString::fromStdString(member.styleName) != style) continue;
        if (!member.postScriptName.empty()) setFontName(plat::Font::fontWithExactName(member.postScriptName));
        break;
    }
    changeTextWatermarkOption(sender);
}

void WatermarkControls::ShowFontPanel(QObject*) {
    emit fontPanelRequested();
}

void WatermarkControls::setFontToControls(plat::FontRef font) {
    if (!font || font->familyName().empty() || !model_) return;
    const QStringList& families = model_->fontFamilyArray();
    QString family = QString::fromStdString(font->familyName());
    int index = families.indexOf(family);
    if (index < 0) {
        index = 0;
        family = families.value(0);
    }
    const bool sameFamily = fontComboBoxOutlet->currentText() == family;
    const bool sameFace = fontStylePopupButtonOutlet->currentData().toString().toStdString() == font->postScriptName();
    if (sameFamily && sameFace) return;
    {
        QSignalBlocker block(fontComboBoxOutlet);
        fontComboBoxOutlet->setCurrentIndex(index);
        fontComboBoxOutlet->setEditText(family);
    }
    fillStylePopup(family, font->postScriptName());
}

void WatermarkControls::setFontSizeToControl(int pointSize) {
    if (pointSize < 1) return;
    setFontSize(pointSize);
    QSignalBlocker block(fontSizeStepperOutlet);
    fontSizeStepperOutlet->setValue(pointSize);
    SetNumber(fontSizeTextFieldOutlet, pointSize);
}

QString WatermarkControls::firstFontMatchingPrefix(const QString& prefix) const {
    if (!model_ || prefix.isEmpty()) return prefix;
    const QString lower = prefix.toLower();
    for (const QString& family : model_->fontFamilyArray()) {
        if (family.toLower().startsWith(lower)) return family;
    }
    return prefix;
}

// --- Typing in the fields ---

void WatermarkControls::controlTextDidChange(QObject* object) {
    if (!model_) return;
    // A whole-number setting: within `limit` the stepper follows the field,
    // beyond it the field shows the stepper's last accepted value again.
    auto whole = [&](QLineEdit* field, KSMStepper* stepper, std::int64_t limit, void (WatermarkControls::*set)(std::int64_t)) {
        const std::optional<std::int64_t> v = WholeValue(field);
        if (!v) return;
        QSignalBlocker block(stepper);
        if (*v <= limit) {
            stepper->setValue(static_cast<int>(*v));
            (this->*set)(*v);
        } else {
            SetNumber(field, stepper->value());
            (this->*set)(stepper->value());
        }
    };
    // A percent setting with its slider.
    auto percent = [&](QLineEdit* field, QSlider* slider, KSMStepper* stepper, void (WatermarkControls::*set)(double)) {
        const std::optional<std::int64_t> v = WholeValue(field);
        if (!v) return;
        QSignalBlocker blockStepper(stepper);
        QSignalBlocker blockSlider(slider);
        if (*v <= 100) {
            SetSliderFraction(slider, *v / 100.0);
            stepper->setValue(static_cast<int>(*v));
            (this->*set)(*v / 100.0);
        } else {
            SetNumber(field, stepper->value());
            SetSliderFraction(slider, stepper->value() / 100.0);
            (this->*set)(SliderFraction(slider));
        }
    };

    if (object == textTextFieldOutlet) {
        edit([&] { model_->setTextString(textTextFieldOutlet->text()); });
        changeTextWatermarkOption(object);
    } else if (object == fontSizeTextFieldOutlet) {
        whole(fontSizeTextFieldOutlet, fontSizeStepperOutlet, WatermarkEditorModel::kMaxFontSize,
              &WatermarkControls::setFontSize);
        changeTextWatermarkOption(object);
    } else if (object == strokeWidthTextFieldOutlet) {
        whole(strokeWidthTextFieldOutlet, strokeWidthStepperOutlet, model_->textFontSize(),
              &WatermarkControls::setTextStrokeWidth);
        changeTextWatermarkOption(object);
    } else if (object == opacityTextFieldOutlet) {
        percent(opacityTextFieldOutlet, opacitySliderOutlet, opacityStepperOutlet,
                &WatermarkControls::setTextOpacityValue);
        changeTextWatermarkOption(object);
    } else if (object == charSpaceTextFieldOutlet) {
        const QString text = charSpaceTextFieldOutlet->text().trimmed();
        if (const std::optional<double> v = RealValue(charSpaceTextFieldOutlet)) {
            QSignalBlocker block(charSpaceStepperOutlet);
            if (*v <= WatermarkEditorModel::kMaxCharSpace) {
                charSpaceStepperOutlet->setValue(*v);
                setTextCharSpaceValue(*v);
            } else {
                ShowText(charSpaceTextFieldOutlet, OneDecimal(charSpaceStepperOutlet->value()));
                setTextCharSpaceValue(charSpaceStepperOutlet->value());
            }
        }
        // The spacing kind follows the field.
        if (text.isEmpty()) {
            SelectTag(charSpacePopupButtonOutlet, WatermarkEditorModel::kSpacingNone);
            edit([&] { model_->setSpacingType(WatermarkEditorModel::kSpacingNone); });
            QSignalBlocker block(charSpaceStepperOutlet);
            charSpaceStepperOutlet->setValue(0.0);
            charSpaceStepperOutlet->setIncrement(0.1);
            setTextCharSpaceValue(0.0);
        } else if (TagOf(charSpacePopupButtonOutlet, charSpacePopupButtonOutlet->currentIndex()) ==
                   WatermarkEditorModel::kSpacingNone) {
            SelectTag(charSpacePopupButtonOutlet, WatermarkEditorModel::kSpacingExpanded);
            edit([&] { model_->setSpacingType(WatermarkEditorModel::kSpacingExpanded); });
            charSpaceStepperOutlet->setIncrement(0.1);
        }
        changeTextWatermarkOption(object);
    } else if (object == angleTextFieldOutlet) {
        if (const std::optional<std::int64_t> v = WholeValue(angleTextFieldOutlet)) {
            QSignalBlocker blockSlider(angleSliderOutlet);
            QSignalBlocker blockStepper(angleStepperOutlet);
            if (*v <= WatermarkEditorModel::kMaxRotationAngle) {
                angleSliderOutlet->setValue(static_cast<int>(*v));
                angleStepperOutlet->setValue(static_cast<int>(*v));
                setRotationAngle(*v);
            } else {
                setRotationAngle(angleSliderOutlet->value());
                angleStepperOutlet->setValue(static_cast<int>(model_->textRotationAngle()));
                SetNumber(angleTextFieldOutlet, model_->textRotationAngle());
            }
        }
        changeTextWatermarkOption(object);
    } else if (object == blurTextFieldOutlet) {
        whole(blurTextFieldOutlet, blurStepperOutlet, WatermarkEditorModel::kMaxShadowBlur,
              &WatermarkControls::setTextShadowBlur);
        changeTextWatermarkOption(object);
    } else if (object == xOffsetTextFieldOutlet) {
        whole(xOffsetTextFieldOutlet, xOffsetStepperOutlet, WatermarkEditorModel::kMaxShadowOffset,
              &WatermarkControls::setShadowXOffset);
        changeTextWatermarkOption(object);
    } else if (object == yOffsetTextFieldOutlet) {
        whole(yOffsetTextFieldOutlet, yOffsetStepperOutlet, WatermarkEditorModel::kMaxShadowOffset,
              &WatermarkControls::setShadowYOffset);
        changeTextWatermarkOption(object);
    } else if (object == WatermarkImageOpacityTextFieldOutlet) {
        percent(WatermarkImageOpacityTextFieldOutlet, WatermarkImageOpacitySliderOutlet,
                WatermarkImageOpacityStepperOutlet, &WatermarkControls::setWatermarkImageOpacityValue);
        changeImageWatermarkOption(object);
    } else if (object == WatermarkImageSizeTextFieldOutlet) {
        const std::optional<std::int64_t> v = WholeValue(WatermarkImageSizeTextFieldOutlet);
        if (v && *v <= 100) {
            // The model takes at least 5 % at once; the field keeps what is
            // being typed ("2" on the way to "25") until editing ends.
            const std::int64_t size = std::max<std::int64_t>(*v, 5);
            QSignalBlocker blockStepper(WatermarkImageSizeStepperOutlet);
            QSignalBlocker blockSlider(WatermarkImageSizeSliderOutlet);
            SetSliderFraction(WatermarkImageSizeSliderOutlet, size / 100.0);
            WatermarkImageSizeStepperOutlet->setValue(static_cast<int>(size));
            setWatermarkImageSizeValue(size / 100.0);
        } else if (v) {
            percent(WatermarkImageSizeTextFieldOutlet, WatermarkImageSizeSliderOutlet, WatermarkImageSizeStepperOutlet,
                    &WatermarkControls::setWatermarkImageSizeValue);
        }
        changeImageWatermarkOption(object);
    }
}

void WatermarkControls::controlTextDidEndEditing(QObject* object) {
    if (object == WatermarkImageSizeTextFieldOutlet && !WatermarkImageSizeTextFieldOutlet->text().isEmpty()) {
        SetNumber(WatermarkImageSizeTextFieldOutlet, WatermarkImageSizeStepperOutlet->value());
    }
}

// --- Enabling ---

void WatermarkControls::ImageWatermarkOnOffAction(bool on) {
    edit([&] { model_->setImageWatermarkFlag(on); });
    EnableDisableWatermarkImageControls(on);
    emit model_->valueChanged();
}

void WatermarkControls::EnableDisableWatermarkControls(bool on) {
    Enable<QWidget>(on, {waterMarkPresetLabelOutlet, waterMarkPresetPopupOutlet, waterMarkSavePresetButtonOutlet,
                         textLabelOutlet, textTextFieldOutlet, fontLabelOutlet, fontComboBoxOutlet,
                         fontStylePopupButtonOutlet, showFontPanelButtonOutlet, fontSizeLabelOutlet,
                         fontSizeTextFieldOutlet, fontSizeStepperOutlet, fillTypeLabel, fillTypePopupOutlet,
                         fillColorLabel, fillColorWellOutlet, opacityLabelOutlet, oLabelOutlet, opacityTextFieldOutlet,
                         opacitySliderOutlet, opacityStepperOutlet, charSpaceLabelOutlet, charSpaceTextFieldOutlet,
                         charSpacePopupButtonOutlet, charSpaceStepperOutlet, angleLabelOutlet, aLabelOutlet,
                         angleTextFieldOutlet, angleSliderOutlet, angleStepperOutlet, dropShadowCheckBoxOutlet});
    if (on) {
        EnableDisableColorControl(model_ ? model_->drawingMode() : 0);
        EnableDisableShadowControl(model_ ? model_->isDropShadowApplied() : true);
    } else {
        EnableDisableStrokeControl(false);
        EnableDisableShadowControl(false);
    }
}

void WatermarkControls::EnableDisableShadowControl(bool on) {
    Enable<QWidget>(on, {shadowColorWellOutlet, xOffsetLabel, xOffsetTextFieldOutlet, xOffsetStepperOutlet,
                         yOffsetLabel, yOffsetTextFieldOutlet, yOffsetStepperOutlet, blurLabel, blurTextFieldOutlet,
                         blurStepperOutlet});
}

void WatermarkControls::EnableDisableStrokeControl(bool on) {
    Enable<QWidget>(on, {strokeWidthLabel, strokeWidthTextFieldOutlet, strokeWidthStepperOutlet});
}

void WatermarkControls::EnableDisableColorControl(int mode) {
    // Fill and stroke draws with the stroke width too, so its controls work
    // in both stroking modes.
    EnableDisableStrokeControl(mode != 0);
}

void WatermarkControls::EnableDisableWatermarkImageControls(bool on) {
    Enable<QWidget>(on, {WaterMarkImageView, WatermarkImageSizeSliderOutlet, WatermarkImageSizeTextFieldOutlet,
                         WatermarkImageSizeStepperOutlet, WatermarkImageOpacitySliderOutlet,
                         WatermarkImageOpacityTextFieldOutlet, WatermarkImageOpacityStepperOutlet, AddButtonOutlet,
                         WatermarkImageSizeTextLabel, WatermarkImageOpacityTextLabel,
                         WatermarkImageSizePercentTextLabel, WatermarkImageOpacityPercentTextLabel});
}
