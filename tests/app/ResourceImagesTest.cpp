#include "AppTestSupport.h"

#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DesktopOpener.h"
#include "app/ui/MainWindow.h"
#include "app/ui/PreviewWindow.h"
#include "app/ui/ResourceImages.h"
#include "app/ui/SegmentedControl.h"
#include "platform/Bundle.h"
#include "platform/PropertyList.h"

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMimeDatabase>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

namespace {

const char* const kTemplateImages[] = {"Add",        "Remove",      "RemoveAll",      "Convert",      "ConvertAll",
                                       "Rating",     "Help",        "Preferences",    "RotateLeft",   "RotateRight",
                                       "FlipHorizontal", "FlipVertical", "EmptyImage", "DropImage"};

// Pixels of the image that are drawn at all, and whether every one of them
// has the given colour.
std::pair<int, bool> DrawnPixels(const QImage& image, const QColor& colour) {
    int drawn = 0;
    bool sameColour = true;
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x) {
            const QColor pixel = pixels.pixelColor(x, y);
            if (pixel.alpha() == 0) continue;
            ++drawn;
            if (pixel.alpha() == 255 && pixel.rgb() != colour.rgb()) sameColour = false;
        }
    }
    return {drawn, sameColour};
}

TEST(ResourceImages, EveryTemplateImageDrawsInTheGivenColourAtAnySize) {
    TestApplication();
    for (const char* name : kTemplateImages) {
        SCOPED_TRACE(name);
        const QIcon icon = TemplateImage(QLatin1String(name));
        ASSERT_FALSE(icon.isNull());
        // Drawn at the device's pixels, so fractional scales stay sharp.
        const QPixmap scaled = icon.pixmap(QSize(24, 24), 1.5);
        EXPECT_EQ(scaled.size(), QSize(36, 36));
        EXPECT_DOUBLE_EQ(scaled.devicePixelRatio(), 1.5);
        const auto [drawnInk, inkOnly] =
            DrawnPixels(TemplateImage(QLatin1String(name), Qt::blue).pixmap(QSize(24, 24), 1.0).toImage(), Qt::blue);
        EXPECT_GT(drawnInk, 24);
        EXPECT_TRUE(inkOnly);
        const std::pair<int, double> sizes[] = {{12, 1.0}, {24, 1.0}, {24, 1.5}, {96, 2.0}};
        for (const auto& [side, ratio] : sizes) {
            const QPixmap pixmap = TemplatePixmap(QLatin1String(name), QSize(side, side), Qt::red, ratio);
            ASSERT_EQ(pixmap.width(), int(side * ratio));
            const auto [drawn, sameColour] = DrawnPixels(pixmap.toImage(), Qt::red);
            EXPECT_GT(drawn, side * ratio * side * ratio / 40);  // a shape, not a speck
            EXPECT_TRUE(sameColour);
        }
    }
    EXPECT_TRUE(TemplateImage(QStringLiteral("NoSuchImage")).isNull());
    EXPECT_TRUE(TemplatePixmap(QStringLiteral("../Add"), QSize(24, 24), Qt::red, 1.0).isNull());
    const QIcon application = ApplicationIcon();
    ASSERT_FALSE(application.isNull());
    EXPECT_EQ(application.pixmap(256).width(), 256);
}

TEST(ResourceImages, LaunchPutsTheImagesOnTheirControls) {
    TestApplication();
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    MainWindow* w = delegate.window();
    for (QToolButton* button : {w->addImageToolbarButton, w->removeToolbarButton, w->removeAllToolbarButton,
                                w->convertToolbarButton, w->convertAllToolbarButton, w->ratingToolbarButton,
                                w->infoToolbarButton, w->preferencesToolbarButton}) {
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_FALSE(button->icon().isNull());
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_FALSE(button->text().isEmpty());
    }
    for (SegmentedControl* control : {w->rotateSegmentedOutlet, w->flipSegmentedOutlet}) {
        for (int segment = 0; segment < 2; ++segment) {
            EXPECT_FALSE(control->segment(segment)->icon().isNull());
            // Icon only, still named for screen readers.
            EXPECT_FALSE(control->segment(segment)->accessibleName().isEmpty());
        }
    }
    PreviewWindow* preview = delegate.previewWindow();
    ASSERT_NE(preview, nullptr);
    for (QToolButton* button : {preview->fullScreenPreviewToggleButton, preview->previewCloseButtonOutlet}) {
        EXPECT_FALSE(button->icon().isNull());
        EXPECT_EQ(button->iconSize(), QSize(12, 12));
    }
    preview->show();
    preview->previewCloseButtonOutlet->click();
    EXPECT_FALSE(preview->isVisible());
}

