// The platform headers reach GLib, which must come before Qt's keyword macros.
#include "platform/Font.h"
#include "platform/Image.h"

#include "AppTestSupport.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/Presets.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WatermarkView.h"
#include "app/ui/ColorWell.h"
#include "app/ui/KSMStepper.h"
#include "app/ui/NumberFields.h"
#include "app/ui/WatermarkControls.h"

#include <QCheckBox>
#include <QFile>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class WatermarkControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        store = std::make_unique<QWidget>();
        controls = new WatermarkControls(store.get());
        controls->bind(&editor);
        controls->EnableDisableWatermarkControls(true);
        controls->EnableDisableWatermarkImageControls(true);
    }

    // Types `text` into a number field as a user would.
    static void type(KSMNumberTextField* field, const QString& text) {
        field->setText(text);
        field->textDidChange();
    }

    WatermarkEditorModel editor;
    std::unique_ptr<QWidget> store;
    WatermarkControls* controls = nullptr;
};

TEST_F(WatermarkControlsTest, RowsAreNamedForTheOutline) {
    QStringList names;
    for (QWidget* panel : controls->panels()) names << panel->objectName();
    EXPECT_EQ(names, QStringList({"TextWatermarkView1", "TextWatermarkView2", "TextWatermarkView3",
                                  "TextWatermarkView4", "TextWatermarkView5", "ImageWatermarkView"}));
    EXPECT_EQ(controls->fontSizeTextFieldOutlet->text(), "30");
    EXPECT_EQ(controls->opacityTextFieldOutlet->text(), "90");
    EXPECT_EQ(controls->WatermarkImageSizeTextFieldOutlet->text(), "50");
    EXPECT_TRUE(controls->charSpaceTextFieldOutlet->text().isEmpty());
}

TEST_F(WatermarkControlsTest, FieldsBeyondTheirLimitsShowTheStepperAgain) {
    struct Case {
        const char* name;
        KSMNumberTextField* field;
        QString typed;
        QString shown;
        std::function<double()> value;
        double expected;
    };
    const Case cases[] = {
        {"font size", controls->fontSizeTextFieldOutlet, "1200", "30", [&] { return double(editor.textFontSize()); }, 30},
        {"font size ok", controls->fontSizeTextFieldOutlet, "48", "48", [&] { return double(editor.textFontSize()); }, 48},
        {"stroke", controls->strokeWidthTextFieldOutlet, "400", "1", [&] { return double(editor.strokeWidth()); }, 1},
        {"stroke ok", controls->strokeWidthTextFieldOutlet, "4", "4", [&] { return double(editor.strokeWidth()); }, 4},
        {"opacity", controls->opacityTextFieldOutlet, "150", "90", [&] { return editor.textOpacity(); }, 0.9},
        {"opacity ok", controls->opacityTextFieldOutlet, "40", "40", [&] { return editor.textOpacity(); }, 0.4},
        {"angle", controls->angleTextFieldOutlet, "360", "0", [&] { return double(editor.textRotationAngle()); }, 0},
        {"angle ok", controls->angleTextFieldOutlet, "45", "45", [&] { return double(editor.textRotationAngle()); }, 45},
        {"blur", controls->blurTextFieldOutlet, "101", "3", [&] { return double(editor.shadowBlur()); }, 3},
        {"x offset", controls->xOffsetTextFieldOutlet, "7000", "3", [&] { return double(editor.xOffset()); }, 3},
        {"y offset", controls->yOffsetTextFieldOutlet, "6000", "-3", [&] { return double(editor.yOffset()); }, -3},
        {"image opacity", controls->WatermarkImageOpacityTextFieldOutlet, "101", "50",
         [&] { return editor.WatermarkImageOpacity(); }, 0.5},
        {"spacing", controls->charSpaceTextFieldOutlet, "600", "0.0", [&] { return editor.textCharSpace(); }, 0},
    };
    for (const Case& c : cases) {
        type(c.field, c.typed);
        EXPECT_EQ(c.field->text(), c.shown) << c.name;
        EXPECT_NEAR(c.value(), c.expected, 1e-3) << c.name;
    }
    // Stroke limit follows the font size: 40 is too wide for 30 points.
    type(controls->fontSizeTextFieldOutlet, "30");
    type(controls->strokeWidthTextFieldOutlet, "40");
    EXPECT_EQ(controls->strokeWidthTextFieldOutlet->text(), "4");
}

