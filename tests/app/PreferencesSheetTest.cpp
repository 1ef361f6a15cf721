#include "AppTestSupport.h"
#include "PreferenceTestSupport.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/Presets.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DropTargets.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/KSMValidatedViewToolbar.h"
#include "app/ui/MainWindow.h"
#include "app/ui/PreferencesSheet.h"
#include "app/ui/WatermarkControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace key = preset_key;

// One launch of the application on the test's own folders; alerts are
// answered by `answer` and recorded.
struct Launch {
    explicit Launch(int answer = kAlertDefaultReturn) {
        TestApplication();
        SetCustomAlertResponder([this, answer](const CustomAlert& alert) {
            titles.append(alert.title());
            return answer;
        });
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
    }
    ~Launch() { SetCustomAlertResponder(nullptr); }
    // Closing the main window: the general options are written.
    void quit() { emit delegate->mainWindowWillClose(); }
    MainWindow* window() const { return delegate->window(); }
    PreferencesSheet* sheet() const { return delegate->preferencesDialog(); }
    PresetDialog* dialog() const { return delegate->addPresetDialog(); }
    void savePreset(const QString& name) {
        dialog()->PresetNameComboboxOutlet->setEditText(name);
        delegate->SavePresetAction(dialog()->savePresetButton);
    }

    QStringList titles;
    std::unique_ptr<AppDelegate> delegate;
};

std::optional<PrefDictionary> Load(std::string_view format) {
    std::optional<PrefDictionary> file;
    LoadPrefDictionary(&file, format);
    return file;
}

TEST(PreferencesSheet, FirstLaunchWritesTheDefaults) {
    PreferenceFolders folders;
    Launch app;
    PreferencesSheet* sheet = app.sheet();
    EXPECT_TRUE(sheet->mAddRecursiveCheckBoxButton->isChecked());
    EXPECT_TRUE(sheet->maintainDirectoryCheckButton->isChecked());
    EXPECT_FALSE(sheet->overwriteExistingCheckButton->isChecked());
    EXPECT_TRUE(sheet->preserveMetadataCheckButton->isChecked());
    EXPECT_FALSE(sheet->preserveCreatedDateCheckButton->isChecked());
    EXPECT_TRUE(sheet->preserveModifiedDateCheckButton->isChecked());
    EXPECT_FALSE(sheet->preserveModifiedDateCheckButton->isEnabled());
    EXPECT_FALSE(sheet->useAsDestinationFolderCheckBox->isChecked());
    EXPECT_FALSE(sheet->useAsDestinationFolderCheckBox->isEnabled());
    EXPECT_FALSE(sheet->openDestinationButton->isEnabled());
    EXPECT_TRUE(app.delegate->destinationURL().empty());
    // Only the conversion group is on.
    EXPECT_TRUE(app.delegate->configurations()[kConversionGroup]->switchState());
    EXPECT_FALSE(app.delegate->configurations()[kResizeGroup]->switchState());
    // The toolbar's Preferences item works and shows the sheet.
    EXPECT_TRUE(app.window()->preferencesToolbarButton->isEnabled());
    app.window()->preferencesToolbarButton->click();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(app.window()->doNotShowAlertCheckBox->parentWidget()->window(), sheet);
    app.delegate->PreferencesOkAction(nullptr);
    EXPECT_FALSE(sheet->isVisible());

    app.quit();
    const auto file = Load(kGeneralPrefFileFormat);
    ASSERT_TRUE(file);
    EXPECT_EQ(GeneralPreferencesFromDictionary(&*file), GeneralPreferences{});
    EXPECT_TRUE(HasKeyOfType(PlistutilXml(PrefFilePath(kGeneralPrefFileFormat)), "AddRecusrsively", "integer"));
}

