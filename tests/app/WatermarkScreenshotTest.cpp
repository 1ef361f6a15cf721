// The platform headers reach GLib, which must come before Qt's keyword macros.
#include "platform/Font.h"
#include "platform/Image.h"
#include "platform/Initialize.h"

#include "AppTestSupport.h"

#include "app/model/ConversionRecord.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/ListViewBaseCellEntity.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/DropTargets.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WatermarkView.h"
#include "engine/ConvertImage.h"
#include "engine/ImageConversion.h"

#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A landscape photograph stand-in: sky, sun, mountains, a lake and grass
// with fine texture, so watermarks are seen over real detail.
QImage Landscape(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height * 0.6);
    sky.setColorAt(0, QColor(38, 86, 160));
    sky.setColorAt(1, QColor(236, 196, 150));
    p.fillRect(image.rect(), sky);
    QRadialGradient sun(width * 0.72, height * 0.32, height * 0.25);
    sun.setColorAt(0, QColor(255, 244, 210, 255));
    sun.setColorAt(0.12, QColor(255, 230, 170, 230));
    sun.setColorAt(1, QColor(255, 200, 140, 0));
    p.fillRect(image.rect(), sun);
    QRandomGenerator random(19);
    auto ridge = [&](double base, double amplitude, QColor top, QColor bottom) {
        QPainterPath path({0.0, double(height)});
        for (int x = 0; x <= width; x += width / 40) {
            path.lineTo(x, base - amplitude * (0.5 + 0.5 * std::sin(x * 0.011 + base)) -
                               random.bounded(amplitude * 0.25));
        }
        path.lineTo(width, height);
        QLinearGradient fill(0, base - amplitude, 0, base + amplitude * 0.3);
        fill.setColorAt(0, top);
        fill.setColorAt(1, bottom);
        p.fillPath(path, fill);
    };
    ridge(height * 0.55, height * 0.22, QColor(96, 104, 140), QColor(60, 70, 96));
    ridge(height * 0.62, height * 0.12, QColor(52, 84, 70), QColor(30, 56, 44));
    QLinearGradient lake(0, height * 0.66, 0, height * 0.8);
    lake.setColorAt(0, QColor(120, 150, 190));
    lake.setColorAt(1, QColor(50, 80, 120));
    p.fillRect(QRectF(0, height * 0.66, width, height * 0.14), lake);
    p.fillRect(QRectF(0, height * 0.8, width, height * 0.2), QColor(70, 110, 40));
    for (int i = 0; i < 6000; ++i) {  // grass and ripples
        const double x = random.bounded(width), y = height * 0.66 + random.bounded(height * 0.34);
        const bool water = y < height * 0.8;
        p.setPen(water ? QColor(200, 220, 240, 60) : QColor(40 + random.bounded(80), 90 + random.bounded(90), 30, 150));
        p.drawLine(QPointF(x, y), water ? QPointF(x + 12, y) : QPointF(x + random.bounded(4) - 2, y - 8));
    }
    return image;
}

// A logo with transparency for the image watermark.
plat::ImageRef Logo() {
    QImage logo(600, 300, QImage::Format_RGBA8888);
    logo.fill(Qt::transparent);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(255, 255, 255, 230));
    p.setPen(QPen(QColor(20, 40, 90), 14));
    p.drawRoundedRect(QRectF(10, 10, 580, 280), 60, 60);
    p.setPen(QColor(20, 40, 90));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(120);
    font.setBold(true);
    p.setFont(font);
    p.drawText(logo.rect(), Qt::AlignCenter, QStringLiteral("LOGO"));
    p.end();
    return plat::Image::FromPixels(logo.width(), logo.height(), logo.constBits(), logo.bytesPerLine(), true);
}

QImage ToQImage(const plat::Image& image) {
    const std::vector<std::uint8_t> rgba = image.copyRGBA8();
    return QImage(rgba.data(), image.width(), image.height(), image.width() * 4, QImage::Format_RGBA8888)
        .convertToFormat(QImage::Format_RGB32);
}

double MeanDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