// Percents typed by the user come back as typed when a preset holding them
// is applied: the stored single-precision fraction (0.7 as 0.69999999) is
// shown at its nearest percent.
TEST_F(WatermarkControlsTest, PercentsRoundTripThroughPresets) {
    for (int percent : {1, 7, 14, 29, 57, 58, 69, 70, 85, 99, 100}) {
        SCOPED_TRACE(percent);
        type(controls->opacityTextFieldOutlet, QString::number(percent));
        const PrefDictionary preset = GetWaterMarkPreferenceValue(editor);
        WatermarkEditorModel applied;
        ChangeAndSetWaterMarkPrefOptionsFromDict(applied, &preset);
        // Image fractions as single precision, as job presets hold them.
        const double fraction = static_cast<float>(percent / 100.0);
        applied.setWatermarkImageOpacity(fraction);
        applied.setWatermarkImageSize(std::max(fraction, 0.05));
        QWidget shown;
        auto* appliedControls = new WatermarkControls(&shown);
        appliedControls->bind(&applied);
        EXPECT_EQ(appliedControls->opacityTextFieldOutlet->text(), QString::number(percent));
        EXPECT_EQ(appliedControls->opacityStepperOutlet->value(), percent);
        EXPECT_EQ(appliedControls->WatermarkImageOpacityTextFieldOutlet->text(), QString::number(percent));
        EXPECT_EQ(appliedControls->WatermarkImageSizeStepperOutlet->value(), std::max(percent, 5));
    }
}

TEST_F(WatermarkControlsTest, ImageSizeFieldClampsAtOnceAndRewritesAtTheEnd) {
    type(controls->WatermarkImageSizeTextFieldOutlet, "3");
    EXPECT_DOUBLE_EQ(editor.WatermarkImageSize(), 0.05);
    EXPECT_EQ(controls->WatermarkImageSizeStepperOutlet->value(), 5);
    controls->WatermarkImageSizeTextFieldOutlet->textDidEndEditing();
    EXPECT_EQ(controls->WatermarkImageSizeTextFieldOutlet->text(), "5");
    // Typing 25 passes through 2 without turning it into 5.
    type(controls->WatermarkImageSizeTextFieldOutlet, "2");
    type(controls->WatermarkImageSizeTextFieldOutlet, "25");
    EXPECT_EQ(controls->WatermarkImageSizeTextFieldOutlet->text(), "25");
    EXPECT_DOUBLE_EQ(editor.WatermarkImageSize(), 0.25);
    EXPECT_EQ(controls->WatermarkImageSizeSliderOutlet->value(), 250);
}

