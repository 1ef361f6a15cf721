#include "AppTestSupport.h"

#include "app/model/WatermarkEditorModel.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

class WatermarkEditorModelTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }

    // The canvas of an image of the given pixel size.
    void showImage(double width, double height) {
        editor.setImageAspectRatio(width / height);
        editor.initImageView();
    }

    WatermarkEditorModel editor;
};

TEST_F(WatermarkEditorModelTest, Defaults) {
    EXPECT_EQ(editor.textString(), "Vantrell");
    ASSERT_TRUE(editor.textFont());
    EXPECT_EQ(editor.textFontSize(), 30);
    EXPECT_EQ(editor.drawingMode(), 0);
    EXPECT_EQ(editor.textFontColor(), (plat::Color{1, 1, 0, 1}));
    EXPECT_EQ(editor.strokeWidth(), 1);
    EXPECT_DOUBLE_EQ(editor.textOpacity(), 0.8999999761581421);
    EXPECT_EQ(editor.textRotationAngle(), 0);
    EXPECT_DOUBLE_EQ(editor.textCharSpace(), 0.0);
    EXPECT_EQ(editor.SpacingType(), 0);
    EXPECT_EQ(editor.centerLoc(), QPointF(20, 20));
    EXPECT_EQ(editor.ImageLoc(), QPointF(20, 20));
    EXPECT_EQ(editor.nextTextLoc(), QPointF(0, 0));
    EXPECT_TRUE(editor.TextWatermarkFlag() && editor.ImageWatermarkFlag());
    EXPECT_TRUE(editor.isDropShadowApplied());
    EXPECT_EQ(editor.shadowBlur(), 3);
    EXPECT_EQ(editor.xOffset(), 3);
    EXPECT_EQ(editor.yOffset(), -3);
    EXPECT_EQ(editor.textShadowColor(), (plat::Color{0, 0, 0, 1}));
    EXPECT_DOUBLE_EQ(editor.WatermarkImageOpacity(), 0.5);
    EXPECT_DOUBLE_EQ(editor.WatermarkImageSize(), 0.5);
    EXPECT_DOUBLE_EQ(editor.imageAspectRatio(), 1.0);
    EXPECT_EQ(editor.oldMainImageViewSize(), QSizeF(0, 0));
    EXPECT_EQ(editor.selectionIndexes(), std::set<int>{0});
    EXPECT_DOUBLE_EQ(editor.currentXScale(), 1.0);
}

TEST_F(WatermarkEditorModelTest, SettersClampToTheLimits) {
    struct Case {
        const char* name;
        std::function<void(double)> set;
        std::function<double()> get;
        double value;
        double expected;
    };
    auto e = &editor;
    const Case cases[] = {
        {"font size low", [e](double v) { e->setTextFontSize(v); }, [e] { return double(e->textFontSize()); }, 0, 1},
        {"font size high", [e](double v) { e->setTextFontSize(v); }, [e] { return double(e->textFontSize()); }, 1001, 1000},
        {"stroke", [e](double v) { e->setStrokeWidth(v); }, [e] { return double(e->strokeWidth()); }, -2, 1},
        {"mode", [e](double v) { e->setDrawingMode(v); }, [e] { return double(e->drawingMode()); }, 5, 2},
        {"opacity", [e](double v) { e->setTextOpacity(v); }, [e] { return e->textOpacity(); }, 1.5, 1},
        {"opacity nan", [e](double v) { e->setTextOpacity(v); }, [e] { return e->textOpacity(); }, NAN, 0},
        {"angle", [e](double v) { e->setTextRotationAngle(v); }, [e] { return double(e->textRotationAngle()); }, 360, 359},
        {"angle low", [e](double v) { e->setTextRotationAngle(v); }, [e] { return double(e->textRotationAngle()); }, -1, 0},
        {"spacing", [e](double v) { e->setTextCharSpace(v); }, [e] { return e->textCharSpace(); }, -900, -500},
        {"spacing type", [e](double v) { e->setSpacingType(v); }, [e] { return double(e->SpacingType()); }, 3, 0},
        {"blur", [e](double v) { e->setShadowBlur(v); }, [e] { return double(e->shadowBlur()); }, 101, 100},
        {"x offset", [e](double v) { e->setXOffset(v); }, [e] { return double(e->xOffset()); }, -6000, -5000},
        {"y offset", [e](double v) { e->setYOffset(v); }, [e] { return double(e->yOffset()); }, 6000, 5000},
        {"image opacity", [e](double v) { e->setWatermarkImageOpacity(v); }, [e] { return e->WatermarkImageOpacity(); }, -1, 0},
        {"image size", [e](double v) { e->setWatermarkImageSize(v); }, [e] { return e->WatermarkImageSize(); }, 0.01, 0.05},
        {"image size high", [e](double v) { e->setWatermarkImageSize(v); }, [e] { return e->WatermarkImageSize(); }, 2, 1},
        {"aspect refused", [e](double v) { e->setImageAspectRatio(v); }, [e] { return e->imageAspectRatio(); }, -2, 1},
    };
    for (const Case& c : cases) {
        c.set(c.value);
        EXPECT_DOUBLE_EQ(c.get(), c.expected) << c.name;
    }
    editor.setTextFontColor({2, -1, 0.5, 1});
    EXPECT_EQ(editor.textFontColor(), (plat::Color{1, 0, 0.5, 1}));
    editor.setSelectionIndexes({0, 1, 7});
    EXPECT_EQ(editor.selectionIndexes(), (std::set<int>{0, 1}));

    // Only real changes are announced.
    QSignalSpy spy(&editor, &WatermarkEditorModel::valueChanged);
    editor.setShadowBlur(100);
    EXPECT_EQ(spy.count(), 0);
    editor.setShadowBlur(4);
    EXPECT_EQ(spy.count(), 1);

    // The defaults come back; positions stay.
    editor.setCenterLoc({100, 40});
    editor.InitializeWatermarkOptions();
    EXPECT_EQ(editor.textFontSize(), 30);
    EXPECT_EQ(editor.shadowBlur(), 3);
    EXPECT_EQ(editor.centerLoc(), QPointF(100, 40));
}