TEST(PreferencesSheet, ChoicesSurviveARelaunchAndAMissingFolderIsKeptButUnusable) {
    PreferenceFolders folders;
    const auto destination = folders.data / "out put";
    std::filesystem::create_directories(destination);
    {
        Launch app;
        app.delegate->WatchFolderPathChangeAction(destination, 2);  // another box: ignored
        EXPECT_TRUE(app.delegate->destinationURL().empty());
        app.delegate->WatchFolderPathChangeAction(destination, 1);
        EXPECT_EQ(app.delegate->destinationURL(), destination);
        EXPECT_EQ(app.sheet()->destinationPathTextField->text().toStdString(), destination.string());
        EXPECT_TRUE(app.sheet()->useAsDestinationFolderCheckBox->isEnabled());
        app.sheet()->useAsDestinationFolderCheckBox->click();
        app.window()->findChild<QCheckBox*>("doNotShowPNGOptimizationAlertCheckBox")->click();
        app.sheet()->preserveCreatedDateCheckButton->click();
        EXPECT_TRUE(app.sheet()->preserveModifiedDateCheckButton->isEnabled());
        app.quit();
    }
    {
        Launch app;
        EXPECT_EQ(app.delegate->destinationURL(), destination);
        EXPECT_TRUE(app.sheet()->useAsDestinationFolderCheckBox->isChecked());
        EXPECT_TRUE(app.sheet()->openDestinationButton->isEnabled());
        EXPECT_TRUE(app.delegate->jobOptions()->state().doNotShowPNGOptimizationAlert);
        EXPECT_FALSE(app.window()->doNotShowAlertCheckBox->isChecked());
        EXPECT_TRUE(app.sheet()->preserveCreatedDateCheckButton->isChecked());
        EXPECT_TRUE(app.sheet()->preserveModifiedDateCheckButton->isEnabled());
        EXPECT_EQ(app.delegate->batchSeams().storedDestination(), destination);
    }
    // The drive is gone: the folder cannot be used, but stays stored.
    std::filesystem::remove(destination);
    for (int launch = 0; launch < 2; ++launch) {
        Launch app;
        EXPECT_TRUE(app.delegate->destinationURL().empty());
        EXPECT_TRUE(app.delegate->batchSeams().storedDestination().empty());
        EXPECT_FALSE(app.sheet()->useAsDestinationFolderCheckBox->isEnabled());
        EXPECT_FALSE(app.sheet()->openDestinationButton->isEnabled());
        app.quit();
        const auto file = Load(kGeneralPrefFileFormat);
        ASSERT_TRUE(file);
        EXPECT_TRUE(GeneralPreferencesFromDictionary(&*file).destinationURL);
    }
    std::filesystem::create_directories(destination);
    Launch back;
    EXPECT_EQ(back.delegate->destinationURL(), destination);
}

TEST(PreferencesSheet, AFolderChosenInThePanelOrDroppedOnTheBoxBecomesTheDestination) {
    PreferenceFolders folders;
    const auto chosen = folders.data / "chosen";
    const auto dropped = folders.data / "dropped";
    std::filesystem::create_directories(chosen);
    std::filesystem::create_directories(dropped);
    Launch app;
    app.delegate->PreferencesAction(nullptr);
    app.delegate->SelectDestinationFolder(nullptr);
    auto* panel = app.sheet()->findChild<QFileDialog*>("preferencesDestinationPanel");
    ASSERT_TRUE(panel);
    panel->setDirectory(QString::fromStdString(chosen.string()));
    panel->selectFile(QString::fromStdString(chosen.string()));
    static_cast<QDialog*>(panel)->accept();
    EXPECT_EQ(app.delegate->destinationURL(), chosen);
    EXPECT_TRUE(app.sheet()->openDestinationButton->isEnabled());

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped.string()))});
    app.window()->destinationPathViewCntr->concludeDragOperation(&data);
    EXPECT_EQ(app.delegate->destinationURL(), dropped);
    EXPECT_EQ(app.window()->destinationPathLabel->text().toStdString(), dropped.string());
}

TEST(PreferencesSheet, DamagedOrWronglyTypedGeneralFileGivesDefaults) {
    PreferenceFolders folders;
    std::filesystem::create_directories(PrefFilePath(kGeneralPrefFileFormat).parent_path());
    for (const std::string& contents :
         {std::string("\x00\xff garbage", 10),
          std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>MetaData</key><string>no</string>"
                      "<key>PhotoPresetIndex</key><integer>7</integer><key>DestinationURL</key><string>/x</string>"
                      "</dict></plist>")}) {
        std::ofstream(PrefFilePath(kGeneralPrefFileFormat), std::ios::binary) << contents;
        Launch app;
        EXPECT_TRUE(app.sheet()->preserveMetadataCheckButton->isChecked());
        EXPECT_EQ(app.window()->PhotoPresetPopupButton->currentIndex(), 0);
        EXPECT_TRUE(app.delegate->destinationURL().empty());
    }
}

