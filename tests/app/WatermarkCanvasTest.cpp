// The platform headers reach GLib, which must come before Qt's keyword macros.
#include "platform/BitmapContext.h"
#include "platform/Font.h"
#include "platform/Image.h"

#include "AppTestSupport.h"

#include "app/model/ConversionRecord.h"
#include "app/model/JobOptionState.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/WatermarkView.h"
#include "engine/ImageConversion.h"
#include "engine/TextWatermark.h"

#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// An image of `width` × `height` plain pixels for the image watermark.
plat::ImageRef SolidImage(int width, int height) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4, 200);
    return plat::Image::FromPixels(width, height, pixels.data());
}

class WatermarkCanvasTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        editor.setTextFont(plat::Font::fontWithExactName("DejaVuSans"));
        ASSERT_TRUE(editor.textFont());
    }

    // The canvas of an image of the given pixel size.
    void showImage(double width, double height) {
        editor.setImageAspectRatio(width / height);
        editor.initImageView();
    }

    // A preview of `size` with the canvas over it, shown.
    WatermarkView* showCanvas(QSize size) {
        preview = std::make_unique<QLabel>();
        preview->resize(size);
        auto* view = new WatermarkView(&editor, preview.get());
        preview->show();
        view->updateFrameRect();
        return view;
    }

    WatermarkEditorModel editor;
    std::unique_ptr<QLabel> preview;
};

TEST_F(WatermarkCanvasTest, TextLayoutOfAKnownFont) {
    showImage(4000, 3000);
    const plat::FontRef font = editor.textFont();
    const std::vector<plat::GlyphId> glyphs = font->glyphsForText("Vantrell");
    double run = 0;
    for (double advance : font->advancesForGlyphs(glyphs, 30)) run += advance;
    // DejaVu Sans, 30 points: "Vantrell" runs about 120 points from (20, 20).
    EXPECT_NEAR(run, 117.1, 1.0);
    EXPECT_NEAR(editor.nextTextLoc().x(), 20 + run, 1e-6);
    EXPECT_DOUBLE_EQ(editor.nextTextLoc().y(), 20);

    // Glyph bounds: the V starts at the baseline, the l reaches above the cap
    // height; the hit rectangle adds a quarter of them around the run.
    const QRectF g = editor.textGlyphRect();
    EXPECT_NEAR(g.y(), 0.0, 0.5);
    EXPECT_NEAR(g.height(), 22.8, 0.5);
    const QRectF frame = editor.textFrameRect();
    EXPECT_NEAR(frame.x(), 20 + std::min(g.x(), 0.0) - 0.25 * g.width(), 1e-9);
    EXPECT_NEAR(frame.y(), 20 + std::min(g.y(), 0.0) - 0.25 * g.height(), 1e-9);
    EXPECT_NEAR(frame.width(), run + 0.5 * g.width(), 1e-9);
    EXPECT_NEAR(frame.height(), 1.5 * g.height(), 1e-9);

    // Spacing adds after every glyph; a quarter turn runs upwards.
    editor.setSpacingType(WatermarkEditorModel::kSpacingExpanded);
    editor.setTextCharSpace(2);
    EXPECT_NEAR(editor.nextTextLoc().x(), 20 + run + 16, 1e-6);
    editor.setTextRotationAngle(90);
    EXPECT_NEAR(editor.nextTextLoc().x(), 20, 1e-4);
    EXPECT_NEAR(editor.nextTextLoc().y(), 20 + run + 16, 1e-4);
}

TEST_F(WatermarkCanvasTest, EndPointsFollowEveryValueTheyDependOn) {
    showImage(4000, 3000);
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"text", [&] { editor.setTextString("Longer text"); }},
        {"size", [&] { editor.setTextFontSize(60); }},
        {"font", [&] { editor.setTextFont(plat::Font::fontWithExactName("DejaVuSans-Bold")); }},
        {"spacing", [&] { editor.setSpacingType(1), editor.setTextCharSpace(5); }},
        {"rotation", [&] { editor.setTextRotationAngle(45); }},
        {"origin", [&] { editor.setCenterLoc({100, 100}); }},
        {"canvas", [&] { showImage(3000, 4000); }},
    };
    for (const Case& c : cases) {
        const QPointF before = editor.nextTextLoc();
        c.change();
        const TextWatermarkLayout layout = editor.layoutText();
        EXPECT_NE(editor.nextTextLoc(), before) << c.name;
        EXPECT_NEAR(editor.nextTextLoc().x(), layout.endPoint.x, 1e-9) << c.name;
        EXPECT_NEAR(editor.nextTextLoc().y(), layout.endPoint.y, 1e-9) << c.name;
    }
    // An empty text ends where it starts and has no frame.
    editor.setTextString(QString());
    EXPECT_EQ(editor.nextTextLoc(), editor.centerLoc());
    EXPECT_TRUE(editor.textFrameRect().isEmpty());
}

