#include "AppTestSupport.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/MenuValidation.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/KSMConfigurationHeaderView.h"
#include "app/ui/KSMOutlineView.h"
#include "app/ui/KSMStepper.h"
#include "app/ui/LockImageView.h"
#include "app/ui/MainWindow.h"
#include "app/ui/NumberFields.h"
#include "app/ui/OnOffSwitchControl.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardItemModel>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class JobOptionPanelsTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        panels = delegate->window()->optionPanels();
        model = delegate->jobOptions();
        // A stored job preset is showing.
        presets()->addItem(QStringLiteral("Stored"), 0);
        presets()->setCurrentIndex(1);
    }

    QComboBox* presets() { return delegate->window()->PhotoPresetPopupButton; }

    // Types into a number field as a user would.
    static void typeInto(QLineEdit* field, const QString& text) {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }

    // Chooses a popup item as a user would.
    static void choose(QComboBox* popup, int index) {
        popup->setCurrentIndex(index);
        emit popup->activated(index);
    }

    std::unique_ptr<AppDelegate> delegate;
    JobOptionPanels* panels = nullptr;
    JobOptionsModel* model = nullptr;
};

TEST_F(JobOptionPanelsTest, EveryRowIsBuiltWithItsOutletsAndFitsItsControls) {
    const char* rows[] = {"ConversionView", "OptimizationView", "RenameView1", "RenameView2",
                          "RenameView3",    "ResizeView1",      "ResizeView2", "ResizeView3"};
    for (const char* row : rows) {
        QWidget* panel = delegate->window()->optionRowView(QLatin1String(row));
        ASSERT_TRUE(panel) << row;
        EXPECT_GE(panel->height(), panel->minimumSizeHint().height()) << row;
    }
    const char* outlets[] = {
        "destImageTypePopUpButton", "imageQualitySlider", "imageQualityEditFieldOutlet", "imageQualityStepperOutlet",
        "imageQualityBestStaticText", "OptimizationPopupOutlet", "renameOptionPopupOutlet", "fileNameTextField",
        "suffixTextField", "addNumberPopupButton", "zeroPaddingNumberField", "zeroPaddingStepper",
        "startDigitNumberField", "startDigitStepper", "exampleStringStaticText", "imageDimentionsPopupOutlet",
        "scaleProprtionallyPopupOutlet", "sizeFormatTypePopupButton", "widthTextField", "heightTextField",
        "lockLinesBox1", "lockLinesBox2", "lockLinesBox3", "lockUnlockImageView", "upsampleImageCheckButton",
        "sharpenImageCheckButton", "resolutionCheckBox", "resolutionComboBoxOutlet", "savePresetButton"};
    for (const char* outlet : outlets) {
        QWidget* control = delegate->window()->findChild<QWidget*>(QLatin1String(outlet));
        ASSERT_TRUE(control) << outlet;
        if (qobject_cast<QLabel*>(control) || qobject_cast<LockLinesBox*>(control)) continue;
        // Buttons are named by their own title.
        const auto* button = qobject_cast<QAbstractButton*>(control);
        EXPECT_FALSE(button ? button->text().isEmpty() : control->accessibleName().isEmpty()) << outlet;
    }
    // The field classes the options rely on.
    EXPECT_TRUE(qobject_cast<NumberField*>(panels->widthTextField));
    EXPECT_TRUE(qobject_cast<ZeroCountNumberField*>(panels->zeroPaddingNumberField));
    EXPECT_TRUE(qobject_cast<StartDigitNumberField*>(panels->startDigitNumberField));
    EXPECT_TRUE(qobject_cast<ShadowBlurNumberField*>(panels->imageQualityEditFieldOutlet));
}

