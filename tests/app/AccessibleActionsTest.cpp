// Every check box, switch and toggle button of the window and the preferences
// worked as screen readers and switch access do it (AT-SPI's "Toggle" and
// "Press"), and the names they read for the split view and settings column.
#include "engine/ConverterTestSupport.h"  // GLib through libvips: before Qt

#include "AppTestSupport.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/KSMConfigurationHeaderView.h"
#include "app/ui/KSMOutlineView.h"
#include "app/ui/MainWindow.h"
#include "app/ui/OnOffSwitchControl.h"
#include "app/ui/PreferencesSheet.h"
#include "app/ui/PreviewWindow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;

// What the application holds for one control: the value its state stands for.
using ModelValue = std::function<bool()>;

class AccessibleActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        plat::Initialize();
        LoadApplicationStringTable();
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        // One photo in the list, so that the preview has something to show.
        const fs::path photo = dir / "photo.jpg";
        ASSERT_TRUE(convtest::WriteImage(photo, convtest::MarkedImage(64, 48, 8), "public.jpeg"));
        BatchSeams& seams = delegate->batchSeams();
        seams.rowCount = [] { return std::int64_t(1); };
        seams.selectedRows = [] { return std::vector<std::int64_t>{0}; };
        seams.rowAt = [photo](std::int64_t row) { return row ? std::nullopt : std::optional(BatchRow{photo, {}, 0.0, 0}); };
        seams.previewFolder = [this] { return dir / "preview"; };
        fs::create_directories(dir / "preview");
        delegate->SetConversionButtonEnable(true);
        // "Overwrite existing files" asks first: the user agrees.
        SetCustomAlertResponder([](const CustomAlert&) { return kAlertAlternateReturn; });
        // The destination box is usable only with a destination folder.
        delegate->SetDestinationURL(dir.path());
    }
    void TearDown() override {
        delegate->StopPreviews();
        delegate.reset();
        SetCustomAlertResponder(nullptr);
    }

    MainWindow& window() { return *delegate->window(); }
    const JobOptionState& options() { return delegate->jobOptions()->state(); }

    // The model value behind each checkable control, by object name; the
    // group switches are looked up by their group.
    std::map<QString, ModelValue> modelValues() {
        return {
            {"upsampleImageCheckButton", [this] { return options().upsample; }},
            {"sharpenImageCheckButton", [this] { return options().sharpen; }},
            {"resolutionCheckBox", [this] { return options().resolutionOn; }},
            {"dropShadowCheckBoxOutlet", [this] { return delegate->watermarkModel()->isDropShadowApplied(); }},
            {"previewButtonOutlet", [this] { return delegate->previewWindow()->isVisible(); }},
            {"mAddRecursiveCheckBoxButton", [this] { return options().general.addFoldersRecursively; }},
            {"maintainDirectoryCheckButton", [this] { return options().general.maintainDirectory; }},
            {"overwriteExistingCheckButton", [this] { return options().general.overwriteExisting; }},
            {"preserveMetadataCheckButton", [this] { return options().general.preserveMetadata; }},
            {"preserveCreatedDateCheckButton", [this] { return options().general.preserveCreationDate; }},
            {"preserveModifiedDateCheckButton", [this] { return options().general.preserveModifiedDate; }},
            {"useAsDestinationFolderCheckBox", [this] { return options().general.useAsDestinationFolder; }},
            {"doNotShowPNGOptimizationAlertCheckBox", [this] { return options().doNotShowPNGOptimizationAlert; }},
            // The report's box is its own store: the preferences file reads it.
            {"doNotShowAlertCheckBox", [this] { return window().doNotShowAlertCheckBox->isChecked(); }},
        };
    }

    // A group's switch stands for the group being on and open.
    ModelValue groupValue(const OnOffSwitchControl* control) {
        const int index = control->property("groupIndex").toInt();
        return [this, index] {
            const auto& group = delegate->configurations()[std::size_t(index)];
            return group->switchState() && window().configurationCollection->isItemExpanded(group.get());
        };
    }

    // The header switches of the outline as it stands now.
    std::vector<OnOffSwitchControl*> switches() {
        std::vector<OnOffSwitchControl*> found;
        KSMOutlineView* outline = window().configurationCollection;
        for (const auto& group : delegate->configurations()) {
            auto* header = qobject_cast<KSMConfigurationHeaderView*>(outline->viewAtRow(outline->rowForItem(group.get())));
            if (header) found.push_back(header->onOffSwitchButtonOutlet());
        }
        return found;
    }

    convtest::ScratchDir dir;
    std::unique_ptr<AppDelegate> delegate;
};