TEST(PreferencesSheet, DamagedPresetFilesGiveEmptyMenusAndDefaults) {
    PreferenceFolders folders;
    for (const auto format : {kGeneralPrefFileFormat, kResizePrefFileFormat, kWaterMarkPrefFileFormat,
                              kPhotoPrefFileFormat}) {
        std::ofstream(PrefFilePath(format), std::ios::binary) << std::string("bplist00\xd1\x01\x02garbage", 17);
    }
    Launch app;
    EXPECT_EQ(app.window()->optionPanels()->imageDimentionsPopupOutlet->count(), JobOptionsModel::kFirstResizePresetIndex);
    EXPECT_EQ(app.window()->watermarkControls()->waterMarkPresetPopupOutlet->count(), 1);
    EXPECT_EQ(app.window()->PhotoPresetPopupButton->count(), 1);
    EXPECT_TRUE(app.sheet()->maintainDirectoryCheckButton->isChecked());
}

TEST(PreferencesSheet, FailedSavesAreReported) {
    PreferenceFolders folders;
    Launch app;
    // The configuration folder cannot be made: a file stands in its place.
    const auto blocker = folders.config.parent_path() / "blocker";
    std::ofstream(blocker) << "x";
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(blocker.string()));
    app.delegate->AddPhotoPresetAction(nullptr);
    app.savePreset("Lost");
    EXPECT_EQ(app.titles, QStringList{"The presets could not be saved, so “Lost” was not changed."});
    EXPECT_EQ(app.window()->PhotoPresetPopupButton->findText("Lost"), -1);
    EXPECT_FALSE(std::filesystem::exists(WatermarkImageFolder() / "watermark_image1"));
    app.quit();
    ASSERT_EQ(app.titles.size(), 2);
    EXPECT_EQ(app.titles.last(), "The preferences could not be saved.");
}

// A preset file that reads but whose XML form the reader would refuse: the
// save is refused and reported, and the file stays as it was.
TEST(PreferencesSheet, PresetsTooLargeToReadBackAreNotSavedAndTheFileStays) {
    PreferenceFolders folders;
    const std::string original = SharedDataPresetFile();
    std::ofstream(PrefFilePath(kPhotoPrefFileFormat), std::ios::binary) << original;
    ASSERT_TRUE(Load(kPhotoPrefFileFormat));
    Launch app;
    app.delegate->AddPhotoPresetAction(nullptr);
    app.savePreset("New");
    EXPECT_EQ(app.titles, QStringList{"The presets could not be saved, so “New” was not changed."});
    EXPECT_EQ(app.window()->PhotoPresetPopupButton->findText("New"), -1);
    std::ifstream in(PrefFilePath(kPhotoPrefFileFormat), std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) == original);
    ASSERT_TRUE(Load(kPhotoPrefFileFormat));
    EXPECT_TRUE(Load(kPhotoPrefFileFormat)->contains("Big"));
}

TEST(PreferencesSheet, OverwriteAsksAndTheDefaultAnswerKeepsItOff) {
    PreferenceFolders folders;
    for (const auto& [answer, stays] : {std::pair{kAlertDefaultReturn, false}, {kAlertAlternateReturn, true}}) {
        Launch app(answer);
        app.sheet()->overwriteExistingCheckButton->click();
        EXPECT_EQ(app.titles, QStringList{"Overwrite existing files?"});
        EXPECT_EQ(app.sheet()->overwriteExistingCheckButton->isChecked(), stays);
        EXPECT_EQ(app.delegate->jobOptions()->state().general.overwriteExisting, stays);
        if (stays) {
            app.sheet()->overwriteExistingCheckButton->click();  // off: no question
            EXPECT_EQ(app.titles.size(), 1);
            EXPECT_FALSE(app.delegate->jobOptions()->state().general.overwriteExisting);
        }
    }
}

// The sheet opens with the focus on "Choose…", not in the read-only path
// field, each time it opens.
TEST(PreferencesSheet, OpensWithTheFocusOnTheFirstControlThatActs) {
    PreferenceFolders folders;
    Launch app;
    app.window()->show();
    for (int round = 0; round < 2; ++round) {
        app.delegate->PreferencesAction(nullptr);
        QCoreApplication::processEvents();
        EXPECT_EQ(app.sheet()->focusWidget(), app.sheet()->selectDestinationButton) << round;
        app.sheet()->preserveMetadataCheckButton->setFocus();
        app.delegate->PreferencesOkAction(nullptr);
    }
}