TEST_F(WatermarkControlsTest, SpacingStepper) {
    CharSpaceStepper* stepper = controls->charSpaceStepperOutlet;
    QComboBox* popup = controls->charSpacePopupButtonOutlet;
    stepper->stepBy(1);  // up from none: expanded 0.1
    EXPECT_EQ(popup->currentData().toInt(), 1);
    EXPECT_NEAR(editor.textCharSpace(), 0.1, 1e-9);
    EXPECT_EQ(controls->charSpaceTextFieldOutlet->text(), "0.1");
    stepper->stepBy(-1);  // down from 0.1 expanded: none
    EXPECT_EQ(popup->currentData().toInt(), 0);
    EXPECT_EQ(editor.textCharSpace(), 0.0);
    EXPECT_TRUE(controls->charSpaceTextFieldOutlet->text().isEmpty());
    stepper->stepBy(-1);  // down from none: condensed, magnitude 0.1
    EXPECT_EQ(popup->currentData().toInt(), 2);
    EXPECT_NEAR(editor.textCharSpace(), -0.1, 1e-9);
    EXPECT_NEAR(stepper->value(), 0.1, 1e-9);
    stepper->stepBy(-1);  // further condensed
    EXPECT_NEAR(editor.textCharSpace(), -0.2, 1e-9);

    // From a magnitude of 100 on, whole points.
    popup->setCurrentIndex(1);
    controls->charSpacePopupButtonAction(popup);
    type(controls->charSpaceTextFieldOutlet, "100");
    stepper->stepBy(1);
    EXPECT_NEAR(stepper->increment(), 1.0, 1e-9);
    stepper->stepBy(1);
    EXPECT_NEAR(editor.textCharSpace(), 101.1, 1e-9);

    // Emptying the field selects none; typing into none selects expanded.
    type(controls->charSpaceTextFieldOutlet, "");
    EXPECT_EQ(popup->currentData().toInt(), 0);
    EXPECT_EQ(editor.textCharSpace(), 0.0);
    type(controls->charSpaceTextFieldOutlet, "2.5");
    EXPECT_EQ(popup->currentData().toInt(), 1);
    EXPECT_NEAR(editor.textCharSpace(), 2.5, 1e-9);
}

TEST_F(WatermarkControlsTest, SlidersSteppersAndFieldsStayInStep) {
    controls->opacitySliderOutlet->setValue(900);
    controls->takeTextOpacityFrom(controls->opacitySliderOutlet);
    EXPECT_EQ(controls->opacityTextFieldOutlet->text(), "89");
    EXPECT_EQ(controls->opacityStepperOutlet->value(), 89);

    controls->angleStepperOutlet->setValue(90);
    EXPECT_EQ(editor.textRotationAngle(), 90);
    EXPECT_EQ(controls->angleSliderOutlet->value(), 90);
    EXPECT_EQ(controls->angleTextFieldOutlet->text(), "90");

    controls->WatermarkImageOpacityStepperOutlet->setValue(70);
    EXPECT_NEAR(editor.WatermarkImageOpacity(), 0.7, 1e-6);
    EXPECT_EQ(controls->WatermarkImageOpacitySliderOutlet->value(), 700);
    controls->WatermarkImageSizeSliderOutlet->setValue(333);
    controls->takeWatermarkImageSizeFrom(nullptr);
    EXPECT_EQ(controls->WatermarkImageSizeTextFieldOutlet->text(), "33");

    controls->fontSizeStepperOutlet->setValue(72);
    EXPECT_EQ(editor.textFontSize(), 72);
    EXPECT_EQ(controls->fontSizeTextFieldOutlet->text(), "72");
}

TEST_F(WatermarkControlsTest, TextChangesResetTheWatermarkPresetImageChangesKeepIt) {
    controls->waterMarkPresetPopupOutlet->addItem("Signature");
    controls->waterMarkPresetPopupOutlet->setCurrentIndex(1);
    QSignalSpy changed(controls, &WatermarkControls::optionChanged);
    controls->WatermarkImageOpacityStepperOutlet->setValue(20);
    type(controls->WatermarkImageSizeTextFieldOutlet, "40");
    EXPECT_EQ(controls->waterMarkPresetPopupOutlet->currentIndex(), 1);
    controls->textTextFieldOutlet->setText("©");
    controls->controlTextDidChange(controls->textTextFieldOutlet);
    EXPECT_EQ(editor.textString(), "©");
    EXPECT_EQ(controls->waterMarkPresetPopupOutlet->currentIndex(), 0);
    EXPECT_EQ(changed.count(), 3);
    // A change made by code (no sender) leaves the menu alone.
    controls->waterMarkPresetPopupOutlet->setCurrentIndex(1);
    controls->changeTextWatermarkOption(nullptr);
    EXPECT_EQ(controls->waterMarkPresetPopupOutlet->currentIndex(), 1);
}

