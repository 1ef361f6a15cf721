// The platform headers reach GLib, which must come before Qt's keyword macros.
#include "platform/Image.h"
#include "platform/Initialize.h"

#include "AppTestSupport.h"

#include "app/model/ConversionRecord.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/CustomAlert.h"
#include "engine/ImageConversion.h"

#include <QCheckBox>

#include <gtest/gtest.h>

namespace {

class ConversionRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        state.groupOn[kResizeGroup] = true;
        state.currentScaleOption = 3;
        state.widthText = QStringLiteral("640");
        state.heightText = QStringLiteral("480");
    }

    InvalidConversionOption fill() {
        record = ImageConversion{};
        return FillConversionRecord(state, editor, &record);
    }

    JobOptionState state;
    WatermarkEditorModel editor;
    ImageConversion record;
};

TEST_F(ConversionRecordTest, TypeQualityAndMetadata) {
    state.outputType = 11;  // BMP has no quality
    state.qualitySlider = 0.7;
    ASSERT_EQ(fill(), InvalidConversionOption::None);
    EXPECT_EQ(record.options.outputType, 11);
    EXPECT_DOUBLE_EQ(record.options.quality, 0.0);
    EXPECT_EQ(record.options.preserveMetadata, 1);
    state.outputType = 4;
    state.general.preserveMetadata = false;
    fill();
    EXPECT_DOUBLE_EQ(record.options.quality, 0.7);
    EXPECT_EQ(record.options.preserveMetadata, 0);
    EXPECT_EQ(record.options.outputDPI, 0);
}

TEST_F(ConversionRecordTest, ResizeValuesAndValidation) {
    struct Case {
        int scale;
        const char* width;
        const char* height;
        bool resolutionOn;
        const char* resolution;
        InvalidConversionOption expected;
    };
    using I = InvalidConversionOption;
    const Case cases[] = {
        {1, "", "300", false, "72", I::None},      {1, "", "0", false, "72", I::Height},
        {0, "0", "", false, "72", I::Width},       {0, "-5", "", false, "72", I::Width},
        {3, "0", "0", false, "72", I::Width},      {3, "10", "", false, "72", I::Height},
        {2, "10", "10", true, "3000", I::None},    {2, "10", "10", true, "3001", I::Resolution},
        {2, "10", "10", false, "9999", I::None},   {0, "abc", "", false, "72", I::Width},
    };
    for (const Case& c : cases) {
        state.currentScaleOption = c.scale;
        state.widthText = QString::fromLatin1(c.width);
        state.heightText = QString::fromLatin1(c.height);
        state.resolutionOn = c.resolutionOn;
        state.resolutionText = QString::fromLatin1(c.resolution);
        EXPECT_EQ(fill(), c.expected) << c.scale << " " << c.width << " " << c.height << " " << c.resolution;
    }

    state.currentScaleOption = 1;
    state.widthText = QStringLiteral("77");
    state.heightText = QStringLiteral("300");
    state.unit = kUnitMillimetres;
    state.upsample = true;
    state.sharpen = true;
    state.resolutionOn = true;
    state.resolutionText = QStringLiteral("150");
    ASSERT_EQ(fill(), InvalidConversionOption::None);
    EXPECT_EQ(record.applyResize, 1);
    EXPECT_DOUBLE_EQ(record.resize.width, 0.0);
    EXPECT_DOUBLE_EQ(record.resize.height, 300.0);
    EXPECT_EQ(record.resize.unit, kUnitMillimetres);
    EXPECT_EQ(record.resize.dpi, 150);
    EXPECT_EQ(record.resize.upsample, 1);
    EXPECT_EQ(record.resize.sharpen, 1);
    EXPECT_EQ(record.resize.applySize, 1);

    // Proportions are kept for 0, 1, 2, 5 and 6; no sharpening with 4.
    for (int scale = 0; scale <= 6; ++scale) {
        state.currentScaleOption = scale;
        state.widthText = state.heightText = QStringLiteral("10");
        fill();
        EXPECT_EQ(record.resize.keepProportions, scale == 3 || scale == 4 ? 0 : 1) << scale;
        EXPECT_EQ(record.resize.sharpen, scale == 4 ? 0 : 1) << scale;
        EXPECT_EQ(record.resize.scaleOption, scale);
    }
}