TEST(Presets, ResizePresetsSaveSortReplaceAndRemoveWithJobReferences) {
    PreferenceFolders folders;
    {
        Launch app;
        JobOptionsModel* options = app.delegate->jobOptions();
        app.delegate->SwitchOnOffHeader(kResizeGroup, true);
        options->changeImageDimentionPopupAction(4, true);  // 800 x 600 pixels
        app.delegate->AddPresetAction(nullptr);
        const QString unit = app.window()->optionPanels()->sizeFormatTypePopupButton->currentText();
        EXPECT_EQ(app.dialog()->PresetNameComboboxOutlet->currentText(), "800 x 600 (" + unit + ")");
        // Built-in titles are refused, empty names too.
        app.savePreset(app.window()->optionPanels()->imageDimentionsPopupOutlet->itemText(4));
        app.savePreset("");
        EXPECT_EQ(app.titles.size(), 2);
        for (const char* name : {"A", "B", "C"}) {
            app.delegate->AddPresetAction(nullptr);
            app.savePreset(name);
        }
        QComboBox* menu = app.window()->optionPanels()->imageDimentionsPopupOutlet;
        EXPECT_EQ(menu->itemText(12), "B");
        EXPECT_EQ(options->state().dimensionIndex, 13);
        // A job preset that uses B.
        options->changeImageDimentionPopupAction(12, true);
        app.delegate->AddPhotoPresetAction(nullptr);
        EXPECT_EQ(app.dialog()->PresetNameComboboxOutlet->currentText(), "New Preset");
        app.savePreset("Job");
        // Replacing keeps the place; removing B renumbers C and the job.
        app.delegate->AddPresetAction(nullptr);
        app.savePreset("A");
        EXPECT_EQ(menu->itemText(11), "A");
        app.delegate->AddPresetAction(nullptr);
        app.dialog()->PresetNameComboboxOutlet->setEditText("B");
        app.delegate->RemovePresetAction(nullptr);
        EXPECT_EQ(menu->count(), 13);
        EXPECT_EQ(menu->itemText(12), "C");
        app.delegate->CancelPresetButtonAction(nullptr);
        // The job preset chosen last is applied at the next launch.
        QComboBox* jobs = app.window()->PhotoPresetPopupButton;
        jobs->setCurrentIndex(jobs->findText("Job"));
        app.delegate->PhotoPresetChangeAction(jobs);
        app.quit();
    }
    const auto resize = Load(kResizePrefFileFormat);
    ASSERT_TRUE(resize);
    EXPECT_EQ(PrefInteger(PrefSubDictionary(&*resize, "C"), key::kPresetIndex), 1);
    EXPECT_EQ(PrefInteger(PrefSubDictionary(&*resize, "A"), key::kPresetIndex), 0);
    const auto jobs = Load(kPhotoPrefFileFormat);
    ASSERT_TRUE(jobs);
    EXPECT_EQ(PrefInteger(PrefSubDictionary(&*jobs, "Job"), key::kResizePresetIndex), 0);

    // Relaunch: the menu lists the presets by index; the job applies its own values.
    Launch app;
    QComboBox* menu = app.window()->optionPanels()->imageDimentionsPopupOutlet;
    EXPECT_EQ(menu->itemText(11), "A");
    EXPECT_EQ(menu->itemText(12), "C");
    EXPECT_EQ(app.window()->PhotoPresetPopupButton->currentText(), "Job");
    EXPECT_TRUE(app.delegate->configurations()[kResizeGroup]->switchState());
    EXPECT_EQ(app.delegate->jobOptions()->state().widthText, "800");
}

