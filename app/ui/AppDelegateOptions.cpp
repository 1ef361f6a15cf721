// The job's options: the option-group models, the record a job is built
// from, and the naming of its outputs.
#include "app/model/ConversionRecord.h"
#include "app/model/MenuValidation.h"
#include "app/model/StringTable.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WatermarkControls.h"
#include "engine/ImageConversion.h"
#include "platform/Font.h"

#include <QAction>
#include <QFont>

#include <QCheckBox>
#include <QWidget>

namespace {

constexpr const char* kPNGAlertCheckBoxName = "doNotShowPNGOptimizationAlertCheckBox";

// The control a user is sent back to, when the window has it.
QWidget* OptionControl(MainWindow* window, const char* name) {
    return window ? window->findChild<QWidget*>(QLatin1String(name)) : nullptr;
}

}  // namespace

void AppDelegate::setUpJobOptions() {
    watermarkModel_ = new WatermarkEditorModel(this);
    jobOptions_ = new JobOptionsModel(watermarkModel_, this);
    // The start-up values, set before anything listens: no user edit.
    jobOptions_->DefaultImageConversionOption();
    jobOptions_->DefaultOptimizationOption();
    jobOptions_->DefaultResizeOption();

    window_->optionPanels()->bind(jobOptions_);
    connect(this, &AppDelegate::groupOnOffAction, jobOptions_, &JobOptionsModel::SwitchGroup);
    connect(jobOptions_, &JobOptionsModel::userChangedOption, this, [this] { changeGlobalPresetOption(jobOptions_); });
    setUpWatermarkEditor();
}

void AppDelegate::setSelectedImageProvider(SelectedImageProvider provider) {
    jobOptions_->setSelectedImageProvider(std::move(provider));
    updateRenameExampleString();
}

bool AppDelegate::IsConversionOptionsValid(ImageConversion* record, bool previewRun) {
    if (!record) return false;
    const JobOptionState& state = jobOptions_->state();

    if (NeedsPNGOptimizationQuestion(state, previewRun)) {
        auto* box = window_->findChild<QCheckBox*>(QLatin1String(kPNGAlertCheckBoxName));
        if (!box) {
            box = new QCheckBox(window_.get());
            box->setObjectName(QLatin1String(kPNGAlertCheckBoxName));
            box->hide();
        }
        {
            const QSignalBlocker blocker(box);
            box->setChecked(state.doNotShowPNGOptimizationAlert);
        }
        box->setText(LocalizedString("DoNotShowAlertCheckBoxTitle"));
        const int code = RunCustomAlertSheetWithView(
            LocalizedString("PNGOptimizationAlertTitle"), LocalizedString("PNGOptimizationAlertMessage"),
            LocalizedString("OkButtonString"), LocalizedString("CancelTitle"), QString(), window_.get(), box);
        // The box keeps what the user left in it, whatever the answer.
        jobOptions_->setDoNotShowPNGOptimizationAlert(box->isChecked());
        if (code == kAlertAlternateReturn) return false;
    }

    const InvalidConversionOption invalid = FillConversionRecord(jobOptions_->state(), *watermarkModel_, record);
    if (invalid == InvalidConversionOption::None) return true;

    const JobOptionState& current = jobOptions_->state();
    QString title;
    QString message;
    const char* fieldName = nullptr;
    switch (invalid) {
    case InvalidConversionOption::Width:
        title = LocalizedFormat("InvalidValueTitle", {current.widthText});
        message = LocalizedString("InvalidValueMsg");
        fieldName = "widthTextField";
        break;
    case InvalidConversionOption::Height:
        title = LocalizedFormat("InvalidValueTitle", {current.heightText});
        message = LocalizedString("InvalidValueMsg");
        fieldName = "heightTextField";
        break;
    default:
        title = LocalizedFormat("InvalidResolutionValueTitle", {static_cast<long long>(current.resolutionValue())});
        message = LocalizedString("InvalidResolutionValueMsg");
        fieldName = "resolutionComboBoxOutlet";
        break;
    }
    const int code = RunCustomAlertSheet(title, message, LocalizedString("OkButtonString"),
                                         LocalizedString("DiscardButtonTitle"), QString(), window_.get());
    if (code == kAlertAlternateReturn) {
        switch (invalid) {
        case InvalidConversionOption::Width: jobOptions_->widthTextDidChange(QString()); break;
        case InvalidConversionOption::Height: jobOptions_->heightTextDidChange(QString()); break;
        default: jobOptions_->resolutionTextDidChange(QString()); break;
        }
    }
    window_->raise();
    window_->activateWindow();
    if (QWidget* field = OptionControl(window_.get(), fieldName)) field->setFocus(Qt::OtherFocusReason);
    return false;
}

std::optional<RenamePattern> AppDelegate::CheckAndGetNewFileName(bool* sourceNameFlag, int* numberPosition) const {
    return ::CheckAndGetNewFileName(jobOptions_->state(), sourceNameFlag, numberPosition);
}

std::filesystem::path AppDelegate::GetDestinationFolderURL(const std::filesystem::path& source,
                                                           const std::filesystem::path& destination,
                                                           const std::filesystem::path& parent) const {
    return ::GetDestinationFolderURL(source, destination, parent, jobOptions_->state().general.maintainDirectory);
}

std::filesystem::path AppDelegate::GetDestinationFileURL(const std::filesystem::path& source,
                                                         const std::filesystem::path& folder,
                                                         const RenamePattern* pattern, bool sourceNameFlag,
                                                         std::int64_t number, std::int32_t numberPosition,
                                                         std::int32_t outputType, bool previewRun) const {
    const bool exactName = previewRun || jobOptions_->state().general.overwriteExisting;
    return ::GetDestinationFileURL(source, folder, pattern, sourceNameFlag, number, numberPosition, outputType,
                                   exactName);
}

void AppDelegate::updateRenameExampleString() {
    jobOptions_->updateRenameExampleString();
}

void AppDelegate::changeFont(const QFont& chosen) {
    const plat::FontRef font =
        plat::Font::fontWithFamily(chosen.family().toStdString(), chosen.styleName().toStdString());
    if (!font) return;
    // The controls follow the model; the text tail puts the watermark preset
    // menu back to its first item.
    watermarkModel_->setTextFont(font);
    if (chosen.pointSize() > 0) watermarkModel_->setTextFontSize(chosen.pointSize());
    window_->watermarkControls()->changeTextWatermarkOption(this);
}

bool AppDelegate::validateMenuItem(const QAction* item) const {
    return item && ValidateMenuItem(item->objectName(), toolbarEnableTable_);
}