// Toggle, then Press (an animated click that ends a moment later), as AT-SPI's
// DoAction runs them: each flips the control, and the model follows. The
// control is left as it was.
void WorkThroughAccessibleActions(QAbstractButton* button, const ModelValue& model, const std::string& name) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(button->isEnabled());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    QAccessibleActionInterface* actions = accessible ? accessible->actionInterface() : nullptr;
    ASSERT_TRUE(actions);
    EXPECT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty());
    const bool before = button->isChecked();
    ASSERT_EQ(model(), before);

    QPointer<QAbstractButton> guard(button);
    actions->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(guard);
    EXPECT_EQ(button->isChecked(), !before);
    EXPECT_EQ(model(), !before);

    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(WaitUntil([&] { return !guard || guard->isChecked() == before; }));
    ASSERT_TRUE(guard);
    EXPECT_EQ(model(), before);
}

// Code that shows the model's values leaves the controls' state signals
// unheard (a preset or a refresh is no user change); Toggle, then Press, work
// every control, and the model follows each.
TEST_F(AccessibleActionsTest, CodeSetsEveryCheckableControlSilentlyToggleAndPressWorkIt) {
    QSignalSpy tail(delegate.get(), &AppDelegate::globalPresetOptionChanged);
    // Modification dates can be kept only while creation dates are.
    JobOptionState state = options();
    state.upsample = state.general.preserveMetadata = state.general.preserveCreationDate = true;
    delegate->jobOptions()->setState(state);
    window().show();
    delegate->PreferencesAction(nullptr);
    for (int group = kOptimizationGroup; group <= kImageWatermarkGroup; ++group) delegate->SwitchOnOffHeader(group, true);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window().optionPanels()->upsampleImageCheckButton->isChecked());
    EXPECT_TRUE(delegate->preferencesDialog()->preserveMetadataCheckButton->isChecked());
    EXPECT_EQ(tail.count(), 0);
    for (OnOffSwitchControl* control : switches()) EXPECT_EQ(control->state(), OnOffSwitchControlCell::On);

    // The group switches (Convert cannot be switched), each left on, so the
    // controls inside can be worked.
    int switched = 0;
    for (OnOffSwitchControl* control : switches()) {
        if (!control->isEnabled()) continue;
        WorkThroughAccessibleActions(control, groupValue(control), control->text().toStdString());
        ++switched;
    }
    EXPECT_EQ(switched, 5);
    QCoreApplication::processEvents();

    // Every other checkable control of the window and its sheets.
    const std::map<QString, ModelValue> values = modelValues();
    std::set<QString> worked;
    for (QAbstractButton* button : window().findChildren<QAbstractButton*>()) {
        if (!button->isCheckable() || qobject_cast<OnOffSwitchControl*>(button)) continue;
        // The toolbar's overflow button belongs to Qt: it only opens a menu.
        if (button->inherits("QToolBarExtension")) continue;
        const std::string name = button->objectName().toStdString();
        const auto value = values.find(button->objectName());
        ASSERT_NE(value, values.end()) << "a checkable control the test does not know: " << name;
        WorkThroughAccessibleActions(button, value->second, name);
        worked.insert(value->first);
    }
    EXPECT_EQ(worked.size(), values.size());
}

// The split view, its dividers and the settings column's scroll bar carry
// names for assistive tools.
TEST_F(AccessibleActionsTest, SplitViewAndSettingsScrollBarAreNamed) {
    auto* splitter = window().findChild<QSplitter*>("mainSplitView");
    ASSERT_TRUE(splitter);
    std::vector<QObject*> named = {splitter, window().configurationCollection->verticalScrollBar()};
    for (int i = 0; i < splitter->count(); ++i) named.push_back(splitter->handle(i));
    std::set<QString> names;
    for (QObject* object : named) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
        ASSERT_TRUE(accessible);
        const QString name = accessible->text(QAccessible::Name);
        EXPECT_FALSE(name.isEmpty()) << object->metaObject()->className();
        names.insert(name);
    }
    EXPECT_EQ(names.size(), named.size());  // each tells which one it is
    EXPECT_EQ(splitter->handle(1)->accessibleName(), "Divider between Images and Current image");
}

}  // namespace
