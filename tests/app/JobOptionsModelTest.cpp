#include "AppTestSupport.h"
#include "platform/ScratchFolder.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/WatermarkEditorModel.h"

#include <QImage>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

class JobOptionsModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        model.DefaultImageConversionOption();
        model.DefaultOptimizationOption();
        model.DefaultResizeOption();
        model.setSelectedImageProvider([this] { return selected; });
    }

    // An image of 3000 × 2000 pixels at 300 dpi, the first of two rows.
    void selectImage(double width = 3000, double height = 2000, double dpi = 300) {
        selected = {2, 0, {}, QStringLiteral("photo.png"), width, height, dpi};
    }

    void chooseUnit(int unit) {
        model.changeImageResizeTypePopupAction(unit, true);
    }

    WatermarkEditorModel watermark;
    JobOptionsModel model{&watermark};
    SelectedImageInfo selected;
};

TEST_F(JobOptionsModelTest, DefaultsMatchTheControls) {
    const JobOptionState& s = model.state();
    EXPECT_EQ(s.outputType, 0);
    EXPECT_DOUBLE_EQ(s.qualitySlider, 0.800000011920929);
    EXPECT_EQ(s.qualityText, "80");
    EXPECT_EQ(s.qualityStepper, 80);
    EXPECT_EQ(s.optimizationTag, kOptimizeJPEG);
    EXPECT_EQ(s.scaleOption, 0);
    EXPECT_EQ(s.unit, kUnitPercent);
    EXPECT_EQ(s.widthText, "100");
    EXPECT_EQ(s.heightText, "");
    EXPECT_EQ(s.heightPlaceholder, "Auto");
    EXPECT_EQ(s.resolutionText, "72");
    EXPECT_EQ(s.currentSizeFormatType, kUnitPercent);
    EXPECT_EQ(s.currentScaleOption, 0);
    EXPECT_FALSE(s.upsample || s.sharpen || s.resolutionOn);
}

TEST_F(JobOptionsModelTest, UnitTextsWithoutAnImage) {
    struct Case {
        int unit;
        const char* width;
        const char* height;
    };
    const Case cases[] = {{kUnitCentimetres, "28.22", "21.17"}, {kUnitMillimetres, "282.22", "211.67"},
                          {kUnitInches, "11.11", "8.33"},       {kUnitPixels, "800", "600"},
                          {kUnitPoints, "800", "600"},          {kUnitPercent, "100", "100"}};
    model.changeInScaleProportionalityAction(3, true);  // both fields shown
    for (const Case& c : cases) {
        chooseUnit(c.unit);
        EXPECT_EQ(model.state().widthText, c.width) << c.unit;
        EXPECT_EQ(model.state().heightText, c.height) << c.unit;
        EXPECT_EQ(model.state().currentSizeFormatType, c.unit);
    }
    // An unknown unit changes nothing.
    chooseUnit(9);
    EXPECT_EQ(model.state().currentSizeFormatType, kUnitPercent);
    EXPECT_EQ(model.state().widthText, "100");
}

TEST_F(JobOptionsModelTest, UnitTextsThroughTheSelectedImage) {
    selectImage();
    struct Case {
        int unit;
        const char* width;
        const char* height;
    };
    const Case cases[] = {{kUnitCentimetres, "25.40", "16.93"}, {kUnitPixels, "3000", "2000"},
                          {kUnitInches, "10.00", "6.67"},       {kUnitMillimetres, "254.00", "169.33"},
                          {kUnitPoints, "720.00", "480.00"}};
    for (const Case& c : cases) {
        // 100 percent both ways, then the unit.
        model.DefaultResizeOption();
        model.changeInScaleProportionalityAction(3, true);
        EXPECT_EQ(model.state().heightText, "100");
        chooseUnit(c.unit);
        EXPECT_EQ(model.state().widthText, c.width) << c.unit;
        EXPECT_EQ(model.state().heightText, c.height) << c.unit;
    }
    // Back from centimetres to percent.
    chooseUnit(kUnitCentimetres);
    chooseUnit(kUnitPercent);
    EXPECT_EQ(model.state().widthText, "100.00");
    // Width only: the height field stays empty.
    model.DefaultResizeOption();
    chooseUnit(kUnitPixels);
    EXPECT_EQ(model.state().widthText, "3000");
    EXPECT_EQ(model.state().heightText, "");
}