TEST_F(WatermarkCanvasTest, ImageWatermarkSize) {
    const std::tuple<int, int, QSizeF> cases[] = {
        {1000, 500, {275, 137.5}}, {200, 100, {100, 50}}, {300, 900, {550.0 / 3 / 2, 275}}};
    for (const auto& [width, height, drawn] : cases) {
        editor.setImageLoc({10, 10});
        editor.setWatermarkImage(SolidImage(width, height));
        EXPECT_EQ(editor.watermarkImageDrawnSize(), drawn) << width;
        EXPECT_EQ(editor.nextImageLoc(), QPointF(10 + drawn.width(), 10 + drawn.height())) << width;
        EXPECT_EQ(editor.imageFrameRect(), QRectF(QPointF(10, 10), drawn)) << width;
    }
    // No image: nothing to draw, a zero frame, the corners kept.
    const QPointF corner = editor.nextImageLoc();
    editor.setWatermarkImage(nullptr);
    EXPECT_EQ(editor.imageFrameRect(), QRectF());
    EXPECT_EQ(editor.nextImageLoc(), corner);
}

TEST_F(WatermarkCanvasTest, ZeroViewSizesNeverMakeNaN) {
    showImage(4000, 3000);
    editor.setCenterLoc({100, 80});
    editor.setTextMouseEventClicked(false);
    editor.beginDrawing({0, 0});  // a drawing into nothing keeps the text
    editor.setTextMouseEventClicked(false);
    editor.beginDrawing({400, 300});
    EXPECT_EQ(editor.centerLoc(), QPointF(100, 80));
    editor.setImageAspectRatio(std::numeric_limits<double>::infinity());
    editor.setOldMainImageViewSize({0, 0});
    editor.initImageView();
    editor.changeStartCenterLocationWithX(NAN, 1);
    editor.dragTo({50, 50}, {0, 0});
    for (QPointF p : {editor.centerLoc(), editor.nextTextLoc(), editor.ImageLoc()}) {
        EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()));
    }
}

TEST_F(WatermarkCanvasTest, ShiftClickAndPlainClickSelection) {
    showImage(4000, 3000);
    editor.setCenterLoc({20, 20});
    editor.setImageLoc({300, 200});
    editor.setWatermarkImage(SolidImage(200, 100));  // 100 × 50 points
    const QPointF onText(60, 28), onImage(350, 225), empty(500, 400);
    struct Step {
        QPointF point;
        bool shift;
        std::set<int> selection;
        bool drags;
    };
    const Step steps[] = {
        {onImage, true, {0, 1}, true}, {onText, true, {1}, true}, {onImage, false, {1}, true},
        {onText, false, {0}, true},    {empty, false, {}, false},  {onImage, true, {1}, true},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(editor.selectAndTrackMouse(s.point, s.shift), s.drags);
        EXPECT_EQ(editor.selectionIndexes(), s.selection);
    }
    EXPECT_FALSE(editor.textCenterArray());
    ASSERT_TRUE(editor.imageCenterArray());
    EXPECT_EQ((*editor.imageCenterArray())[0], 300.0f);
}

TEST_F(WatermarkCanvasTest, RotatedTextIsHitInsideItsTurnedFrame) {
    showImage(4000, 3000);
    editor.setCenterLoc({200, 100});
    editor.setTextRotationAngle(90);
    EXPECT_EQ(editor.hitTest({190, 160}), 0);  // above the start, along the turned run
    EXPECT_EQ(editor.hitTest({260, 110}), -1);  // where the unturned text would be
}