TEST_F(WatermarkControlsTest, DrawingModeAndGroupEnabling) {
    QComboBox* mode = controls->fillTypePopupOutlet;
    const std::pair<int, bool> cases[] = {{1, true}, {0, false}, {2, true}};
    for (const auto& [tag, strokeEnabled] : cases) {
        mode->setCurrentIndex(mode->findData(tag));
        controls->ChangeCGDrawingMode(mode);
        EXPECT_EQ(editor.drawingMode(), tag);
        EXPECT_EQ(controls->strokeWidthTextFieldOutlet->isEnabled(), strokeEnabled) << tag;
        EXPECT_EQ(controls->strokeWidthLabel->isEnabled(), strokeEnabled) << tag;
    }
    controls->dropShadowCheckBoxOutlet->setChecked(false);
    controls->DropShadowApplied(controls->dropShadowCheckBoxOutlet);
    EXPECT_FALSE(editor.isDropShadowApplied());
    EXPECT_FALSE(controls->blurStepperOutlet->isEnabled());

    controls->EnableDisableWatermarkControls(false);
    for (QWidget* w : std::initializer_list<QWidget*>{controls->textTextFieldOutlet, controls->fontComboBoxOutlet,
                                                      controls->strokeWidthStepperOutlet, controls->xOffsetLabel,
                                                      controls->waterMarkSavePresetButtonOutlet}) {
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    }
    controls->EnableDisableWatermarkControls(true);
    EXPECT_TRUE(controls->strokeWidthStepperOutlet->isEnabled());  // mode 2
    EXPECT_FALSE(controls->xOffsetTextFieldOutlet->isEnabled());   // no shadow

    controls->ImageWatermarkOnOffAction(false);
    EXPECT_FALSE(editor.ImageWatermarkFlag());
    EXPECT_FALSE(controls->AddButtonOutlet->isEnabled());
    EXPECT_FALSE(controls->WatermarkImageSizePercentTextLabel->isEnabled());
}

TEST_F(WatermarkControlsTest, FontsByFamilyAndMember) {
    EXPECT_EQ(controls->firstFontMatchingPrefix("dE"), editor.fontFamilyArray().filter("DejaVu").first());
    EXPECT_EQ(controls->firstFontMatchingPrefix("zzq"), "zzq");

    controls->fontComboBoxOutlet->setEditText("DejaVu Serif");
    controls->ChangeSelectedFont(controls->fontComboBoxOutlet);
    ASSERT_GT(controls->fontStylePopupButtonOutlet->count(), 1);
    EXPECT_EQ(editor.textFont()->postScriptName(), "DejaVuSerif");
    const int bold = controls->fontStylePopupButtonOutlet->findText("Bold");
    ASSERT_GE(bold, 0);
    controls->fontStylePopupButtonOutlet->setCurrentIndex(bold);
    controls->ChangeSelectedFontStyle(controls->fontStylePopupButtonOutlet);
    EXPECT_EQ(editor.textFont()->postScriptName(), "DejaVuSerif-Bold");

    // A family without members changes nothing but empties the styles.
    controls->fontComboBoxOutlet->setEditText("No Such Family");
    controls->ChangeSelectedFont(controls->fontComboBoxOutlet);
    EXPECT_EQ(controls->fontStylePopupButtonOutlet->count(), 0);
    EXPECT_EQ(editor.textFont()->postScriptName(), "DejaVuSerif-Bold");

    // A font chosen elsewhere shows in the controls.
    editor.setTextFont(plat::Font::fontWithExactName("DejaVuSansMono-Oblique"));
    EXPECT_EQ(controls->fontComboBoxOutlet->currentText(), "DejaVu Sans Mono");
    EXPECT_EQ(controls->fontStylePopupButtonOutlet->currentData().toString(), "DejaVuSansMono-Oblique");
    controls->setFontSizeToControl(64);
    EXPECT_EQ(editor.textFontSize(), 64);
    EXPECT_EQ(controls->fontSizeTextFieldOutlet->text(), "64");
}

