#pragma once

#include <QObject>
#include <QString>

#include <vector>

class JobOptionsModel;
class KSMStepper;
class LockImageView;
class NumberField;
class QCheckBox;
class QComboBox;
class QFrame;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;
class ResolutionComboBox;
class ShadowBlurNumberField;
class StartDigitNumberField;
class ZeroCountNumberField;

// The option-row panels of the conversion, optimisation, rename and resize
// groups, bound to the job's option model: user edits go to the model's
// actions, and every state change is shown again under signal blockers, so
// a change made by code never counts as a user edit. Each control's
// objectName is its outlet name.
class JobOptionPanels : public QObject {
    Q_OBJECT
public:
    // Builds the panels as children of `store`.
    explicit JobOptionPanels(QWidget* store);

    // The panels by outlet name ("ConversionView", "RenameView2", ...), each
    // as high as its controls need.
    const std::vector<QWidget*>& panels() const { return panels_; }

    void bind(JobOptionsModel* model);
    // Shows the model's state in the controls.
    void refresh();

    // The resize row's save button works once the preset dialog is there.
    void setSavePresetAvailable(bool available);
    // Titles of the user's resize presets, after the built-in sizes.
    void setResizePresetNames(const QStringList& names);

    // Conversion.
    QComboBox* destImageTypePopUpButton = nullptr;
    QLabel* destImageTypeStaticText = nullptr;
    QSlider* imageQualitySlider = nullptr;
    ShadowBlurNumberField* imageQualityEditFieldOutlet = nullptr;
    KSMStepper* imageQualityStepperOutlet = nullptr;
    QLabel* imageQualityStaticText = nullptr;
    QLabel* imageQualityLowStaticText = nullptr;
    QLabel* imageQualityMediumStaticText = nullptr;
    QLabel* imageQualityBestStaticText = nullptr;

    // Optimisation.
    QComboBox* OptimizationPopupOutlet = nullptr;
    QLabel* OptimizationStaticText = nullptr;

    // Rename.
    QComboBox* renameOptionPopupOutlet = nullptr;
    QLabel* renameOptionNameLabelOutlet = nullptr;
    QLineEdit* fileNameTextField = nullptr;
    QLabel* prefixLabel = nullptr;
    QLineEdit* suffixTextField = nullptr;
    QLabel* suffixLabel = nullptr;
    QComboBox* addNumberPopupButton = nullptr;
    QLabel* addNumberLabel = nullptr;
    ZeroCountNumberField* zeroPaddingNumberField = nullptr;
    KSMStepper* zeroPaddingStepper = nullptr;
    QLabel* zeroPaddingLabel = nullptr;
    StartDigitNumberField* startDigitNumberField = nullptr;
    KSMStepper* startDigitStepper = nullptr;
    QLabel* startDigitLabel = nullptr;
    QLabel* exampleStaticText = nullptr;
    QLabel* exampleStringStaticText = nullptr;

    // Resize.
    QComboBox* imageDimentionsPopupOutlet = nullptr;
    QLabel* imageDimentionsLabel = nullptr;
    QComboBox* scaleProprtionallyPopupOutlet = nullptr;
    QLabel* scaleProprtionallyLabel = nullptr;
    QComboBox* sizeFormatTypePopupButton = nullptr;
    NumberField* widthTextField = nullptr;
    NumberField* heightTextField = nullptr;
    QLabel* widthLabel = nullptr;
    QLabel* heightLabel = nullptr;
    QFrame* lockLinesBox1 = nullptr;
    QFrame* lockLinesBox2 = nullptr;
    QFrame* lockLinesBox3 = nullptr;
    LockImageView* lockUnlockImageView = nullptr;
    QCheckBox* upsampleImageCheckButton = nullptr;
    QCheckBox* sharpenImageCheckButton = nullptr;
    QCheckBox* resolutionCheckBox = nullptr;
    ResolutionComboBox* resolutionComboBoxOutlet = nullptr;
    QPushButton* savePresetButton = nullptr;

signals:
    // The resize row's save button was pressed.
    void savePresetRequested();

private:
    QWidget* buildConversionView(QWidget* store);
    QWidget* buildOptimizationView(QWidget* store);
    QWidget* buildRenameView1(QWidget* store);
    QWidget* buildRenameView2(QWidget* store);
    QWidget* buildRenameView3(QWidget* store);
    QWidget* buildResizeView1(QWidget* store);
    QWidget* buildResizeView2(QWidget* store);
    QWidget* buildResizeView3(QWidget* store);
    void addPanel(QWidget* panel);
    void alignLabelColumn();
    void connectConversion();
    void connectRename();
    void connectResize();

    std::vector<QWidget*> panels_;
    QGridLayout* resizeView3Grid_ = nullptr;
    JobOptionsModel* model_ = nullptr;
    bool savePresetAvailable_ = false;
};
