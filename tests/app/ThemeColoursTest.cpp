#include "AppTestSupport.h"

#include "app/ui/AppDelegate.h"
#include "app/ui/KSMConfigurationHeaderView.h"
#include "app/ui/KSMOutlineView.h"
#include "app/ui/MainWindow.h"
#include "app/ui/PreviewWindow.h"
#include "app/ui/ThemeColours.h"

#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// Text that reads on a background: lightness at least 0.4 apart.
void ExpectReadable(const QColor& text, const QColor& background) {
    EXPECT_GT(std::abs(text.lightnessF() - background.lightnessF()), 0.4)
        << text.name().toStdString() << " on " << background.name().toStdString();
}

// The application palette for one test, given back afterwards.
struct ThemeColoursTest : ::testing::Test {
    ~ThemeColoursTest() override { QApplication::setPalette(saved); }
    QPalette saved = (TestApplication(), QApplication::palette());
};

TEST_F(ThemeColoursTest, LightPaletteKeepsTheFixedShades) {
    const QPalette light = QApplication::palette();
    ASSERT_FALSE(IsDarkPalette(light));
    EXPECT_EQ(OutlineBandColor(light, 0), QColor::fromRgbF(0.87f, 0.87f, 0.87f));
    EXPECT_EQ(OutlineBandColor(light, 3), QColor::fromRgbF(0.91f, 0.91f, 0.91f));
    EXPECT_EQ(OutlineBackgroundColor(light), QColor::fromRgbF(0.915f, 0.915f, 0.915f));
    EXPECT_EQ(HeaderGradientTopColor(light), QColor::fromRgbF(231 / 255.0f, 233 / 255.0f, 248 / 255.0f));
    EXPECT_EQ(HeaderGradientBottomColor(light), QColor::fromRgbF(175 / 255.0f, 179 / 255.0f, 201 / 255.0f));
    EXPECT_EQ(HeaderTextColor(light), QColor(40, 44, 60));
    EXPECT_EQ(PreviewBackgroundColor(light), QColor::fromRgbF(0.9f, 0.9f, 0.9f));
    EXPECT_EQ(PreviewInkColor(light), QColor(64, 64, 64));
}

// Under a dark palette the outline's bands, headers' titles and preview's caption read; a later theme change is followed.
TEST_F(ThemeColoursTest, OutlineAndPreviewFollowADarkPalette) {
    QApplication::setPalette(DarkPalette());
    auto delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    KSMOutlineView* outline = delegate->window()->configurationCollection;
    PreviewWindow* preview = delegate->previewWindow();
    ASSERT_TRUE(preview);
    ASSERT_TRUE(IsDarkPalette(outline->palette()));

    delegate->SwitchOnOffHeader(kTextWatermarkGroup, true);
    const int header = outline->rowForItem(delegate->configurations()[kTextWatermarkGroup].get());
    for (int row = header; row < header + 3; ++row) {
        const QWidget* rowView = outline->rowViewAtRow(row);
        ExpectReadable(rowView->palette().color(QPalette::WindowText), rowView->palette().color(QPalette::Window));
    }
    EXPECT_NE(outline->rowViewAtRow(header + 1)->palette().color(QPalette::Window),
              outline->rowViewAtRow(header + 2)->palette().color(QPalette::Window));
    auto* headerView = qobject_cast<KSMConfigurationHeaderView*>(outline->viewAtRow(header));
    ASSERT_TRUE(headerView);
    const QColor title = headerView->textField()->palette().color(QPalette::WindowText);
    ExpectReadable(title, HeaderGradientTopColor(headerView->palette()));
    ExpectReadable(title, HeaderGradientBottomColor(headerView->palette()));

    const QColor background = PreviewBackgroundColor(preview->palette());
    ExpectReadable(preview->PreviewStringStaticText->palette().color(QPalette::WindowText), background);
    ExpectReadable(preview->previewCloseButtonOutlet->palette().color(QPalette::ButtonText), background);

    // Back to light with the windows open: the fixed look returns.
    delegate->window()->show();
    preview->show();
    const QString shots = qEnvironmentVariable("VANTRELL_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        preview->setCaption("1 of 3 (photo.png @ 72 dpi, 300 x 200 pixels)");
        preview->setFrameByProgram(QRect(0, 0, 420, 300));
        delegate->window()->grab().save(shots + "/dark-window.png");
        preview->grab().save(shots + "/dark-preview.png");
    }
    QApplication::setPalette(saved);
    QCoreApplication::processEvents();  // the windows learn of it through their event queue
    if (!shots.isEmpty()) {
        delegate->window()->grab().save(shots + "/light-window.png");
        preview->grab().save(shots + "/light-preview.png");
    }
    auto* first = qobject_cast<KSMConfigurationHeaderView*>(outline->viewAtRow(0));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->textField()->palette().color(QPalette::WindowText), QColor(40, 44, 60));
    EXPECT_EQ(preview->PreviewStringStaticText->palette().color(QPalette::WindowText), QColor(64, 64, 64));
    EXPECT_EQ(outline->rowViewAtRow(header + 1)->palette().color(QPalette::Window),
              QColor::fromRgbF(0.91f, 0.91f, 0.91f));
    preview->hide();
    delegate->window()->hide();
}

// A dark theme with the light default placeholder colour: the rename field's placeholder still reads, also after a switch.
TEST_F(ThemeColoursTest, PlaceholdersReadInADarkPalette) {
    QApplication::setPalette(DarkPalette());
    auto delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    delegate->SwitchOnOffHeader(kRenameGroup, true);
    QCoreApplication::processEvents();  // the widgets learn of the palette through their event queue
    const QLineEdit* field = delegate->window()->findChild<QLineEdit*>("fileNameTextField");
    ASSERT_TRUE(field);
    ASSERT_FALSE(field->placeholderText().isEmpty());
    auto expectReadablePlaceholder = [&] {
        const QColor base = field->palette().color(QPalette::Base);
        QColor shown = field->palette().color(QPalette::PlaceholderText);
        const double a = shown.alphaF();
        shown = QColor::fromRgbF(float(shown.redF() * a + base.redF() * (1 - a)),
                                 float(shown.greenF() * a + base.greenF() * (1 - a)),
                                 float(shown.blueF() * a + base.blueF() * (1 - a)));
        EXPECT_GT(std::abs(shown.lightnessF() - base.lightnessF()), 0.25)
            << shown.name().toStdString() << " on " << base.name().toStdString();
    };
    { SCOPED_TRACE("at launch"); expectReadablePlaceholder(); }
    QApplication::setPalette(saved);
    QApplication::setPalette(DarkPalette());
    QCoreApplication::processEvents();
    expectReadablePlaceholder();
    const QString shots = qEnvironmentVariable("VANTRELL_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        delegate->window()->show();
        QCoreApplication::processEvents();
        delegate->window()->grab().save(shots + "/dark-rename.png");
        delegate->window()->hide();
    }
    // A theme's own readable placeholder colour is kept.
    QPalette own = DarkPalette();
    own.setColor(QPalette::PlaceholderText, QColor(160, 160, 120));
    QApplication::setPalette(own);
    QCoreApplication::processEvents();
    EXPECT_EQ(field->palette().color(QPalette::PlaceholderText), QColor(160, 160, 120));
}

}  // namespace