TEST_F(ConversionRecordTest, ResizeOffAsksForTheFullSize) {
    state.groupOn[kResizeGroup] = false;
    state.widthText = QStringLiteral("0");
    state.sharpen = state.upsample = state.resolutionOn = true;
    ASSERT_EQ(fill(), InvalidConversionOption::None);
    EXPECT_EQ(record.applyResize, 0);
    EXPECT_DOUBLE_EQ(record.resize.width, 100.0);
    EXPECT_DOUBLE_EQ(record.resize.height, 100.0);
    EXPECT_EQ(record.resize.unit, 1);
    EXPECT_EQ(record.resize.scaleOption, 2);
    EXPECT_EQ(record.resize.keepProportions, 0);
    EXPECT_EQ(record.resize.applySize, 1);
    EXPECT_EQ(record.resize.upsample + record.resize.sharpen, 0);
    EXPECT_EQ(record.resize.dpi, 0);
}

TEST_F(ConversionRecordTest, Watermarks) {
    state.groupOn[kTextWatermarkGroup] = true;
    state.groupOn[kImageWatermarkGroup] = true;
    editor.setTextString(QString());
    fill();
    EXPECT_EQ(record.drawTextWatermark, 0);
    EXPECT_EQ(record.drawImageWatermark, 0);  // no image in the well

    editor.setTextString(QStringLiteral("© Ünïcode"));
    editor.setSpacingType(2);
    editor.setTextFontSize(40);
    editor.setTextCharSpace(-30);
    editor.setCenterLoc({12, 34});
    editor.setNextTextLoc({120, 60});
    editor.setImageAspectRatio(4.0 / 3.0);
    editor.initImageView();
    plat::Initialize();
    const std::vector<std::uint8_t> pixels(8 * 8 * 4, 200);
    editor.setWatermarkImage(plat::Image::FromPixels(8, 8, pixels.data()));
    editor.setWatermarkImageSize(0.25);
    ASSERT_EQ(fill(), InvalidConversionOption::None);
    EXPECT_EQ(record.drawTextWatermark, 1);
    EXPECT_EQ(record.watermark.text, "© Ünïcode");
    EXPECT_DOUBLE_EQ(record.watermark.characterSpacing, -10.0);
    EXPECT_EQ(record.watermark.textOrigin, (KSMPoint{12, 34}));
    EXPECT_EQ(record.watermark.textEndPoint, (KSMPoint{120, 60}));
    EXPECT_EQ(record.watermark.editorViewSize, (KSMSize{550, 412.5}));
    EXPECT_EQ(record.watermark.fontSize, 40);
    EXPECT_EQ(record.watermark.shadow, 1);
    EXPECT_EQ(record.watermark.shadowOffsetY, -3);
    EXPECT_TRUE(record.watermark.font);
    EXPECT_EQ(record.drawImageWatermark, 1);
    EXPECT_TRUE(record.watermark.image);
    EXPECT_DOUBLE_EQ(record.watermark.imageScale, 0.25);

    // Groups off: nothing drawn, whatever the editor holds.
    state.groupOn[kTextWatermarkGroup] = false;
    state.groupOn[kImageWatermarkGroup] = false;
    fill();
    EXPECT_EQ(record.drawTextWatermark + record.drawImageWatermark, 0);

    // An invalid size leaves the watermarks unfilled.
    state.groupOn[kTextWatermarkGroup] = true;
    state.widthText = QStringLiteral("0");
    EXPECT_EQ(fill(), InvalidConversionOption::Width);
    EXPECT_EQ(record.drawTextWatermark, 0);
}