TEST_F(JobOptionPanelsTest, DefaultsShownAndGroupSwitchesEnableTheControls) {
    EXPECT_EQ(panels->imageQualityEditFieldOutlet->text(), "80");
    EXPECT_EQ(panels->imageQualitySlider->value(), 80);
    EXPECT_EQ(panels->widthTextField->text(), "100");
    EXPECT_EQ(panels->heightTextField->placeholderText(), "Auto");
    EXPECT_TRUE(panels->destImageTypePopUpButton->isEnabled());
    EXPECT_TRUE(panels->imageQualitySlider->isEnabled());
    EXPECT_FALSE(panels->OptimizationPopupOutlet->isEnabled());
    EXPECT_FALSE(panels->fileNameTextField->isEnabled());
    EXPECT_FALSE(panels->widthTextField->isEnabled());

    delegate->SwitchOnOffHeader(kResizeGroup, true);
    EXPECT_TRUE(panels->widthTextField->isEnabled());
    EXPECT_TRUE(panels->widthLabel->isEnabled());
    EXPECT_FALSE(panels->heightTextField->isEnabled());
    EXPECT_FALSE(panels->heightLabel->isEnabled());
    EXPECT_TRUE(panels->scaleProprtionallyPopupOutlet->isEnabled());
    EXPECT_FALSE(panels->resolutionComboBoxOutlet->isEnabled());
    EXPECT_TRUE(panels->savePresetButton->isEnabled());  // the preset dialog is there
    panels->setSavePresetAvailable(true);
    EXPECT_TRUE(panels->savePresetButton->isEnabled());

    delegate->SwitchOnOffHeader(kRenameGroup, true);
    EXPECT_TRUE(panels->fileNameTextField->isEnabled());
    EXPECT_FALSE(panels->suffixTextField->isEnabled());
    EXPECT_EQ(panels->fileNameTextField->placeholderText(), "Type new filename");
    delegate->SwitchOnOffHeader(kRenameGroup, false);
    EXPECT_EQ(panels->fileNameTextField->placeholderText(), "");
    EXPECT_EQ(panels->exampleStringStaticText->text(), "-");

    delegate->SwitchOnOffHeader(kOptimizationGroup, true);
    EXPECT_TRUE(panels->OptimizationPopupOutlet->isEnabled());

    // Code changes count as no user edit: the job preset stays.
    EXPECT_EQ(presets()->currentIndex(), 1);
}

TEST_F(JobOptionPanelsTest, UserEditsReachTheModelAndResetTheJobPreset) {
    QSignalSpy changed(delegate.get(), &AppDelegate::globalPresetOptionChanged);
    typeInto(panels->imageQualityEditFieldOutlet, QStringLiteral("101"));
    // The third digit goes beyond 100: the last accepted value, 10, comes back.
    EXPECT_EQ(panels->imageQualityEditFieldOutlet->text(), "10");
    EXPECT_EQ(panels->imageQualitySlider->value(), 10);
    EXPECT_EQ(presets()->currentIndex(), 0);
    EXPECT_GE(changed.count(), 1);

    panels->imageQualityStepperOutlet->stepUp();
    EXPECT_EQ(panels->imageQualityEditFieldOutlet->text(), "11");
    panels->imageQualitySlider->setValue(55);
    EXPECT_EQ(panels->imageQualityEditFieldOutlet->text(), "55");
    EXPECT_EQ(panels->imageQualityStepperOutlet->value(), 55);

    // BMP has no quality.
    choose(panels->destImageTypePopUpButton, panels->destImageTypePopUpButton->findData(11));
    EXPECT_EQ(model->state().outputType, 11);
    EXPECT_FALSE(panels->imageQualitySlider->isEnabled());
    EXPECT_FALSE(panels->imageQualityBestStaticText->isEnabled());

    choose(panels->OptimizationPopupOutlet, panels->OptimizationPopupOutlet->findData(3));
    EXPECT_EQ(model->state().optimizationTag, 3);
}

TEST_F(JobOptionPanelsTest, RenameControls) {
    delegate->SwitchOnOffHeader(kRenameGroup, true);
    delegate->setSelectedImageProvider([] {
        SelectedImageInfo info;
        info.listCount = 3;
        info.selectedRow = 1;
        info.title = QStringLiteral("beach.jpeg");
        return info;
    });
    choose(panels->renameOptionPopupOutlet, panels->renameOptionPopupOutlet->findData(kRenamePrefixSuffix));
    EXPECT_TRUE(panels->suffixTextField->isEnabled());
    EXPECT_EQ(panels->suffixTextField->placeholderText(), "Type suffix to filename");
    QTest::keyClicks(panels->fileNameTextField, QStringLiteral("p-"));
    QTest::keyClicks(panels->suffixTextField, QStringLiteral("-s"));
    typeInto(panels->zeroPaddingNumberField, QStringLiteral("2"));
    typeInto(panels->startDigitNumberField, QStringLiteral("5"));
    EXPECT_EQ(panels->exampleStringStaticText->text(), "p-beach-s006.jpeg");
    EXPECT_EQ(panels->exampleStringStaticText->toolTip(), "p-beach-s006.jpeg");
    panels->zeroPaddingStepper->stepDown();
    EXPECT_EQ(panels->zeroPaddingNumberField->text(), "1");
    EXPECT_EQ(panels->exampleStringStaticText->text(), "p-beach-s06.jpeg");

    choose(panels->addNumberPopupButton, panels->addNumberPopupButton->findData(kNoNumber));
    EXPECT_FALSE(panels->zeroPaddingNumberField->isEnabled());
    EXPECT_FALSE(panels->startDigitStepper->isEnabled());
    EXPECT_EQ(panels->exampleStringStaticText->text(), "p-beach-s.jpeg");
}

