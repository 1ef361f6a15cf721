#include "app/ui/JobOptionPanels.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/StringTable.h"
#include "app/ui/KSMStepper.h"
#include "app/ui/LockImageView.h"
#include "app/ui/NumberFields.h"
#include "app/ui/OptionRowBuilders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace {

using namespace optionrow;

constexpr int kQualitySliderSteps = 100;

// Output types offered, by ImageTypeCode.
constexpr MenuItem kOutputTypes[] = {
    {"OutputTypeSourceItem", 0}, {"JPEG", 4, false},       {"JPEG 2000", 3, false}, {"PNG", 7, false},
    {"TIFF", 10, false},         {"CMYK TIFF", 13, false}, {"GIF", 2, false},       {"BMP", 11, false},
    {"Photoshop", 1, false},     {"OpenEXR", 5, false},    {"TGA", 9, false},       {"SGI", 12, false},
    {"ICO", 18, false},          {"ICNS", 6, false},       {"PDF", 8, false},
};
constexpr MenuItem kOptimizations[] = {
    {"OptimizeJPEGItem", kOptimizeJPEG}, {"OptimizePNGItem", kOptimizePNG},
    {"OptimizeBothItem", kOptimizeJPEG | kOptimizePNG}};
constexpr MenuItem kRenameKinds[] = {{"RenameNewNameItem", kRenameNewName},
                                     {"RenamePrefixSuffixItem", kRenamePrefixSuffix}};
constexpr MenuItem kNumberPositions[] = {
    {"NumberAfterItem", kNumberAfterName}, {"NumberBeforeItem", kNumberBeforeName}, {"NumberNoneItem", kNoNumber}};
constexpr MenuItem kScaleOptions[] = {
    {"ScaleOptionWidthItem", 0},   {"ScaleOptionHeightItem", 1}, {"ScaleOptionFitItem", 2},
    {"ScaleOptionCropItem", 3},    {"ScaleOptionStretchItem", 4}, {"ScaleOptionFillItem", 5},
    {"ScaleOptionFillCropItem", 6}};
constexpr MenuItem kUnits[] = {{"UnitPercentItem", kUnitPercent},         {"UnitPixelsItem", kUnitPixels},
                               {"UnitInchesItem", kUnitInches},           {"UnitCentimetresItem", kUnitCentimetres},
                               {"UnitMillimetresItem", kUnitMillimetres}, {"UnitPointsItem", kUnitPoints}};
// The dimension menu, by index: nullptr marks a divider.
constexpr const char* kDimensionItems[] = {"DimensionCustomItem", nullptr,        "320 × 240",   "640 × 480",
                                           "800 × 600",           "1024 × 768",   "1280 × 1024", nullptr,
                                           "1280 × 720",          "1920 × 1080",  nullptr};
constexpr const char* kResolutions[] = {"72", "96", "150", "300", "600"};

LockLinesBox* LockLine(const char* outlet, int edges, QWidget* parent) {
    auto* line = Named(new LockLinesBox(edges, parent), outlet);
    line->setFixedWidth(8);
    return line;
}

// A row of one labelled popup.
template <std::size_t N>
QWidget* LabelledPopupRow(const char* panelName, const char* labelOutlet, const char* labelKey,
                          const char* popupOutlet, const MenuItem (&items)[N], QWidget* store, QLabel*& label,
                          QComboBox*& popup) {
    QWidget* panel = Panel(panelName, store);
    QHBoxLayout* row = RowLayout(panel);
    label = Label(labelOutlet, labelKey, panel);
    popup = Popup(popupOutlet, items, panel);
    Pair(label, popup);
    row->addWidget(label);
    row->addWidget(popup, 1);
    return panel;
}

}  // namespace

JobOptionPanels::JobOptionPanels(QWidget* store) : QObject(store) {
    addPanel(buildConversionView(store));
    addPanel(buildOptimizationView(store));
    addPanel(buildRenameView1(store));
    addPanel(buildRenameView2(store));
    addPanel(buildRenameView3(store));
    addPanel(buildResizeView1(store));
    addPanel(buildResizeView2(store));
    addPanel(buildResizeView3(store));
    alignLabelColumn();
    // Each row is as high as its controls lay out.
    for (QWidget* panel : panels_) panel->setFixedHeight(panel->sizeHint().height());
}