// Informational and warning alerts show the application's icon; a critical
// one the error sign.
TEST(ResourceImages, AlertsShowTheApplicationIconUnlessCritical) {
    TestApplication();
    SetCustomAlertsClosing(false);
    const std::pair<std::uint64_t, bool> cases[] = {{0, true}, {1, true}, {2, false}};
    for (const auto& [style, applicationIcon] : cases) {
        bool shown = false;
        SetCustomAlertPresentedHook([&, expectApplicationIcon = applicationIcon](QDialog& dialog) {
            auto* icon = dialog.findChild<QLabel*>(QStringLiteral("iconLabel"));
            ASSERT_NE(icon, nullptr);
            const QImage shownIcon = icon->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
            const QImage application =
                ApplicationIcon().pixmap(icon->pixmap().size()).toImage().convertToFormat(QImage::Format_ARGB32);
            EXPECT_EQ(shownIcon == application, expectApplicationIcon);
            shown = true;
            dialog.findChild<QPushButton*>(QStringLiteral("defaultButton"))->click();
        });
        CustomAlert alert(QStringLiteral("Title"), QStringLiteral("Message"), QStringLiteral("OK"), QString(),
                          QString());
        alert.setAlertStyle(style);
        alert.showModalAlert();
        EXPECT_TRUE(shown) << style;
    }
    SetCustomAlertPresentedHook(nullptr);
}

// A fake xdg-open alone on the search path (none: not installed), for one scope.
struct FakeXdgOpen {
    explicit FakeXdgOpen(const char* script) {
        QFile tool(bin.filePath(QStringLiteral("xdg-open")));
        if (script && tool.open(QIODevice::WriteOnly)) {
            tool.write(script);
            tool.close();
            tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        }
        qputenv("PATH", bin.path().toLocal8Bit());
    }
    ~FakeXdgOpen() { qputenv("PATH", path); }

    QByteArray path = qgetenv("PATH");
    QTemporaryDir bin;
};

class UserManualTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        previous_ = qgetenv("VANTRELL_RESOURCES");
        // The strings stay readable: the folder holds a copy of the table,
        // which is the one in use whatever other tests of this process set.
        const QString table = folder_.filePath(QStringLiteral("Localizable.plist"));
        ASSERT_TRUE(QFile::copy(QString::fromLocal8Bit(previous_) + "/Localizable.plist", table));
        ASSERT_TRUE(StringTable::load(QFile::encodeName(table).toStdString()));
        qputenv("VANTRELL_RESOURCES", folder_.path().toLocal8Bit());
        SetCustomAlertResponder([this](const CustomAlert& alert) {
            alerts_.push_back(alert.message());
            return kAlertDefaultReturn;
        });
    }
    void TearDown() override {
        SetCustomAlertResponder(nullptr);
        qputenv("VANTRELL_RESOURCES", previous_);
    }

    QByteArray previous_;
    QTemporaryDir folder_;
    std::vector<QString> alerts_;
};