TEST_F(JobOptionPanelsTest, ResizeControls) {
    delegate->SwitchOnOffHeader(kResizeGroup, true);
    QComboBox* scale = panels->scaleProprtionallyPopupOutlet;
    choose(scale, scale->findData(2));
    EXPECT_EQ(panels->sizeFormatTypePopupButton->currentData().toInt(), kUnitPixels);
    auto* units = qobject_cast<QStandardItemModel*>(panels->sizeFormatTypePopupButton->model());
    EXPECT_FALSE(units->item(panels->sizeFormatTypePopupButton->findData(kUnitPercent))->isEnabled());
    EXPECT_TRUE(panels->heightTextField->isEnabled());
    EXPECT_TRUE(panels->lockUnlockImageView->isLocked());

    choose(scale, scale->findData(3));
    EXPECT_FALSE(panels->lockUnlockImageView->isLocked());
    EXPECT_TRUE(panels->lockLinesBox1->isHidden());
    EXPECT_TRUE(units->item(panels->sizeFormatTypePopupButton->findData(kUnitPercent))->isEnabled());

    choose(panels->sizeFormatTypePopupButton, panels->sizeFormatTypePopupButton->findData(kUnitCentimetres));
    EXPECT_EQ(panels->widthTextField->text(), "28.22");
    EXPECT_EQ(panels->heightTextField->text(), "21.17");

    panels->resolutionCheckBox->click();
    EXPECT_TRUE(panels->resolutionComboBoxOutlet->isEnabled());
    panels->resolutionComboBoxOutlet->setFocus();
    typeInto(panels->resolutionComboBoxOutlet->lineEdit(), QStringLiteral("300"));
    EXPECT_EQ(model->state().resolutionText, "300");
    panels->upsampleImageCheckButton->click();
    panels->sharpenImageCheckButton->click();
    EXPECT_TRUE(model->state().upsample && model->state().sharpen && model->state().resolutionOn);

    // A dimension preset sets everything back.
    choose(panels->imageDimentionsPopupOutlet, 5);
    EXPECT_EQ(panels->widthTextField->text(), "1024");
    EXPECT_EQ(panels->heightTextField->text(), "768");
    EXPECT_FALSE(panels->upsampleImageCheckButton->isChecked());
    EXPECT_EQ(panels->imageDimentionsPopupOutlet->currentIndex(), 5);
    typeInto(panels->widthTextField, QStringLiteral("1000"));
    EXPECT_EQ(panels->imageDimentionsPopupOutlet->currentIndex(), 0);

    // User presets follow the built-in sizes and are applied by name.
    panels->setResizePresetNames({QStringLiteral("Web")});
    QSignalSpy chosen(model, &JobOptionsModel::resizePresetChosen);
    choose(panels->imageDimentionsPopupOutlet, JobOptionsModel::kFirstResizePresetIndex);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), "Web");
}

TEST_F(JobOptionPanelsTest, WatermarkGroupSwitchesSetTheEditorFlags) {
    auto* watermark = delegate->watermarkModel();
    delegate->SwitchOnOffHeader(kTextWatermarkGroup, true);
    EXPECT_TRUE(watermark->TextWatermarkFlag());
    delegate->SwitchOnOffHeader(kTextWatermarkGroup, false);
    EXPECT_FALSE(watermark->TextWatermarkFlag());
    delegate->SwitchOnOffHeader(kImageWatermarkGroup, false);
    EXPECT_FALSE(watermark->ImageWatermarkFlag());
}

TEST_F(JobOptionPanelsTest, FontFromTheFontDialog) {
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPointSize(48);
    delegate->changeFont(font);
    ASSERT_TRUE(delegate->watermarkModel()->textFont());
    EXPECT_EQ(delegate->watermarkModel()->textFontSize(), 48);
    EXPECT_EQ(presets()->currentIndex(), 0);
}

TEST_F(JobOptionPanelsTest, MenuItemsFollowTheToolbar) {
    ToolbarEnableTable table;
    table.setConversionEnabled(false);
    table.setEnabled(ToolbarEnableTable::AddImage, true);
    const std::pair<const char*, bool> cases[] = {
        {"addImageMenuItem", true},  {"convertMenuItem", false},    {"flipVerticalMenuItem", false},
        {"removeMenuItem", false},   {"contextShowInFileManagerMenuItem", false}, {"aboutMenuItem", true}};
    for (const auto& [name, enabled] : cases) EXPECT_EQ(ValidateMenuItem(QLatin1String(name), table), enabled) << name;
    table.setConversionEnabled(true);
    EXPECT_TRUE(ValidateMenuItem(QStringLiteral("contextConvertMenuItem"), table));

    QAction action;
    action.setObjectName(QStringLiteral("convertAllMenuItem"));
    EXPECT_FALSE(delegate->validateMenuItem(&action));  // nothing to convert yet
    delegate->SetConversionButtonEnable(true);
    EXPECT_TRUE(delegate->validateMenuItem(&action));
}

}  // namespace