TEST_F(JobOptionsModelTest, UnknownSizesAreReadFromTheFileOrFallBackToNoImageTexts) {
    ScratchFolder folder;
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    image.setDotsPerMeterX(3937);  // 100 dpi
    image.setDotsPerMeterY(3937);
    const auto path = folder / "wide.png";
    ASSERT_TRUE(image.save(QString::fromStdString(path.string())));

    selected = {1, 0, path, QStringLiteral("wide.png"), 0.0, 0.0, 0.0};
    const auto metrics = model.selectedImageMetrics();
    ASSERT_TRUE(metrics);
    EXPECT_DOUBLE_EQ(metrics->width, 40);
    EXPECT_DOUBLE_EQ(metrics->height, 20);
    EXPECT_NEAR(metrics->dpi, 100, 0.1);
    chooseUnit(kUnitPixels);
    EXPECT_EQ(model.state().widthText, "40");

    // A damaged file: nothing is known, the no-image texts stand in.
    std::filesystem::resize_file(path, 30);
    model.DefaultResizeOption();
    EXPECT_FALSE(model.selectedImageMetrics());
    chooseUnit(kUnitCentimetres);
    EXPECT_EQ(model.state().widthText, "28.22");
}

TEST_F(JobOptionsModelTest, ScaleOptionTransitions) {
    model.SwitchGroup(kResizeGroup, true);
    // From width only to both with no image: the width is copied.
    model.widthTextDidChange(QStringLiteral("55"));
    model.changeInScaleProportionalityAction(3, true);
    EXPECT_EQ(model.state().heightText, "55");
    EXPECT_TRUE(model.state().heightEnabled());
    EXPECT_FALSE(model.state().lockLinesShown);
    EXPECT_FALSE(model.state().locked);
    EXPECT_TRUE(model.state().percentUnitEnabled);

    // Height only: the width is emptied and waits with "Auto".
    model.changeInScaleProportionalityAction(1, true);
    EXPECT_EQ(model.state().widthText, "");
    EXPECT_EQ(model.state().widthPlaceholder, "Auto");
    EXPECT_EQ(model.state().heightPlaceholder, "");
    EXPECT_EQ(model.state().heightText, "55");
    EXPECT_TRUE(model.state().lockLinesShown);
    EXPECT_FALSE(model.state().widthEnabled());

    // Options 2, 5 and 6 fit into a box: percent becomes pixels and is
    // disabled; 0, 1, 3 and 4 allow it again.
    for (int option : {2, 5, 6}) {
        model.DefaultResizeOption();
        model.changeInScaleProportionalityAction(option, true);
        EXPECT_EQ(model.state().unit, kUnitPixels) << option;
        EXPECT_EQ(model.state().currentSizeFormatType, kUnitPixels) << option;
        EXPECT_EQ(model.state().widthText, "800") << option;
        EXPECT_EQ(model.state().heightText, "600") << option;
        EXPECT_FALSE(model.state().percentUnitEnabled) << option;
        EXPECT_TRUE(model.state().locked) << option;
    }
    for (int option : {0, 3, 1, 4}) {
        model.changeInScaleProportionalityAction(option, true);
        EXPECT_TRUE(model.state().percentUnitEnabled) << option;
    }
    // The same option again, or one outside the menu, changes nothing.
    QSignalSpy spy(&model, &JobOptionsModel::userChangedOption);
    model.changeInScaleProportionalityAction(4, true);
    model.changeInScaleProportionalityAction(7, true);
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(JobOptionsModelTest, ScaleOptionKeepsProportionWithAnImageInALengthUnit) {
    selectImage();
    model.changeImageResizeTypePopupAction(kUnitPixels, true);
    model.widthTextDidChange(QStringLiteral("1500"));
    model.changeInScaleProportionalityAction(3, true);
    EXPECT_EQ(model.state().heightText, "1000");
}

TEST_F(JobOptionsModelTest, DimensionPresets) {
    QSignalSpy user(&model, &JobOptionsModel::userChangedOption);
    for (int index : {0, 1, 7, 10}) {
        model.changeImageDimentionPopupAction(index, true);
        EXPECT_EQ(model.state().widthText, "100") << index;
        EXPECT_EQ(model.state().scaleOption, 0) << index;
    }
    EXPECT_EQ(user.count(), 0);

    struct Case {
        int index;
        const char* width;
        const char* height;
    };
    const Case cases[] = {{2, "320", "240"},   {3, "640", "480"},  {4, "800", "600"},  {5, "1024", "768"},
                          {6, "1280", "1024"}, {8, "1280", "720"}, {9, "1920", "1080"}};
    for (const Case& c : cases) {
        model.DefaultResizeOption();
        model.setUpsample(true, false);
        model.setSharpen(true, false);
        model.setResolutionOn(true, false);
        model.changeImageDimentionPopupAction(c.index, true);
        const JobOptionState& s = model.state();
        EXPECT_EQ(s.widthText, c.width);
        EXPECT_EQ(s.heightText, c.height);
        EXPECT_EQ(s.scaleOption, 2);
        EXPECT_EQ(s.unit, kUnitPixels);
        EXPECT_EQ(s.currentSizeFormatType, kUnitPixels);
        EXPECT_FALSE(s.upsample || s.sharpen || s.resolutionOn);
        EXPECT_EQ(s.dimensionIndex, c.index);
    }

    // Editing a value afterwards goes back to the custom item.
    model.widthTextDidChange(QStringLiteral("700"));
    EXPECT_EQ(model.state().dimensionIndex, 0);

    model.setResizePresetNames({QStringLiteral("Web"), QStringLiteral("Print")});
    QSignalSpy preset(&model, &JobOptionsModel::resizePresetChosen);
    model.changeImageDimentionPopupAction(12, true);
    ASSERT_EQ(preset.count(), 1);
    EXPECT_EQ(preset.at(0).at(0).toString(), "Print");
    model.changeImageDimentionPopupAction(13, true);
    EXPECT_EQ(preset.count(), 1);
}

TEST_F(JobOptionsModelTest, NilSenderChangesNothing) {
    model.changeImageDimentionPopupAction(4, false);
    QSignalSpy user(&model, &JobOptionsModel::userChangedOption);
    model.changeResizeOptionAction(false);
    EXPECT_EQ(model.state().dimensionIndex, 4);
    model.SetImageTypeSecondaryOption(7, false);
    model.changeOptimizationOptionAction(2, false);
    EXPECT_EQ(user.count(), 0);
    model.changeResizeOptionAction(true);
    EXPECT_EQ(model.state().dimensionIndex, 0);
    EXPECT_EQ(user.count(), 1);
}

TEST_F(JobOptionsModelTest, QualitySliderFieldAndStepperStayInStep) {
    model.imageQualityTextDidChange(QStringLiteral("100"));
    EXPECT_DOUBLE_EQ(model.state().qualitySlider, 1.0);
    EXPECT_EQ(model.state().qualityStepper, 100);
    model.imageQualityTextDidChange(QStringLiteral("101"));
    EXPECT_EQ(model.state().qualityText, "100");
    EXPECT_DOUBLE_EQ(model.state().qualitySlider, 1.0);
    model.ImageQualityStepperControlDidChange(42, true);
    EXPECT_EQ(model.state().qualityText, "42");
    EXPECT_DOUBLE_EQ(model.state().qualitySlider, 0.42);
    model.changeImageQualityAction(0.555, true);
    EXPECT_EQ(model.state().qualityText, "56");
    EXPECT_EQ(model.state().qualityStepper, 56);
    // An empty field is accepted and changes nothing else.
    model.imageQualityTextDidChange(QString());
    EXPECT_EQ(model.state().qualityStepper, 56);
    EXPECT_EQ(model.state().qualityText, "");
    model.imageQualityTextDidChange(QStringLiteral("-4"));
    EXPECT_EQ(model.state().qualityText, "0");
    EXPECT_DOUBLE_EQ(model.state().qualitySlider, 0.0);

    // Quality is offered for the source's type, JPEG 2000 and JPEG only.
    for (int type = 0; type <= 24; ++type) {
        model.SetImageTypeSecondaryOption(type, true);
        EXPECT_EQ(model.state().qualityEnabled(), type == 0 || type == 3 || type == 4) << type;
    }
}

TEST_F(JobOptionsModelTest, PaddingAndStartNumberLimits) {
    struct Case {
        bool padding;
        const char* typed;
        const char* shown;
        std::int64_t stepper;
    };
    const Case cases[] = {
        {true, "9", "9", 9},           {true, "10", "9", 9},          {true, "-3", "0", 0},
        {true, "", "", 0},             {false, "2147483647", "2147483647", 2147483647},
        {false, "2147483648", "2147483647", 2147483647},             {false, "-1", "0", 0},
    };
    for (const Case& c : cases) {
        if (c.padding) {
            model.zeroPaddingTextDidChange(QString::fromLatin1(c.typed));
            EXPECT_EQ(model.state().zeroPaddingText, c.shown) << c.typed;
            EXPECT_EQ(model.state().zeroPaddingStepper, c.stepper) << c.typed;
        } else {
            model.startDigitTextDidChange(QString::fromLatin1(c.typed));
            EXPECT_EQ(model.state().startDigitText, c.shown) << c.typed;
            EXPECT_EQ(model.state().startDigitStepper, c.stepper) << c.typed;
        }
    }
    model.ZeroPaddingStepperControlDidChange(4, true);
    EXPECT_EQ(model.state().zeroPaddingText, "4");
    model.StartDigitStepperControlDidChange(12, true);
    EXPECT_EQ(model.state().startDigitText, "12");
}

TEST_F(JobOptionsModelTest, RenameSwitchAndControls) {
    model.SwitchGroup(kRenameGroup, true);
    EXPECT_EQ(model.state().fileNamePlaceholder, "Type new filename");
    EXPECT_EQ(model.state().suffixPlaceholder, "");
    EXPECT_FALSE(model.state().suffixEnabled());
    EXPECT_TRUE(model.state().numberControlsEnabled());

    model.ChangeRenameOptionActions(kRenamePrefixSuffix, true);
    EXPECT_EQ(model.state().fileNamePlaceholder, "Type prefix to filename");
    EXPECT_EQ(model.state().suffixPlaceholder, "Type suffix to filename");
    EXPECT_TRUE(model.state().suffixEnabled());

    model.changeAddNumberPositionPopupAction(kNoNumber, true);
    EXPECT_FALSE(model.state().numberControlsEnabled());

    selectImage();
    model.fileNameTextDidChange(QStringLiteral("a_"));
    EXPECT_EQ(model.state().exampleText, "a_photo.png");
    EXPECT_EQ(model.state().exampleToolTip, "a_photo.png");

    model.SwitchGroup(kRenameGroup, false);
    EXPECT_EQ(model.state().fileNamePlaceholder, "");
    EXPECT_EQ(model.state().suffixPlaceholder, "");
    EXPECT_EQ(model.state().exampleText, "-");
    EXPECT_EQ(model.state().exampleToolTip, "");
    EXPECT_FALSE(model.state().renameEnabled());
    EXPECT_FALSE(model.state().suffixEnabled());

    model.SwitchGroup(kRenameGroup, true);
    EXPECT_EQ(model.state().suffixPlaceholder, "Type suffix to filename");
    EXPECT_EQ(model.state().exampleText, "a_photo.png");
}

TEST_F(JobOptionsModelTest, GroupSwitchesEnableTheirControls) {
    EXPECT_TRUE(model.state().outputTypeEnabled());
    model.SwitchGroup(kConversionGroup, false);
    EXPECT_FALSE(model.state().outputTypeEnabled());
    EXPECT_FALSE(model.state().qualityEnabled());
    model.SwitchGroup(kConversionGroup, true);
    EXPECT_TRUE(model.state().qualityEnabled());

    EXPECT_FALSE(model.state().optimizationEnabled());
    model.SwitchGroup(kOptimizationGroup, true);
    EXPECT_TRUE(model.state().optimizationEnabled());

    // Resize: the fields that the scale option leaves editable follow the
    // switch; none is left disabled by a default.
    EXPECT_FALSE(model.state().widthEnabled());
    model.SwitchGroup(kResizeGroup, true);
    EXPECT_TRUE(model.state().widthEnabled());
    EXPECT_FALSE(model.state().heightEnabled());
    EXPECT_FALSE(model.state().resolutionFieldEnabled());
    model.setResolutionOn(true, true);
    EXPECT_TRUE(model.state().resolutionFieldEnabled());
    model.changeInScaleProportionalityAction(3, true);
    EXPECT_TRUE(model.state().heightEnabled());
    model.SwitchGroup(kResizeGroup, false);
    EXPECT_FALSE(model.state().widthEnabled() || model.state().heightEnabled());

    // An index outside the groups does nothing.
    const JobOptionState before = model.state();
    model.SwitchGroup(6, true);
    EXPECT_EQ(model.state().groupOn, before.groupOn);
}

TEST_F(JobOptionsModelTest, WatermarkSwitchesSetTheEditorAndItsVisibility) {
    QSignalSpy visible(&model, &JobOptionsModel::watermarkEditorVisibilityChanged);
    // An empty list neither shows nor hides the editor.
    model.SwitchGroup(kTextWatermarkGroup, true);
    EXPECT_EQ(visible.count(), 0);
    EXPECT_TRUE(watermark.TextWatermarkFlag());

    selectImage();
    model.SwitchGroup(kImageWatermarkGroup, true);
    ASSERT_EQ(visible.count(), 1);
    EXPECT_TRUE(visible.at(0).at(0).toBool());
    // Off while the other group is on: the editor stays.
    model.SwitchGroup(kTextWatermarkGroup, false);
    EXPECT_FALSE(watermark.TextWatermarkFlag());
    EXPECT_EQ(visible.count(), 1);
    model.SwitchGroup(kImageWatermarkGroup, false);
    ASSERT_EQ(visible.count(), 2);
    EXPECT_FALSE(visible.at(1).at(0).toBool());
    EXPECT_FALSE(watermark.ImageWatermarkFlag());
}

TEST_F(JobOptionsModelTest, DefaultsOfImageWatermarkAndGeneralOptions) {
    watermark.setWatermarkImageOpacity(0.9);
    watermark.setWatermarkImageSize(0.2);
    model.DefaultWatermarkImageOption();
    EXPECT_DOUBLE_EQ(watermark.WatermarkImageOpacity(), 0.5);
    EXPECT_DOUBLE_EQ(watermark.WatermarkImageSize(), 0.5);
    EXPECT_FALSE(watermark.watermarkImage());

    model.setExtraOption(&GeneralOptions::overwriteExisting, true, true);
    model.PreserveCreationDateAction(true, true);
    EXPECT_TRUE(model.state().preserveModifiedDateEnabled());
    model.DefaultExtraOptions();
    const GeneralOptions& s = model.state().general;
    EXPECT_TRUE(s.addFoldersRecursively && s.maintainDirectory && s.preserveMetadata && s.preserveModifiedDate &&
                s.useAsDestinationFolder);
    EXPECT_FALSE(s.overwriteExisting || s.preserveCreationDate);
    EXPECT_FALSE(model.state().preserveModifiedDateEnabled());

    QSignalSpy reapply(&model, &JobOptionsModel::watermarkPresetReapplyRequested);
    model.DefaultWatermarkTextOption();
    EXPECT_EQ(reapply.count(), 1);
}

TEST_F(JobOptionsModelTest, FormattedFileSizeSteps) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, ""},
        {1, "1 bytes"},
        {999, "999 bytes"},
        {1000, "1.0 KB"},
        {999999, "1000.0 KB"},
        {1000000, "1.00 MB"},
        {999999999, "1000.00 MB"},
        {1000000000, "1.000 GB"},
        {18446744073709551615ULL, "18446744073.710 GB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(JobOptionsModel::formattedFileSize(bytes), text) << bytes;
}

TEST_F(JobOptionsModelTest, NumberTextsByUnit) {
    EXPECT_EQ(JobOptionsModel::GetStringValueFromNumberForType(kUnitPixels, 1499.5), "1500");
    EXPECT_EQ(JobOptionsModel::GetStringValueFromNumberForType(kUnitInches, 1.005), "1.00");
    EXPECT_FALSE(JobOptionsModel::GetStringValueFromNumberForType(0, 3.0));
    EXPECT_FALSE(JobOptionsModel::GetStringValueFromNumberForType(7, 3.0));
}

}  // namespace