TEST_F(WatermarkCanvasTest, DragClampsToTheCanvas) {
    showImage(4000, 3000);
    const QSizeF frame(550, 412.5);
    editor.setCenterLoc({100, 100});
    editor.setSelectionIndexes({0});
    // Grabbed inside the frame and pulled past the left edge: the frame's
    // left edge stops at the canvas's.
    const QPointF grab(110, 105);
    const QPointF grabInFrame = grab - editor.textFrameRect().topLeft();
    ASSERT_TRUE(editor.selectAndTrackMouse(grab, false));
    editor.beginDrag(grab);
    editor.dragTo({-200, 105}, frame);
    EXPECT_NEAR(editor.textFrameRect().x(), 0.0, 1e-9);
    // Pulled past the right edge: the grab point stays 10 points inside.
    editor.dragTo({900, 105}, frame);
    EXPECT_NEAR(editor.textFrameRect().x() + grabInFrame.x(), 540.0, 1e-6);
    EXPECT_NEAR(editor.textFrameRect().y() + grabInFrame.y(), 105.0, 1e-6);

    // The image alone, pulled past the top: the grab point stays 10 below it.
    editor.setWatermarkImage(SolidImage(200, 100));
    editor.setImageLoc({300, 200});
    editor.setSelectionIndexes({1});
    editor.beginDrag({320, 210});
    editor.dragTo({320, 1000}, frame);
    EXPECT_NEAR(editor.ImageLoc().y() + 10, 402.5, 1e-9);
    EXPECT_NEAR(editor.ImageLoc().x(), 300, 1e-9);
}

TEST_F(WatermarkCanvasTest, DragWithTheMouseRequestsOnePreview) {
    showImage(4000, 3000);
    WatermarkView* view = showCanvas({550, 413});
    ASSERT_EQ(view->width(), 550);
    editor.setCenterLoc({100, 100});
    QSignalSpy finished(view, &WatermarkView::dragFinished);
    const int h = view->height();
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(110, h - 105));
    for (int x = 120; x <= 200; x += 20) QTest::mouseMove(view, QPoint(x, h - 105));
    EXPECT_EQ(finished.count(), 0);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(200, h - 105));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_NEAR(editor.centerLoc().x(), 190, 1.0);
    // A click on empty canvas clears the selection and asks for nothing.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(500, 20));
    EXPECT_TRUE(editor.selectionIndexes().empty());
    EXPECT_EQ(finished.count(), 1);
}

// The editor draws the text exactly as a job draws it into an output of the
// same scale: same pixels, same place.
TEST_F(WatermarkCanvasTest, EditorTextMatchesTheEngineOutput) {
    showImage(4000, 3000);
    editor.setCenterLoc({150, 200});
    editor.setTextFontSize(40);
    editor.setTextRotationAngle(30);
    editor.setDrawingMode(WatermarkEditorModel::kStroke);
    editor.setStrokeWidth(2);
    editor.setTextFontColor({0.9, 0.2, 0.1, 1.0});
    editor.setSpacingType(WatermarkEditorModel::kSpacingCondensed);
    editor.setTextCharSpace(-3);
    WatermarkView view(&editor, nullptr);

    // An output of 1100 × 825 pixels draws at 2 pixels per canvas point.
    JobOptionState state;
    state.groupOn[kTextWatermarkGroup] = true;
    ImageConversion record;
    ASSERT_EQ(FillConversionRecord(state, editor, &record), InvalidConversionOption::None);
    auto context = plat::BitmapContext::create(1100, 825, plat::ColorModel::RGB, true);
    ASSERT_TRUE(context);
    DrawTextWatermark(nullptr, *context, record.watermark, 1100, 825);
    QImage output(1100, 825, QImage::Format_ARGB32_Premultiplied);
    ASSERT_TRUE(context->writePremultipliedARGB32(output.bits(), output.bytesPerLine()));

    const QImage canvas = view.renderText({1100, 825}, 2.0, 2.0);
    ASSERT_FALSE(canvas.isNull());
    int inked = 0, differing = 0;
    for (int y = 0; y < 825; ++y) {
        for (int x = 0; x < 1100; ++x) {
            const QRgb a = output.pixel(x, y), b = canvas.pixel(x, y);
            if (qAlpha(a) > 0) ++inked;
            if (std::abs(qAlpha(a) - qAlpha(b)) > 2 || std::abs(qRed(a) - qRed(b)) > 2) ++differing;
        }
    }
    EXPECT_GT(inked, 2000);
    EXPECT_EQ(differing, 0);
    // The ink starts where the canvas puts the text: x 150 points, 300 pixels,
    // less the top of the V turned 30 degrees to the left (about 29 pixels).
    int left = 1100;
    for (int y = 0; y < 825; ++y) {
        for (int x = 0; x < left; ++x) {
            if (qAlpha(canvas.pixel(x, y)) > 0) left = x;
        }
    }
    EXPECT_NEAR(left, 271, 8);
}

}  // namespace