TEST_F(ConversionRecordTest, PNGOptimizationQuestion) {
    struct Case {
        bool optimizationOn;
        int tag;
        int type;
        bool turnedOff;
        bool preview;
        bool asked;
    };
    const Case cases[] = {
        {true, 2, 7, false, false, true},  {true, 3, 0, false, false, true}, {true, 2, 10, false, false, false},
        {true, 2, 7, false, true, false},  {true, 1, 7, false, false, false}, {false, 2, 7, false, false, false},
        {true, 2, 7, true, false, false},
    };
    for (const Case& c : cases) {
        state.groupOn[kOptimizationGroup] = c.optimizationOn;
        state.optimizationTag = c.tag;
        state.outputType = c.type;
        state.doNotShowPNGOptimizationAlert = c.turnedOff;
        EXPECT_EQ(NeedsPNGOptimizationQuestion(state, c.preview), c.asked) << c.tag << " " << c.type;
    }
}

// The controller's check with its alerts, answered by a test responder.
class ConversionOptionsAlertTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        SetCustomAlertResponder([this](const CustomAlert& alert) {
            titles.push_back(alert.title());
            if (tickBox) {
                if (auto* box = qobject_cast<QCheckBox*>(alert.view())) box->setChecked(true);
            }
            return answer;
        });
        delegate = std::make_unique<AppDelegate>();
        options = delegate->jobOptions();
    }
    void TearDown() override { SetCustomAlertResponder(nullptr); }

    bool valid(bool preview = false) {
        ImageConversion record;
        return delegate->IsConversionOptionsValid(&record, preview);
    }

    std::unique_ptr<AppDelegate> delegate;
    JobOptionsModel* options = nullptr;
    std::vector<QString> titles;
    int answer = kAlertDefaultReturn;
    bool tickBox = false;
};

TEST_F(ConversionOptionsAlertTest, PNGQuestionOncePerJobUntilTurnedOff) {
    options->SwitchGroup(kOptimizationGroup, true);
    options->changeOptimizationOptionAction(kOptimizePNG, true);
    options->SetImageTypeSecondaryOption(7, true);

    answer = kAlertAlternateReturn;
    EXPECT_FALSE(valid());
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles[0], "PNG optimisation can take a long time");
    EXPECT_TRUE(valid(true));  // a preview never asks
    EXPECT_EQ(titles.size(), 1u);

    answer = kAlertDefaultReturn;
    tickBox = true;
    EXPECT_TRUE(valid());
    EXPECT_EQ(titles.size(), 2u);
    EXPECT_TRUE(options->state().doNotShowPNGOptimizationAlert);
    EXPECT_TRUE(valid());
    EXPECT_EQ(titles.size(), 2u);
}

TEST_F(ConversionOptionsAlertTest, InvalidValuesNameTheFieldAndDiscardEmptiesIt) {
    delegate->applicationDidFinishLaunching();
    delegate->SwitchOnOffHeader(kResizeGroup, true);
    options->widthTextDidChange(QStringLiteral("0"));
    answer = kAlertDefaultReturn;
    EXPECT_FALSE(valid());
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles.back(), "The value “0” is not valid.");
    EXPECT_EQ(options->state().widthText, "0");
    answer = kAlertAlternateReturn;
    EXPECT_FALSE(valid());
    EXPECT_EQ(options->state().widthText, "");

    options->widthTextDidChange(QStringLiteral("50"));
    options->setResolutionOn(true, true);
    options->resolutionTextDidChange(QStringLiteral("3001"));
    EXPECT_FALSE(valid());
    EXPECT_EQ(titles.back(), "The resolution 3001 dpi is too high.");
    EXPECT_EQ(options->state().resolutionText, "");
    EXPECT_TRUE(valid());
}

}  // namespace