// The editor over a photo shows what the job writes: a rotated, stroked,
// shadowed text and a half-transparent logo, in the same places. With
// VANTRELL_SCREENSHOT_DIR set, the window and the output are saved there.
TEST(WatermarkScreenshotTest, EditorShowsWhatTheOutputGets) {
    TestApplication();
    plat::Initialize();
    QTemporaryDir folder;
    const QString photoPath = folder.filePath("lake.jpg");
    const QImage photo = Landscape(1600, 1200);
    ASSERT_TRUE(photo.save(photoPath, "JPEG", 92));

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    MainWindow* window = delegate.window();
    window->resize(1400, 860);
    window->show();
    delegate.SwitchOnOffHeader(kTextWatermarkGroup, true);
    delegate.SwitchOnOffHeader(kImageWatermarkGroup, true);
    WatermarkEditorModel* editor = delegate.watermarkModel();
    KSMImageView* preview = window->mainImagePreview;
    WatermarkView* canvas = window->watermarkContextView;
    ASSERT_TRUE(canvas);
    delegate.showImageInWatermarkEditor(QSizeF(photo.size()));
    canvas->show();
    QTest::qWait(50);
    const QRect frame = canvas->geometry();
    const QImage shown = photo.scaled(frame.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGBA8888);
    auto pixels = std::make_shared<ThumbnailImage>();
    pixels->width = shown.width();
    pixels->height = shown.height();
    pixels->rgba.assign(shown.constBits(), shown.constBits() + shown.sizeInBytes());
    preview->setImage(pixels);

    editor->setTextFont(plat::Font::fontWithExactName("DejaVuSans-Bold"));
    editor->setTextString(QStringLiteral("Vantrell © 2026"));
    editor->setTextFontSize(44);
    editor->setTextRotationAngle(15);
    editor->setDrawingMode(WatermarkEditorModel::kFillStroke);
    editor->setStrokeWidth(2);
    editor->setTextFontColor({0.95, 0.15, 0.1, 1});
    editor->setTextOpacity(0.9);
    editor->setShadowBlur(4);
    editor->setXOffset(3);
    editor->setYOffset(-3);
    editor->setCenterLoc({60, 70});
    editor->setWatermarkImage(Logo());
    editor->setWatermarkImageSize(0.4);
    editor->setWatermarkImageOpacity(0.55);
    editor->setImageLoc({300, 280});
    editor->setSelectionIndexes({0});
    QTest::qWait(50);

    const QString shots = qEnvironmentVariable("VANTRELL_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        QDir().mkpath(shots);
        window->grab().save(shots + "/editor-window.png");
    }

    // The job's output at the photo's size.
    JobOptionState state = delegate.jobOptions()->state();
    ImageConversion record;
    ASSERT_EQ(FillConversionRecord(state, *editor, &record), InvalidConversionOption::None);
    ASSERT_EQ(record.drawTextWatermark, 1);
    ASSERT_EQ(record.drawImageWatermark, 1);
    record.sourceURL = photoPath.toStdString();
    record.returnImage = 1;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    ASSERT_TRUE(record.resultImage);
    const QImage output = ToQImage(*record.resultImage);
    ASSERT_EQ(output.size(), photo.size());

    // The canvas without selection frames, against the output shrunk to it.
    editor->setSelectionIndexes({});
    QTest::qWait(20);
    const QImage editorView = preview->grab(frame).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage shrunk = output.scaled(editorView.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage plain = photo.scaled(editorView.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!shots.isEmpty()) {
        output.save(shots + "/converted-output.png");
        QImage beside(editorView.width() * 2 + 10, editorView.height(), QImage::Format_RGB32);
        beside.fill(Qt::white);
        QPainter p(&beside);
        p.drawImage(0, 0, editorView);
        p.drawImage(editorView.width() + 10, 0, shrunk);
        p.end();
        beside.save(shots + "/editor-beside-output.png");
    }
    const double agreement = MeanDifference(editorView, shrunk);
    const double watermarks = MeanDifference(plain, shrunk);
    EXPECT_LT(agreement, 2.5);
    EXPECT_GT(watermarks, 3 * agreement);
}

}  // namespace