void JobOptionPanels::alignLabelColumn() {
    const std::initializer_list<QLabel*> labels = {
        destImageTypeStaticText, imageQualityStaticText, OptimizationStaticText, renameOptionNameLabelOutlet,
        prefixLabel, suffixLabel, addNumberLabel, zeroPaddingLabel, exampleStaticText, imageDimentionsLabel,
        scaleProprtionallyLabel, widthLabel, heightLabel};
    int width = 0;
    for (QLabel* label : labels) width = std::max(width, label->sizeHint().width());
    for (QLabel* label : labels) {
        label->setFixedWidth(width);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    resizeView3Grid_->setColumnMinimumWidth(0, width);
    resizeView3Grid_->setHorizontalSpacing(kSpacing);
}

void JobOptionPanels::addPanel(QWidget* panel) {
    panels_.push_back(panel);
}

// --- Building ---

QWidget* JobOptionPanels::buildConversionView(QWidget* store) {
    QWidget* panel = Panel("ConversionView", store);
    QGridLayout* grid = GridLayout(panel);

    destImageTypeStaticText = Label("destImageTypeStaticText", "OutputTypeLabel", panel);
    destImageTypePopUpButton = Popup("destImageTypePopUpButton", kOutputTypes, panel);
    Pair(destImageTypeStaticText, destImageTypePopUpButton);
    grid->addWidget(destImageTypeStaticText, 0, 0, Qt::AlignRight);
    grid->addWidget(destImageTypePopUpButton, 0, 1, 1, 3);

    imageQualityStaticText = Label("imageQualityStaticText", "QualityLabel", panel);
    imageQualitySlider = Named(new QSlider(Qt::Horizontal, panel), "imageQualitySlider");
    imageQualitySlider->setRange(0, kQualitySliderSteps);
    imageQualityEditFieldOutlet = NumberInput<ShadowBlurNumberField>("imageQualityEditFieldOutlet", panel);
    imageQualityEditFieldOutlet->setFixedWidth(40);
    imageQualityStepperOutlet = Stepper("imageQualityStepperOutlet", 0, 100, LocalizedString("QualityLabel"), panel);
    Pair(imageQualityStaticText, imageQualitySlider);
    imageQualityEditFieldOutlet->setAccessibleName(imageQualitySlider->accessibleName());
    grid->addWidget(imageQualityStaticText, 1, 0, Qt::AlignRight);
    grid->addWidget(imageQualitySlider, 1, 1);
    grid->addWidget(imageQualityEditFieldOutlet, 1, 2);
    grid->addWidget(imageQualityStepperOutlet, 1, 3);

    auto* marks = new QHBoxLayout;
    marks->setContentsMargins(0, 0, 0, 0);
    imageQualityLowStaticText = Label("imageQualityLowStaticText", "QualityLowLabel", panel);
    imageQualityMediumStaticText = Label("imageQualityMediumStaticText", "QualityMediumLabel", panel);
    imageQualityBestStaticText = Label("imageQualityBestStaticText", "QualityBestLabel", panel);
    for (QLabel* mark : {imageQualityLowStaticText, imageQualityMediumStaticText, imageQualityBestStaticText}) {
        QFont font = mark->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        mark->setFont(font);
    }
    marks->addWidget(imageQualityLowStaticText);
    marks->addStretch(1);
    marks->addWidget(imageQualityMediumStaticText);
    marks->addStretch(1);
    marks->addWidget(imageQualityBestStaticText);
    grid->addLayout(marks, 2, 1);
    grid->setColumnStretch(1, 1);
    return panel;
}

QWidget* JobOptionPanels::buildOptimizationView(QWidget* store) {
    return LabelledPopupRow("OptimizationView", "OptimizationStaticText", "OptimizationLabel",
                            "OptimizationPopupOutlet", kOptimizations, store, OptimizationStaticText,
                            OptimizationPopupOutlet);
}

QWidget* JobOptionPanels::buildRenameView1(QWidget* store) {
    return LabelledPopupRow("RenameView1", "renameOptionNameLabelOutlet", "RenameKindLabel", "renameOptionPopupOutlet",
                            kRenameKinds, store, renameOptionNameLabelOutlet, renameOptionPopupOutlet);
}

QWidget* JobOptionPanels::buildRenameView2(QWidget* store) {
    QWidget* panel = Panel("RenameView2", store);
    QGridLayout* grid = GridLayout(panel);
    prefixLabel = Label("prefixLabel", "RenameTextLabel", panel);
    fileNameTextField = Named(new QLineEdit(panel), "fileNameTextField");
    suffixLabel = Label("suffixLabel", "RenameSuffixLabel", panel);
    suffixTextField = Named(new QLineEdit(panel), "suffixTextField");
    Pair(prefixLabel, fileNameTextField);
    Pair(suffixLabel, suffixTextField);
    grid->addWidget(prefixLabel, 0, 0);
    grid->addWidget(fileNameTextField, 0, 1);
    grid->addWidget(suffixLabel, 1, 0);
    grid->addWidget(suffixTextField, 1, 1);
    return panel;
}

QWidget* JobOptionPanels::buildRenameView3(QWidget* store) {
    QWidget* panel = Panel("RenameView3", store);
    QGridLayout* grid = GridLayout(panel);

    addNumberLabel = Label("addNumberLabel", "AddNumberLabel", panel);
    addNumberPopupButton = Popup("addNumberPopupButton", kNumberPositions, panel);
    Pair(addNumberLabel, addNumberPopupButton);
    grid->addWidget(addNumberLabel, 0, 0, Qt::AlignRight);
    grid->addWidget(addNumberPopupButton, 0, 1, 1, 5);

    zeroPaddingLabel = Label("zeroPaddingLabel", "ZeroPaddingLabel", panel);
    zeroPaddingNumberField = NumberInput<ZeroCountNumberField>("zeroPaddingNumberField", panel);
    zeroPaddingNumberField->setFixedWidth(32);
    zeroPaddingStepper = Stepper("zeroPaddingStepper", 0, 9, zeroPaddingLabel->text().remove(QLatin1Char(':')), panel);
    startDigitLabel = Label("startDigitLabel", "StartDigitLabel", panel);
    startDigitNumberField = NumberInput<StartDigitNumberField>("startDigitNumberField", panel);
    startDigitNumberField->setFixedWidth(84);
    startDigitStepper =
        Stepper("startDigitStepper", 0, 2147483647, startDigitLabel->text().remove(QLatin1Char(':')), panel);
    Pair(zeroPaddingLabel, zeroPaddingNumberField);
    Pair(startDigitLabel, startDigitNumberField);
    auto* numbers = new QHBoxLayout;
    numbers->setSpacing(2);
    numbers->addWidget(zeroPaddingNumberField);
    numbers->addWidget(zeroPaddingStepper);
    numbers->addSpacing(12);
    numbers->addWidget(startDigitLabel);
    numbers->addSpacing(kSpacing - 2);
    numbers->addWidget(startDigitNumberField);
    numbers->addWidget(startDigitStepper);
    numbers->addStretch(1);
    grid->addWidget(zeroPaddingLabel, 1, 0, Qt::AlignRight);
    grid->addLayout(numbers, 1, 1, 1, 5);

    exampleStaticText = Label("exampleStaticText", "ExampleLabel", panel);
    exampleStringStaticText = Named(new QLabel(QStringLiteral("-"), panel), "exampleStringStaticText");
    exampleStringStaticText->setTextFormat(Qt::PlainText);
    exampleStringStaticText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    exampleStringStaticText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Pair(exampleStaticText, exampleStringStaticText);
    grid->addWidget(exampleStaticText, 2, 0, Qt::AlignRight);
    grid->addWidget(exampleStringStaticText, 2, 1, 1, 5);
    grid->setColumnStretch(5, 1);
    return panel;
}

QWidget* JobOptionPanels::buildResizeView1(QWidget* store) {
    QWidget* panel = Panel("ResizeView1", store);
    QHBoxLayout* row = RowLayout(panel);
    imageDimentionsLabel = Label("imageDimentionsLabel", "DimensionsLabel", panel);
    imageDimentionsPopupOutlet = Named(new QComboBox(panel), "imageDimentionsPopupOutlet");
    QComboBox* menu = imageDimentionsPopupOutlet;
    for (const char* item : kDimensionItems) {
        const int index = menu->count();
        if (!item) menu->insertSeparator(index);
        else if (index == 0) menu->addItem(LocalizedString(item), 0);  // the custom values carry tag 0
        else menu->addItem(QString::fromUtf8(item), -1);
    }
    savePresetButton = Named(new QPushButton(LocalizedString("SaveResizePresetButton"), panel), "savePresetButton");
    Pair(imageDimentionsLabel, imageDimentionsPopupOutlet);
    row->addWidget(imageDimentionsLabel);
    row->addWidget(imageDimentionsPopupOutlet, 1);
    row->addWidget(savePresetButton);
    return panel;
}

QWidget* JobOptionPanels::buildResizeView2(QWidget* store) {
    QWidget* panel = Panel("ResizeView2", store);
    QGridLayout* grid = GridLayout(panel);

    scaleProprtionallyLabel = Label("scaleProprtionallyLabel", "ScaleLabel", panel);
    scaleProprtionallyPopupOutlet = Popup("scaleProprtionallyPopupOutlet", kScaleOptions, panel);
    Pair(scaleProprtionallyLabel, scaleProprtionallyPopupOutlet);
    grid->addWidget(scaleProprtionallyLabel, 0, 0, Qt::AlignRight);
    grid->addWidget(scaleProprtionallyPopupOutlet, 0, 1, 1, 4);

    widthLabel = Label("widthLabel", "WidthLabel", panel);
    heightLabel = Label("heightLabel", "HeightLabel", panel);
    widthTextField = NumberInput<NumberField>("widthTextField", panel);
    heightTextField = NumberInput<NumberField>("heightTextField", panel);
    widthTextField->setFixedWidth(72);
    heightTextField->setFixedWidth(72);
    Pair(widthLabel, widthTextField);
    Pair(heightLabel, heightTextField);
    grid->addWidget(widthLabel, 1, 0, Qt::AlignRight);
    grid->addWidget(widthTextField, 1, 1);
    grid->addWidget(heightLabel, 2, 0, Qt::AlignRight);
    grid->addWidget(heightTextField, 2, 1);

    // The bracket joining the two fields, from the middle of one to the
    // middle of the other, with a tick out to the padlock.
    const int halfField = widthTextField->sizeHint().height() / 2;
    lockLinesBox1 = LockLine("lockLinesBox1", LockLinesBox::Top | LockLinesBox::Right, panel);
    lockLinesBox3 = LockLine("lockLinesBox3", LockLinesBox::Bottom | LockLinesBox::Right, panel);
    lockLinesBox2 = LockLine("lockLinesBox2", LockLinesBox::Top, panel);
    lockLinesBox2->setFixedSize(5, 1);
    auto* bracket = new QVBoxLayout;
    bracket->setContentsMargins(0, 0, 0, 0);
    bracket->setSpacing(0);
    bracket->addSpacing(halfField);
    bracket->addWidget(lockLinesBox1, 1);
    bracket->addWidget(lockLinesBox3, 1);
    bracket->addSpacing(halfField);
    lockUnlockImageView = Named(new LockImageView(panel), "lockUnlockImageView");
    lockUnlockImageView->setAccessibleName(LocalizedString("ProportionsLockName"));
    auto* lock = new QHBoxLayout;
    lock->setContentsMargins(0, 0, 0, 0);
    lock->setSpacing(0);
    lock->addLayout(bracket);
    lock->addWidget(lockLinesBox2, 0, Qt::AlignVCenter);
    lock->addSpacing(2);
    lock->addWidget(lockUnlockImageView, 0, Qt::AlignVCenter);
    grid->addLayout(lock, 1, 2, 2, 1);

    sizeFormatTypePopupButton = Popup("sizeFormatTypePopupButton", kUnits, panel);
    SetAccessibleName(sizeFormatTypePopupButton, LocalizedString("UnitName"));
    grid->addWidget(sizeFormatTypePopupButton, 1, 3, 2, 1, Qt::AlignVCenter);
    grid->setColumnStretch(4, 1);
    return panel;
}

QWidget* JobOptionPanels::buildResizeView3(QWidget* store) {
    QWidget* panel = Panel("ResizeView3", store);
    QGridLayout* grid = GridLayout(panel);
    upsampleImageCheckButton =
        Named(new QCheckBox(LocalizedString("UpsampleCheckBox"), panel), "upsampleImageCheckButton");
    sharpenImageCheckButton =
        Named(new QCheckBox(LocalizedString("SharpenCheckBox"), panel), "sharpenImageCheckButton");
    resolutionCheckBox = Named(new QCheckBox(LocalizedString("ResolutionCheckBox"), panel), "resolutionCheckBox");
    resolutionComboBoxOutlet = Named(new ResolutionComboBox(panel), "resolutionComboBoxOutlet");
    for (const char* resolution : kResolutions) resolutionComboBoxOutlet->addItem(QLatin1String(resolution));
    resolutionComboBoxOutlet->setFixedWidth(84);
    SetAccessibleName(resolutionComboBoxOutlet, resolutionCheckBox->text().remove(QLatin1Char(':')));
    // Column 0 lines up with the labels of the rows above.
    grid->addWidget(upsampleImageCheckButton, 0, 1);
    grid->addWidget(sharpenImageCheckButton, 0, 2, 1, 2);
    grid->addWidget(resolutionCheckBox, 1, 1);
    grid->addWidget(resolutionComboBoxOutlet, 1, 2);
    resizeView3Grid_ = grid;
    grid->setColumnStretch(3, 1);
    return panel;
}

// --- Binding ---

void JobOptionPanels::bind(JobOptionsModel* model) {
    model_ = model;
    connectConversion();
    connectRename();
    connectResize();
    connect(model_, &JobOptionsModel::stateChanged, this, &JobOptionPanels::refresh);
    refresh();
}

void JobOptionPanels::connectConversion() {
    JobOptionsModel* m = model_;
    connect(destImageTypePopUpButton, &QComboBox::activated, m,
            [this, m](int index) { m->SetImageTypeSecondaryOption(TagOf(destImageTypePopUpButton, index), true); });
    connect(imageQualitySlider, &QSlider::valueChanged, m,
            [m](int value) { m->changeImageQualityAction(value / double(kQualitySliderSteps), true); });
    auto qualityText = [this, m] { m->imageQualityTextDidChange(imageQualityEditFieldOutlet->text()); };
    connect(imageQualityEditFieldOutlet, &KSMNumberTextField::controlTextDidChange, m, qualityText);
    connect(imageQualityStepperOutlet, &QSpinBox::valueChanged, m,
            [m](int value) { m->ImageQualityStepperControlDidChange(value, true); });
    connect(OptimizationPopupOutlet, &QComboBox::activated, m,
            [this, m](int index) { m->changeOptimizationOptionAction(TagOf(OptimizationPopupOutlet, index), true); });
}

void JobOptionPanels::connectRename() {
    JobOptionsModel* m = model_;
    connect(renameOptionPopupOutlet, &QComboBox::activated, m,
            [this, m](int index) { m->ChangeRenameOptionActions(TagOf(renameOptionPopupOutlet, index), true); });
    connect(fileNameTextField, &QLineEdit::textEdited, m, &JobOptionsModel::fileNameTextDidChange);
    connect(suffixTextField, &QLineEdit::textEdited, m, &JobOptionsModel::suffixTextDidChange);
    connect(addNumberPopupButton, &QComboBox::activated, m, [this, m](int index) {
        m->changeAddNumberPositionPopupAction(TagOf(addNumberPopupButton, index), true);
    });
    auto padding = [this, m] { m->zeroPaddingTextDidChange(zeroPaddingNumberField->text()); };
    connect(zeroPaddingNumberField, &KSMNumberTextField::controlTextDidChange, m, padding);
    connect(zeroPaddingNumberField, &KSMNumberTextField::controlTextDidEndEditing, m, padding);
    connect(zeroPaddingStepper, &QSpinBox::valueChanged, m,
            [m](int value) { m->ZeroPaddingStepperControlDidChange(value, true); });
    auto start = [this, m] { m->startDigitTextDidChange(startDigitNumberField->text()); };
    connect(startDigitNumberField, &KSMNumberTextField::controlTextDidChange, m, start);
    connect(startDigitNumberField, &KSMNumberTextField::controlTextDidEndEditing, m, start);
    connect(startDigitStepper, &QSpinBox::valueChanged, m,
            [m](int value) { m->StartDigitStepperControlDidChange(value, true); });
}

void JobOptionPanels::connectResize() {
    JobOptionsModel* m = model_;
    connect(imageDimentionsPopupOutlet, &QComboBox::activated, m,
            [m](int index) { m->changeImageDimentionPopupAction(index, true); });
    connect(scaleProprtionallyPopupOutlet, &QComboBox::activated, m, [this, m](int index) {
        m->changeInScaleProportionalityAction(TagOf(scaleProprtionallyPopupOutlet, index), true);
    });
    connect(sizeFormatTypePopupButton, &QComboBox::activated, m, [this, m](int index) {
        m->changeImageResizeTypePopupAction(TagOf(sizeFormatTypePopupButton, index), true);
    });
    auto width = [this, m] { m->widthTextDidChange(widthTextField->text()); };
    auto height = [this, m] { m->heightTextDidChange(heightTextField->text()); };
    auto resolution = [this, m] { m->resolutionTextDidChange(resolutionComboBoxOutlet->currentText()); };
    connect(widthTextField, &KSMNumberTextField::controlTextDidChange, m, width);
    connect(widthTextField, &KSMNumberTextField::controlTextDidEndEditing, m, width);
    connect(heightTextField, &KSMNumberTextField::controlTextDidChange, m, height);
    connect(heightTextField, &KSMNumberTextField::controlTextDidEndEditing, m, height);
    connect(resolutionComboBoxOutlet, &KSMNumberComboBox::controlTextDidChange, m, resolution);
    connect(resolutionComboBoxOutlet, &KSMNumberComboBox::controlTextDidEndEditing, m, resolution);
    connect(resolutionComboBoxOutlet, &QComboBox::activated, m, resolution);
    connect(upsampleImageCheckButton, &QCheckBox::toggled, m, [m](bool on) { m->setUpsample(on, true); });
    connect(sharpenImageCheckButton, &QCheckBox::toggled, m, [m](bool on) { m->setSharpen(on, true); });
    connect(resolutionCheckBox, &QCheckBox::toggled, m, [m](bool on) { m->setResolutionOn(on, true); });
    connect(savePresetButton, &QPushButton::clicked, this, &JobOptionPanels::savePresetRequested);
}

void JobOptionPanels::setSavePresetAvailable(bool available) {
    savePresetAvailable_ = available;
    refresh();
}

void JobOptionPanels::setResizePresetNames(const QStringList& names) {
    const QSignalBlocker blocker(imageDimentionsPopupOutlet);
    while (imageDimentionsPopupOutlet->count() > JobOptionsModel::kFirstResizePresetIndex) {
        imageDimentionsPopupOutlet->removeItem(imageDimentionsPopupOutlet->count() - 1);
    }
    // Presets also carry tag 0, as the custom item does.
    for (const QString& name : names) imageDimentionsPopupOutlet->addItem(name, 0);
    if (model_) model_->setResizePresetNames(names);
}

void JobOptionPanels::refresh() {
    if (!model_) return;
    const JobOptionState& s = model_->state();
    const std::vector<QObject*> controls = {
        destImageTypePopUpButton, imageQualitySlider, imageQualityEditFieldOutlet, imageQualityStepperOutlet,
        OptimizationPopupOutlet, renameOptionPopupOutlet, fileNameTextField, suffixTextField, addNumberPopupButton,
        zeroPaddingNumberField, zeroPaddingStepper, startDigitNumberField, startDigitStepper,
        imageDimentionsPopupOutlet, scaleProprtionallyPopupOutlet, sizeFormatTypePopupButton, widthTextField,
        heightTextField, upsampleImageCheckButton, sharpenImageCheckButton, resolutionCheckBox,
        resolutionComboBoxOutlet};
    std::vector<std::unique_ptr<QSignalBlocker>> blockers;
    for (QObject* control : controls) blockers.push_back(std::make_unique<QSignalBlocker>(control));

    // Conversion.
    SelectTag(destImageTypePopUpButton, s.outputType);
    destImageTypePopUpButton->setEnabled(s.outputTypeEnabled());
    destImageTypeStaticText->setEnabled(s.outputTypeEnabled());
    imageQualitySlider->setValue(static_cast<int>(std::lround(s.qualitySlider * kQualitySliderSteps)));
    ShowText(imageQualityEditFieldOutlet, s.qualityText);
    imageQualityStepperOutlet->setValue(s.qualityStepper);
    for (QWidget* control : std::initializer_list<QWidget*>{
             imageQualitySlider, imageQualityEditFieldOutlet, imageQualityStepperOutlet, imageQualityStaticText,
             imageQualityLowStaticText, imageQualityMediumStaticText, imageQualityBestStaticText}) {
        control->setEnabled(s.qualityEnabled());
    }

    // Optimisation.
    SelectTag(OptimizationPopupOutlet, s.optimizationTag);
    OptimizationPopupOutlet->setEnabled(s.optimizationEnabled());
    OptimizationStaticText->setEnabled(s.optimizationEnabled());

    // Rename.
    SelectTag(renameOptionPopupOutlet, s.renameTag);
    ShowText(fileNameTextField, s.fileNameText);
    ShowText(suffixTextField, s.suffixText);
    fileNameTextField->setPlaceholderText(s.fileNamePlaceholder);
    suffixTextField->setPlaceholderText(s.suffixPlaceholder);
    SelectTag(addNumberPopupButton, s.numberPosition);
    ShowText(zeroPaddingNumberField, s.zeroPaddingText);
    zeroPaddingStepper->setValue(s.zeroPaddingStepper);
    ShowText(startDigitNumberField, s.startDigitText);
    startDigitStepper->setValue(static_cast<int>(s.startDigitStepper));
    exampleStringStaticText->setText(s.exampleText);
    exampleStringStaticText->setToolTip(s.exampleToolTip);
    for (QWidget* control :
         std::initializer_list<QWidget*>{renameOptionPopupOutlet, renameOptionNameLabelOutlet, fileNameTextField,
                                         prefixLabel, addNumberPopupButton, addNumberLabel, exampleStaticText,
                                         exampleStringStaticText}) {
        control->setEnabled(s.renameEnabled());
    }
    suffixTextField->setEnabled(s.suffixEnabled());
    suffixLabel->setEnabled(s.suffixEnabled());
    for (QWidget* control : std::initializer_list<QWidget*>{zeroPaddingLabel, zeroPaddingNumberField,
                                                            zeroPaddingStepper, startDigitLabel,
                                                            startDigitNumberField, startDigitStepper}) {
        control->setEnabled(s.numberControlsEnabled());
    }

    // Resize.
    if (imageDimentionsPopupOutlet->currentIndex() != s.dimensionIndex) {
        imageDimentionsPopupOutlet->setCurrentIndex(s.dimensionIndex);
    }
    SelectTag(scaleProprtionallyPopupOutlet, s.scaleOption);
    SelectTag(sizeFormatTypePopupButton, s.unit);
    if (auto* items = qobject_cast<QStandardItemModel*>(sizeFormatTypePopupButton->model())) {
        const int percent = sizeFormatTypePopupButton->findData(kUnitPercent);
        if (QStandardItem* item = items->item(percent)) item->setEnabled(s.percentUnitEnabled);
    }
    ShowText(widthTextField, s.widthText);
    ShowText(heightTextField, s.heightText);
    widthTextField->setPlaceholderText(s.widthPlaceholder);
    heightTextField->setPlaceholderText(s.heightPlaceholder);
    widthTextField->setEnabled(s.widthEnabled());
    widthLabel->setEnabled(s.widthEnabled());
    heightTextField->setEnabled(s.heightEnabled());
    heightLabel->setEnabled(s.heightEnabled());
    for (QFrame* line : {lockLinesBox1, lockLinesBox2, lockLinesBox3}) line->setVisible(s.lockLinesShown);
    lockUnlockImageView->setLocked(s.locked);
    upsampleImageCheckButton->setChecked(s.upsample);
    sharpenImageCheckButton->setChecked(s.sharpen);
    resolutionCheckBox->setChecked(s.resolutionOn);
    if (resolutionComboBoxOutlet->currentText() != s.resolutionText) {
        resolutionComboBoxOutlet->setEditText(s.resolutionText);
    }
    for (QWidget* control : std::initializer_list<QWidget*>{
             imageDimentionsPopupOutlet, imageDimentionsLabel, scaleProprtionallyPopupOutlet,
             scaleProprtionallyLabel, sizeFormatTypePopupButton, lockUnlockImageView, upsampleImageCheckButton,
             sharpenImageCheckButton, resolutionCheckBox}) {
        control->setEnabled(s.resizeEnabled());
    }
    resolutionComboBoxOutlet->setEnabled(s.resolutionFieldEnabled());
    savePresetButton->setEnabled(s.resizeEnabled() && savePresetAvailable_);
}