TEST(Presets, JobPresetStoresItsImageAndApplyingAnUnreadableOneClearsTheWell) {
    PreferenceFolders folders;
    Launch app;
    std::filesystem::create_directories(folders.data);
    QImage logo(16, 16, QImage::Format_RGBA8888);
    logo.fill(QColor(0, 0, 255, 128));
    const auto logoPath = folders.data / "logo.png";
    ASSERT_TRUE(logo.save(QString::fromStdString(logoPath.string())));
    WatermarkEditorModel* editor = app.delegate->watermarkModel();
    editor->setWatermarkImage(LoadWatermarkImage(logoPath));
    app.delegate->SwitchOnOffHeader(kImageWatermarkGroup, true);
    app.delegate->AddPhotoPresetAction(nullptr);
    app.savePreset("With logo");
    const auto stored = WatermarkImageFolder() / "watermark_image1";
    ASSERT_TRUE(std::filesystem::exists(stored));

    // Replacing stores a new image and removes the old one after the save.
    app.delegate->AddPhotoPresetAction(nullptr);
    app.savePreset("With logo");
    EXPECT_FALSE(std::filesystem::exists(stored));
    const auto replaced = WatermarkImageFolder() / "watermark_image2";
    EXPECT_TRUE(std::filesystem::exists(replaced));
    auto jobs = Load(kPhotoPrefFileFormat);
    const QString xml = PlistutilXml(PrefFilePath(kPhotoPrefFileFormat));
    for (const auto& [name, type] :
         {std::pair{"TextWatermarkPresetIndex", "integer"}, {"ResizePresetIndex", "integer"}, {"ImageType", "integer"},
          {"ImageQuality", "real"}, {"ConversionState", "true"}, {"NameType", "integer"}, {"RenameState", "false"},
          {"OptimizationType", "integer"}, {"OptimizationState", "false"}, {"ImagePath", "string"},
          {"ImageOpacity", "real"}, {"ImageSize", "real"}, {"ImageCenter", "array"}, {"ImagewatermarkState", "true"},
          {"PhotoPresetIndex", "integer"}, {"textFontName", "data"}, {"TextCenter", "array"}}) {
        EXPECT_TRUE(HasKeyOfType(xml, name, type)) << name;
    }

    // Another preset without an image, then back to one whose file is gone.
    editor->setWatermarkImage(nullptr);
    app.delegate->AddPhotoPresetAction(nullptr);
    app.savePreset("Plain");
    editor->setWatermarkImage(LoadWatermarkImage(logoPath));
    std::filesystem::remove(replaced);
    app.delegate->ChangeAndSetPhotoPrefOptions("With logo");
    EXPECT_FALSE(editor->watermarkImage());
    EXPECT_TRUE(app.delegate->configurations()[kImageWatermarkGroup]->switchState());
    // A name that is not stored gives the defaults with only conversion on.
    app.delegate->ChangeAndSetPhotoPrefOptions("Nothing");
    EXPECT_FALSE(app.delegate->configurations()[kImageWatermarkGroup]->switchState());
    EXPECT_TRUE(app.delegate->configurations()[kConversionGroup]->switchState());

    // Removing the job preset removes its (missing) image quietly.
    app.delegate->AddPhotoPresetAction(nullptr);
    app.dialog()->PresetNameComboboxOutlet->setEditText("With logo");
    app.delegate->RemovePresetAction(nullptr);
    EXPECT_EQ(app.window()->PhotoPresetPopupButton->findText("With logo"), -1);
}

TEST(Presets, JobPresetsUseBuiltInSizesAndReferencesBeyondTheMenuCountAsNone) {
    PreferenceFolders folders;
    PrefDictionary jobs;
    PrefDictionary builtIn{{"ResizePresetIndex", plat::PlistValue(4)}, {"ResizeState", plat::PlistValue(true)}};
    InsertPreset(jobs, "Screen", builtIn, PresetKind::Photo);
    PrefDictionary beyond{{"ResizePresetIndex", plat::PlistValue(40)}, {"InputType", plat::PlistValue(kUnitPixels)},
                          {"ScaleOption", plat::PlistValue(0)}, {"Width", plat::PlistValue("640")},
                          {"TextWatermarkPresetIndex", plat::PlistValue(-3)}};
    InsertPreset(jobs, "Stale", beyond, PresetKind::Photo);
    ASSERT_TRUE(SavePrefDictionary(jobs, kPhotoPrefFileFormat));
    Launch app;
    app.delegate->ChangeAndSetPhotoPrefOptions("Screen");
    const JobOptionState& state = app.delegate->jobOptions()->state();
    EXPECT_EQ(state.dimensionIndex, 4);
    EXPECT_EQ(state.unit, kUnitPixels);
    EXPECT_EQ(state.widthText, "800");
    EXPECT_EQ(state.heightText, "600");
    EXPECT_TRUE(app.delegate->configurations()[kResizeGroup]->switchState());
    app.delegate->ChangeAndSetPhotoPrefOptions("Stale");
    EXPECT_EQ(app.delegate->jobOptions()->state().dimensionIndex, 0);
    EXPECT_EQ(app.delegate->jobOptions()->state().widthText, "640");
    EXPECT_EQ(app.window()->watermarkControls()->waterMarkPresetPopupOutlet->currentIndex(), 0);
}