TEST_F(UserManualTest, HelpOpensTheManualOrSaysWhereItLooked) {
    AppDelegate delegate;
    std::vector<QUrl> opened;
    bool viewerAnswers = true;
    delegate.openURL = [&](const QUrl& url) {
        opened.push_back(url);
        return viewerAnswers;
    };
    delegate.UserManualHelpAction(nullptr);
    EXPECT_TRUE(opened.empty());
    ASSERT_EQ(alerts_.size(), 1u);
    EXPECT_TRUE(alerts_[0].contains(folder_.path())) << alerts_[0].toStdString();

    const QString manual = folder_.filePath(QStringLiteral("Vantrell User Manual.pdf"));
    QFile file(manual);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n");
    file.close();
    delegate.UserManualHelpAction(nullptr);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(manual));
    EXPECT_EQ(alerts_.size(), 1u);

    viewerAnswers = false;  // no PDF viewer installed
    delegate.UserManualHelpAction(nullptr);
    ASSERT_EQ(alerts_.size(), 2u);
    EXPECT_TRUE(alerts_[1].contains(manual));

    // Through xdg-open, which starts, then ends with 3: no application for PDF files.
    FakeXdgOpen tool("#!/bin/sh\nexit 3\n");
    delegate.openURL = nullptr;
    delegate.UserManualHelpAction(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return alerts_.size() == 3; }));
    EXPECT_TRUE(alerts_[2].contains(manual)) << alerts_[2].toStdString();
}

// xdg-open starts at once but says only when it ends whether anything opened
// the file; every way it can fail counts as not opened.
TEST(DesktopOpener, TellsWhetherXdgOpenFoundAnApplication) {
    TestApplication();
    const QString document = QCoreApplication::applicationFilePath();  // any file there is
    const std::pair<const char*, bool> cases[] = {
        {"#!/bin/sh\necho \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n", false},
        {"#!/bin/sh\nexit 4\n", false},
        {"#!/bin/sh\nkill -9 $$\n", false},
        {nullptr, false},
        {"#!/bin/sh\n[ -f \"$1\" ] || exit 2\nexit 0\n", true},
    };
    for (const auto& [script, opened] : cases) {
        SCOPED_TRACE(script ? script : "no xdg-open");
        FakeXdgOpen tool(script);
        QObject context;
        std::optional<bool> answer;
        OpenWithDesktopApplication(QUrl::fromLocalFile(document), &context, [&](bool ok) { answer = ok; });
        ASSERT_TRUE(WaitUntil([&] { return answer.has_value(); }));
        EXPECT_EQ(*answer, opened);
    }
}

// The desktop entry offers the application every image type the add filter
// takes by extension (those the desktop's MIME database knows).
TEST(DesktopEntry, OffersTheTypesTheAddFilterTakes) {
    TestApplication();
    const auto entryPath = plat::Bundle::pathForResource("org.vantrell.Vantrell", "desktop");
    ASSERT_FALSE(entryPath.empty());
    QFile file(QFile::decodeName(entryPath.c_str()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    std::map<QString, QString> entry;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0) entry[line.left(equals)] = line.mid(equals + 1);
    }
    const QStringList offered = entry[QStringLiteral("MimeType")].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    EXPECT_EQ(entry[QStringLiteral("Exec")], QStringLiteral("vantrell %F"));
    EXPECT_EQ(entry[QStringLiteral("Icon")], QStringLiteral("org.vantrell.Vantrell"));

    const auto list = plat::PropertyList::readFile(plat::Bundle::pathForResource("ImageTypes", "plist"));
    ASSERT_TRUE(list && list->get<plat::PlistValue::Array>());
    const QMimeDatabase database;
    int checked = 0;
    for (const plat::PlistValue& value : *list->get<plat::PlistValue::Array>()) {
        const auto extension = value.asString();
        if (!extension || extension->empty() || extension->front() == '\'') continue;  // type codes
        const QMimeType type = database.mimeTypeForFile(QStringLiteral("x.") + QString::fromStdString(*extension),
                                                        QMimeDatabase::MatchExtension);
        if (type.isDefault() || !type.name().startsWith(QLatin1String("image/"))) continue;
        ++checked;
        const bool listed = std::any_of(offered.begin(), offered.end(),
                                        [&](const QString& name) { return type.name() == name || type.inherits(name); });
        EXPECT_TRUE(listed) << *extension << " " << type.name().toStdString();
    }
    EXPECT_GT(checked, 20);
}

}  // namespace