TEST_F(WatermarkControlsTest, ColourWellsAndTheImageDialog) {
    const ColorWell::Chooser colorChooser = ColorWell::chooser();
    const WatermarkControls::ImageFileChooser fileChooser = WatermarkControls::imageFileChooser();
    ColorWell::chooser() = [](QWidget*, plat::Color) { return plat::Color{0, 0.5, 1, 1}; };
    controls->fillColorWellOutlet->click();
    EXPECT_EQ(editor.textFontColor(), (plat::Color{0, 0.5, 1, 1}));
    controls->shadowColorWellOutlet->click();
    EXPECT_EQ(editor.textShadowColor(), (plat::Color{0, 0.5, 1, 1}));
    ColorWell::chooser() = [](QWidget*, plat::Color) { return std::nullopt; };
    controls->fillColorWellOutlet->click();
    EXPECT_EQ(editor.textFontColor(), (plat::Color{0, 0.5, 1, 1}));

    QTemporaryDir folder;
    const QString image = folder.filePath("logo.png");
    QImage logo(40, 20, QImage::Format_ARGB32);
    logo.fill(QColor(10, 200, 30, 128));
    ASSERT_TRUE(logo.save(image));
    const QString notImage = folder.filePath("notes.png");
    QFile file(notImage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not an image at all");
    file.close();

    QString chosen = notImage;
    WatermarkControls::imageFileChooser() = [&](QWidget*, std::function<void(std::filesystem::path)> done) {
        done(chosen.toStdString());
    };
    QSignalSpy changed(controls, &WatermarkControls::optionChanged);
    controls->AddButtonOutlet->click();
    EXPECT_FALSE(editor.watermarkImage());
    EXPECT_EQ(changed.count(), 0);
    chosen = image;
    controls->AddButtonOutlet->click();
    ASSERT_TRUE(editor.watermarkImage());
    EXPECT_EQ(editor.watermarkImage()->width(), 40);
    EXPECT_FALSE(controls->WaterMarkImageView->pixmap().isNull());
    EXPECT_EQ(changed.count(), 1);
    WatermarkControls::imageFileChooser() = fileChooser;
    ColorWell::chooser() = colorChooser;
}

// The controller ties the rows and the canvas to the option groups.
TEST(WatermarkEditorWiringTest, GroupsEnableTheRowsAndTheCurrentImageShapesTheCanvas) {
    TestApplication();
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    WatermarkControls* controls = delegate.window()->watermarkControls();
    WatermarkEditorModel* editor = delegate.watermarkModel();
    WatermarkView* canvas = delegate.window()->watermarkContextView;
    ASSERT_TRUE(controls && canvas);
    EXPECT_FALSE(controls->textTextFieldOutlet->isEnabled());
    EXPECT_FALSE(controls->AddButtonOutlet->isEnabled());

    delegate.SwitchOnOffHeader(kTextWatermarkGroup, true);
    EXPECT_TRUE(controls->textTextFieldOutlet->isEnabled());
    EXPECT_FALSE(controls->strokeWidthTextFieldOutlet->isEnabled());  // fill mode
    EXPECT_TRUE(controls->blurTextFieldOutlet->isEnabled());          // shadow on
    delegate.SwitchOnOffHeader(kImageWatermarkGroup, true);
    EXPECT_TRUE(controls->AddButtonOutlet->isEnabled());

    delegate.showImageInWatermarkEditor({3000, 4000});
    EXPECT_FALSE(canvas->isHidden());
    EXPECT_EQ(editor->oldMainImageViewSize(), QSizeF(412.5, 550));
    delegate.showImageInWatermarkEditor({});
    EXPECT_TRUE(canvas->isHidden());

    // Defaults of the text group: the editor's own, shown in the controls.
    editor->setTextFontSize(80);
    EXPECT_EQ(controls->fontSizeTextFieldOutlet->text(), "80");
    delegate.jobOptions()->DefaultWatermarkTextOption();
    EXPECT_EQ(editor->textFontSize(), 30);
    EXPECT_EQ(controls->fontSizeTextFieldOutlet->text(), "30");
}

}  // namespace
