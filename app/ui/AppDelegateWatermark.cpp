// The watermark editor: its canvas over the current image, its controls in
// the text and image watermark rows, and their ties to the option groups,
// the preview and the font chooser.
#include "platform/Font.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/DropTargets.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WatermarkControls.h"
#include "app/ui/WatermarkView.h"

#include <QComboBox>
#include <QFontDialog>

void AppDelegate::setUpWatermarkEditor() {
    WatermarkControls* controls = window_->watermarkControls();
    controls->bind(watermarkModel_);
    auto* canvas = new WatermarkView(watermarkModel_, window_->mainImagePreview);
    window_->watermarkContextView = canvas;
    // Shown once the list has images and a watermark group is on.
    canvas->hide();

    connect(controls, &WatermarkControls::optionChanged, this, &AppDelegate::changeGlobalPresetOption);
    connect(canvas, &WatermarkView::dragFinished, this, [this] { PreviewAction(nullptr); });
    connect(controls, &WatermarkControls::fontPanelRequested, this, &AppDelegate::ShowFontPanel);
    connect(controls, &WatermarkControls::watermarkPresetChosen, this, [this, controls](int index) {
        // The first item restores the editor's own defaults; the named
        // presets after it are applied by the preset code.
        if (index != 0) return;
        watermarkModel_->InitializeWatermarkOptions();
        changeGlobalPresetOption(controls->waterMarkPresetPopupOutlet);
    });
    connect(jobOptions_, &JobOptionsModel::watermarkPresetReapplyRequested, this, [this, controls] {
        controls->changeTextWatermarkOption(nullptr);
        if (controls->waterMarkPresetPopupOutlet->currentIndex() == 0) watermarkModel_->InitializeWatermarkOptions();
    });
    connect(jobOptions_, &JobOptionsModel::watermarkEditorVisibilityChanged, canvas, [canvas](bool visible) {
        canvas->setVisible(visible);
        canvas->update();
    });
    connect(this, &AppDelegate::groupOnOffAction, controls, [controls](int group, bool on) {
        if (group == kTextWatermarkGroup) controls->EnableDisableWatermarkControls(on);
        else if (group == kImageWatermarkGroup) controls->ImageWatermarkOnOffAction(on);
    });
    // The canvas follows the current image of the list.
    connect(this, &AppDelegate::currentImageChanged, this, [this](double ratio, double width, double height) {
        showImageInWatermarkEditor(ratio > 0.0 ? QSizeF(width, height) : QSizeF());
    });
    connect(this, &AppDelegate::imageListBecameEmpty, canvas, &QWidget::hide);
    const JobOptionState& state = jobOptions_->state();
    controls->EnableDisableWatermarkControls(state.groupOn[kTextWatermarkGroup]);
    controls->EnableDisableWatermarkImageControls(state.groupOn[kImageWatermarkGroup]);
}

void AppDelegate::showImageInWatermarkEditor(QSizeF shownSize) {
    WatermarkView* canvas = window_->watermarkContextView;
    if (!canvas) return;
    // No current image: nothing to place watermarks on.
    if (shownSize.isEmpty()) {
        canvas->hide();
        return;
    }
    canvas->initImageView(shownSize);
    const JobOptionState& state = jobOptions_->state();
    canvas->setVisible(state.groupOn[kTextWatermarkGroup] || state.groupOn[kImageWatermarkGroup]);
}

void AppDelegate::ShowFontPanel() {
    auto* dialog = new QFontDialog(window_.get());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    if (const plat::FontRef font = watermarkModel_->textFont()) {
        QFont current(QString::fromStdString(font->familyName()));
        current.setStyleName(QString::fromStdString(font->styleName()));
        current.setPointSize(static_cast<int>(watermarkModel_->textFontSize()));
        dialog->setCurrentFont(current);
    }
    connect(dialog, &QFontDialog::fontSelected, this, &AppDelegate::changeFont);
    dialog->open();
}