TEST(Presets, WatermarkPresetsApplyFromTheMenu) {
    PreferenceFolders folders;
    Launch app;
    WatermarkEditorModel* editor = app.delegate->watermarkModel();
    editor->setTextString("Proof");
    editor->setTextFontSize(64);
    app.delegate->AddWaterMarkPresetAction(nullptr);
    EXPECT_EQ(app.dialog()->PresetNameComboboxOutlet->currentText(), "Proof");
    app.savePreset("Proof");
    editor->InitializeWatermarkOptions();
    QComboBox* menu = app.window()->watermarkControls()->waterMarkPresetPopupOutlet;
    menu->setCurrentIndex(menu->findText("Proof"));
    app.delegate->changewaterMarkPresetPopupAction(menu);
    EXPECT_EQ(editor->textString(), "Proof");
    EXPECT_EQ(editor->textFontSize(), 64);
    app.delegate->AddWaterMarkPresetAction(nullptr);
    app.dialog()->PresetNameComboboxOutlet->setEditText("Unknown");
    app.delegate->RemovePresetAction(nullptr);
    EXPECT_EQ(app.titles.last(), "There is no preset named “Unknown”.");
}

TEST(Presets, WatermarkPlacementsGoIntoTheSelectedPresetsByTag) {
    PreferenceFolders folders;
    Launch app;
    app.delegate->AddPhotoPresetAction(nullptr);
    app.savePreset("Job");
    QComboBox* jobs = app.window()->PhotoPresetPopupButton;
    const std::array<float, 6> text{1.5f, 2.5f, 3, 4, 550, 300};
    const std::array<float, 6> image{5, 6, 7, 8, 550, 300};
    // Items carry tag 0: nothing is written.
    app.delegate->ReadWriteWatermarkCenter(text, image);
    auto stored = Load(kPhotoPrefFileFormat);
    const auto* before = PrefSubDictionary(&*stored, "Job");
    ASSERT_TRUE(before);
    EXPECT_NE(before->at("TextCenter").get<plat::PlistValue::Array>()->front().asReal(), 1.5);
    // A job item with a tag: both placements replace the preset's.
    jobs->setItemData(jobs->findText("Job"), 5);
    app.delegate->ReadWriteWatermarkCenter(text, image);
    stored = Load(kPhotoPrefFileFormat);
    const auto* after = PrefSubDictionary(&*stored, "Job");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->at("TextCenter").get<plat::PlistValue::Array>()->front().asReal(), 1.5);
    EXPECT_EQ(after->at("ImageCenter").get<plat::PlistValue::Array>()->at(5).asReal(), 300.0);
}

TEST(PreferencesSheet, Screenshot) {
    PreferenceFolders folders;
    Launch app;
    std::filesystem::create_directories(folders.data / "Pictures");
    app.delegate->SetDestinationURL(folders.data / "Pictures");
    app.delegate->PreferencesAction(nullptr);
    PreferencesSheet* sheet = app.sheet();
    sheet->adjustSize();
    for (QWidget* child : sheet->findChildren<QWidget*>()) {
        if (!child->isVisible()) continue;
        // Nothing clipped: every visible control gets at least the size it asks for.
        if (qobject_cast<QCheckBox*>(child) || qobject_cast<QPushButton*>(child)) {
            EXPECT_GE(child->width(), child->minimumSizeHint().width()) << child->objectName().toStdString();
        }
    }
    const QString out = qEnvironmentVariable("VANTRELL_SCREENSHOT_DIR");
    if (!out.isEmpty()) {
        sheet->grab().save(out + "/preferences.png");
        app.delegate->AddPhotoPresetAction(nullptr);
        app.dialog()->adjustSize();
        app.dialog()->grab().save(out + "/preset-dialog.png");
        app.window()->resize(1280, 800);
        app.window()->show();
        app.window()->PhotoPresetPopupButton->parentWidget()->grab().save(out + "/settings-panel.png");
    }
}

}  // namespace