TEST_F(WatermarkEditorModelTest, CharacterSpacingOfAJob) {
    struct Case {
        int type;
        std::int64_t fontSize;
        double stored;
        double expected;
    };
    const Case cases[] = {{2, 40, -30, -10}, {2, 30, -10, -7.5}, {2, 30, -5, -5}, {1, 30, 12.5, 12.5}, {0, 30, 12.5, 0}};
    for (const Case& c : cases) {
        editor.setSpacingType(c.type);
        editor.setTextFontSize(c.fontSize);
        editor.setTextCharSpace(c.stored);
        EXPECT_DOUBLE_EQ(editor.effectiveCharacterSpacing(), c.expected) << c.type << " " << c.stored;
    }
}

TEST_F(WatermarkEditorModelTest, CanvasOfTheCurrentImage) {
    const std::tuple<double, double, QSizeF> cases[] = {
        {4000, 3000, {550, 412.5}}, {3000, 4000, {412.5, 550}}, {100, 100, {550, 550}}};
    for (const auto& [width, height, canvas] : cases) {
        showImage(width, height);
        EXPECT_EQ(editor.oldMainImageViewSize(), canvas);
    }
}

TEST_F(WatermarkEditorModelTest, WatermarksKeepTheirAnchorsAcrossImages) {
    showImage(4000, 3000);
    editor.setNextTextLoc({120, 50});  // a text of 100 × 30 near the lower-left corner
    editor.setImageLoc({225, 156.25});  // an image of 100 × 100 in the centre
    editor.setNextImageLoc({325, 256.25});
    showImage(3000, 4000);
    EXPECT_NEAR(editor.centerLoc().x(), 15.0, 1e-9);
    EXPECT_NEAR(editor.centerLoc().y(), 26.6667, 1e-4);
    EXPECT_NEAR(editor.ImageLoc().x(), (412.5 - 100) / 2, 1e-9);
    EXPECT_NEAR(editor.ImageLoc().y(), (550 - 100) / 2.0, 1e-9);
}

TEST_F(WatermarkEditorModelTest, FittingOverThePreview) {
    editor.setImageAspectRatio(2.0);
    // Before any image, the first fit is the canvas.
    EXPECT_EQ(editor.updateFrameRect({400, 400}), QRectF(0, 100, 400, 200));
    EXPECT_EQ(editor.oldMainImageViewSize(), QSizeF(400, 200));
    EXPECT_DOUBLE_EQ(editor.currentXScale(), 1.0);
    // A bigger window only scales; the canvas positions stay.
    editor.setCenterLoc({30, 30});
    editor.setTextMouseEventClicked(false);
    EXPECT_EQ(editor.updateFrameRect({1000, 300}), QRectF(200, 0, 600, 300));
    EXPECT_DOUBLE_EQ(editor.currentXScale(), 1.5);
    EXPECT_DOUBLE_EQ(editor.currentYScale(), 1.5);
    EXPECT_TRUE(editor.textMouseEventClicked());
    EXPECT_EQ(editor.centerLoc(), QPointF(30, 30));
    // No preview: an empty frame, no division by zero.
    EXPECT_EQ(editor.updateFrameRect({0, 0}), QRectF(0, 0, 0, 0));

    editor.changeStartCenterLocationWithX(2, 0.5);
    EXPECT_EQ(editor.centerLoc(), QPointF(60, 15));
    EXPECT_EQ(editor.ImageLoc(), QPointF(40, 10));
}

}  // namespace
