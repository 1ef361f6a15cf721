#include "AppTestSupport.h"

#include "app/model/ToolbarEnableTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/KSMValidatedViewToolbar.h"
#include "app/ui/MainWindow.h"
#include "app/ui/SegmentedControl.h"

#include <QMainWindow>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class ActionTarget : public QObject {
    Q_OBJECT
public:
    int performed = 0;
    QObject* lastSender = nullptr;
public slots:
    void DoIt(QObject* sender) {
        ++performed;
        lastSender = sender;
    }
};

class ValidatingTarget : public ActionTarget {
    Q_OBJECT
public:
    bool answer = false;
public slots:
    bool validateToolbarItem(KSMValidatedViewToolbarItem*) { return answer; }
};

struct ToolbarFixture {
    ToolbarFixture() {
        toolbar = new KSMValidatedViewToolbar("tools", &window);
        window.addToolBar(toolbar);
    }
    KSMValidatedViewToolbarItem* add(const char* name, QWidget* view, QObject* target, const char* action) {
        auto* item = new KSMValidatedViewToolbarItem(name, view, toolbar);
        item->setTarget(target);
        if (action) item->setAction(action);
        toolbar->addValidatedItem(item);
        return item;
    }
    QApplication& application = TestApplication();  // before any widget
    QMainWindow window;
    KSMValidatedViewToolbar* toolbar;
};

TEST(ValidatedToolbar, EnablesItemsWhoseTargetHandlesTheAction) {
    ToolbarFixture f;
    ActionTarget target;
    auto* button = new QToolButton;
    KSMValidatedViewToolbarItem* item = f.add("doItem", button, &target, "DoIt(QObject*)");
    item->setEnabled(false);
    f.toolbar->validateVisibleItems();
    EXPECT_TRUE(item->isEnabled());
    EXPECT_TRUE(button->isEnabled());
    button->click();
    EXPECT_EQ(target.performed, 1);
    EXPECT_EQ(target.lastSender, button);
}

TEST(ValidatedToolbar, LeavesItemsAloneWithoutTargetActionOrControl) {
    ToolbarFixture f;
    ActionTarget target;
    auto* noTarget = new QToolButton;
    KSMValidatedViewToolbarItem* a = f.add("a", noTarget, nullptr, "DoIt(QObject*)");
    auto* unknown = new QToolButton;
    KSMValidatedViewToolbarItem* b = f.add("b", unknown, &target, "Missing(QObject*)");
    auto* plain = new QWidget;
    KSMValidatedViewToolbarItem* c = f.add("c", plain, &target, "DoIt(QObject*)");
    for (auto* item : {a, b, c}) item->setEnabled(false);
    f.toolbar->validateVisibleItems();
    EXPECT_FALSE(a->isEnabled());
    EXPECT_FALSE(b->isEnabled());
    EXPECT_FALSE(c->isEnabled());
    unknown->setEnabled(true);
    unknown->click();  // no such action: nothing happens
    EXPECT_EQ(target.performed, 0);
}

TEST(ValidatedToolbar, TargetsAnswerDisablesItemAndControl) {
    ToolbarFixture f;
    ValidatingTarget target;
    auto* segments = new SegmentedControl(2);
    KSMValidatedViewToolbarItem* item = f.add("segments", segments, &target, "DoIt(QObject*)");
    f.toolbar->validateVisibleItems();
    EXPECT_FALSE(item->isEnabled());
    EXPECT_FALSE(segments->isEnabled());
    target.answer = true;
    item->validate();
    EXPECT_TRUE(item->isEnabled());
    EXPECT_TRUE(segments->isEnabled());
    segments->segment(1)->click();
    EXPECT_EQ(segments->selectedSegment(), 1);
    EXPECT_EQ(target.performed, 1);
    EXPECT_EQ(target.lastSender, segments);
}

TEST(ToolbarEnableTable, ConversionControlsMoveTogether) {
    ToolbarEnableTable table;
    table.setConversionEnabled(false);
    for (auto item : {ToolbarEnableTable::Convert, ToolbarEnableTable::ConvertAll, ToolbarEnableTable::Remove,
                      ToolbarEnableTable::RemoveAll, ToolbarEnableTable::Rotate, ToolbarEnableTable::Flip,
                      ToolbarEnableTable::Preview}) {
        EXPECT_FALSE(table.isEnabled(item));
    }
    EXPECT_TRUE(table.isEnabled(ToolbarEnableTable::AddImage));
    EXPECT_TRUE(table.isEnabled(ToolbarEnableTable::Preferences));
    EXPECT_EQ(ToolbarEnableTable::itemForOutlet("convertAllToolbarItem"), ToolbarEnableTable::ConvertAll);
    EXPECT_FALSE(ToolbarEnableTable::itemForOutlet("nothing").has_value());
}

TEST(AppDelegateToolbar, ValidationAndDirectEnablingShareOneTable) {
    TestApplication();
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    MainWindow* window = delegate.window();
    // Nothing to convert at launch.
    EXPECT_FALSE(window->convertToolbarButton->isEnabled());
    EXPECT_FALSE(window->convertAllToolbarItem->isEnabled());
    EXPECT_FALSE(window->rotateSegmentedOutlet->isEnabled());
    EXPECT_FALSE(window->previewButtonOutlet->isEnabled());
    EXPECT_TRUE(window->addImageToolbarButton->isEnabled());
    EXPECT_FALSE(delegate.validateToolbarItem(window->convertToolbarItem));
    EXPECT_TRUE(delegate.validateToolbarItem(window->preferencesToolbarItem));

    // A validation pass cannot undo the controller's disabling.
    window->toolbar->validateVisibleItems();
    EXPECT_FALSE(window->convertToolbarButton->isEnabled());

    delegate.SetConversionButtonEnable(true);
    window->toolbar->validateVisibleItems();
    EXPECT_TRUE(window->convertToolbarButton->isEnabled());
    EXPECT_TRUE(window->removeAllToolbarButton->isEnabled());
    EXPECT_TRUE(window->flipSegmentedOutlet->isEnabled());
    EXPECT_TRUE(window->previewButtonOutlet->isEnabled());
    EXPECT_EQ(window->convertToolbarItem->objectName(), "convertToolbarItem");
    EXPECT_EQ(window->convertToolbarButton->objectName(), "convertToolbarButton");

    // Every enabled button has an action behind it; the others stay disabled.
    for (KSMValidatedViewToolbarItem* item :
         {window->addImageToolbarItem, window->removeToolbarItem, window->removeAllToolbarItem,
          window->rotateToolbarItem, window->flipToolbarItem, window->convertToolbarItem,
          window->convertAllToolbarItem, window->ratingToolbarItem, window->infoToolbarItem,
          window->preferencesToolbarItem}) {
        if (item->view()->isEnabled()) {
            EXPECT_TRUE(item->targetRespondsToAction()) << item->objectName().toStdString();
        }
    }
}

}  // namespace

#include "ToolbarTest.moc"
