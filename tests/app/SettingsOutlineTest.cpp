#include "AppTestSupport.h"

#include "app/model/Configuration.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/KSMConfigurationHeaderView.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/KSMOutlineView.h"
#include "app/ui/MainWindow.h"
#include "app/ui/OnOffSwitchControl.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QMainWindow>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <QAbstractSpinBox>
#include <QAbstractSlider>

#include <QLineEdit>
#include <QToolButton>

#include <gtest/gtest.h>

#include <set>

namespace {

class SettingsOutlineTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        outline = delegate->window()->configurationCollection;
    }

    KSMConfigurationHeaderView* headerOf(int group) {
        const int row = outline->rowForItem(delegate->configurations()[group].get());
        return qobject_cast<KSMConfigurationHeaderView*>(outline->viewAtRow(row));
    }

    // Every group switched on, in the window at its smallest: the rows are
    // taller than the outline.
    QMainWindow* showEveryGroupInTheSmallestWindow() {
        for (int group = kOptimizationGroup; group <= kImageWatermarkGroup; ++group) {
            delegate->SwitchOnOffHeader(group, true);
        }
        QMainWindow* window = delegate->window();
        window->resize(window->minimumSizeHint());
        window->show();
        QCoreApplication::processEvents();
        return window;
    }

    std::unique_ptr<AppDelegate> delegate;
    KSMOutlineView* outline = nullptr;
};

TEST_F(SettingsOutlineTest, SixGroupsInOrderWithConversionOnAndFixed) {
    const ConfigurationList& groups = delegate->configurations();
    ASSERT_EQ(groups.size(), 6u);
    const char* titles[] = {"Convert", "Optimise", "Rename", "Resize", "Text Watermark", "Image Watermark"};
    const std::size_t rows[] = {1, 1, 3, 3, 5, 1};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(groups[i]->title(), titles[i]);
        EXPECT_EQ(groups[i]->switchState(), i == 0);
        EXPECT_EQ(groups[i]->switchEnableState(), i != 0);
        EXPECT_EQ(groups[i]->children().size(), rows[i]);
        EXPECT_TRUE(groups[i]->isGroup());
    }
    EXPECT_EQ(groups[2]->children()[1]->tabelCellView()->objectName(), "RenameView2");
    EXPECT_EQ(groups[4]->children()[4]->tabelCellView()->objectName(), "TextWatermarkView5");
    EXPECT_EQ(groups[3]->description(), "<KSMConfigurationGroup: Resize>");
    EXPECT_FALSE(outline->floatsGroupRows());

    // Headers show each group's title and state; the conversion switch is
    // disabled and only the conversion group starts expanded.
    EXPECT_EQ(headerOf(0)->textField()->text(), "Convert");
    EXPECT_FALSE(headerOf(0)->onOffSwitchButtonOutlet()->isEnabled());
    EXPECT_EQ(headerOf(0)->onOffSwitchButtonOutlet()->state(), OnOffSwitchControlCell::On);
    EXPECT_TRUE(headerOf(1)->onOffSwitchButtonOutlet()->isEnabled());
    EXPECT_EQ(headerOf(1)->onOffSwitchButtonOutlet()->state(), OnOffSwitchControlCell::Off);
    EXPECT_EQ(outline->numberOfRows(), 7);
    EXPECT_TRUE(outline->isItemExpanded(groups[0].get()));

    // Each disclosure button is named after its group for assistive tools.
    for (std::size_t i = 0; i < 6; ++i) {
        const int row = outline->rowForItem(groups[i].get());
        const auto* button = outline->viewAtRow(row)->parentWidget()->findChild<QToolButton*>("disclosureButton");
        ASSERT_TRUE(button) << i;
        EXPECT_EQ(button->accessibleName(), titles[i]);
    }
}

TEST_F(SettingsOutlineTest, HeightsAndBanding) {
    const ConfigurationList& groups = delegate->configurations();
    EXPECT_EQ(delegate->outlineViewHeightOfRowByItem(outline, groups[0].get()), 23.0);
    KSMConfiguration* row = groups[3]->children()[1].get();
    EXPECT_EQ(delegate->outlineViewHeightOfRowByItem(outline, row), row->tabelCellView()->height());
    KSMConfiguration empty;
    EXPECT_EQ(delegate->outlineViewHeightOfRowByItem(outline, &empty), 20.0);

    SCOPED_TRACE("banding");
    delegate->SwitchOnOffHeader(kTextWatermarkGroup, true);
    const int header = outline->rowForItem(groups[4].get());
    auto shade = [&](int r) { return outline->rowViewAtRow(r)->palette().color(QPalette::Window); };
    EXPECT_EQ(shade(header), QColor::fromRgbF(0.87f, 0.87f, 0.87f));
    EXPECT_EQ(shade(header + 1), QColor::fromRgbF(0.91f, 0.91f, 0.91f));
    EXPECT_EQ(shade(header + 2), QColor::fromRgbF(0.87f, 0.87f, 0.87f));
    EXPECT_EQ(shade(header + 5), QColor::fromRgbF(0.91f, 0.91f, 0.91f));
    EXPECT_EQ(outline->rowViewAtRow(header + 1)->height(), static_cast<int>(groups[4]->children()[0]->height()));
    EXPECT_EQ(outline->rowViewAtRow(header)->height(), 23);
}

TEST_F(SettingsOutlineTest, SwitchingExpandsAndCollapsesTheRightGroup) {
    const ConfigurationList& groups = delegate->configurations();
    QSignalSpy actions(delegate.get(), &AppDelegate::groupOnOffAction);
    QSignalSpy changed(delegate.get(), &AppDelegate::groupSwitchStateChanged);
    delegate->SwitchOnOffHeader(kRenameGroup, true);
    delegate->SwitchOnOffHeader(kResizeGroup, true);
    EXPECT_TRUE(groups[2]->switchState());
    EXPECT_TRUE(outline->isItemExpanded(groups[3].get()));
    // Group 3's row: its index plus the visible option rows above it.
    EXPECT_EQ(outline->rowForItem(groups[3].get()), 3 + 1 + 3);
    EXPECT_EQ(outline->numberOfRows(), 6 + 1 + 3 + 3);
    ASSERT_EQ(actions.count(), 2);
    EXPECT_EQ(actions.at(1).at(0).toInt(), kResizeGroup);
    EXPECT_TRUE(actions.at(1).at(1).toBool());
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(headerOf(3)->onOffSwitchButtonOutlet()->state(), OnOffSwitchControlCell::On);

    delegate->SwitchOnOffHeader(kRenameGroup, false);
    EXPECT_FALSE(groups[2]->switchState());
    EXPECT_FALSE(outline->isItemExpanded(groups[2].get()));
    EXPECT_EQ(outline->rowForItem(groups[3].get()), 3 + 1);

    // Out of range: nothing.
    delegate->SwitchOnOffHeader(6, true);
    delegate->SwitchOnOffHeader(-1, true);
    EXPECT_EQ(actions.count(), 3);
}

TEST_F(SettingsOutlineTest, ClickOnAHeaderRowTogglesExpansionOnly) {
    const ConfigurationList& groups = delegate->configurations();
    const int row = outline->rowForItem(groups[5].get());
    auto* rowView = qobject_cast<KSMConfigurationHeaderRowView*>(outline->rowViewAtRow(row));
    ASSERT_NE(rowView, nullptr);
    ASSERT_NE(rowView->disclosureButton(), nullptr);
    QTest::mouseClick(rowView, Qt::LeftButton, {}, QPoint(rowView->width() / 2, 5));
    EXPECT_TRUE(outline->isItemExpanded(groups[5].get()));
    EXPECT_FALSE(groups[5]->switchState());
    rowView->disclosureButton()->click();
    EXPECT_FALSE(outline->isItemExpanded(groups[5].get()));
}

TEST_F(SettingsOutlineTest, SwitchActionFindsTheGroupByIndexNotTitle) {
    const ConfigurationList& groups = delegate->configurations();
    // Two groups with the same title still switch separately.
    groups[1]->setTitle("Same");
    groups[3]->setTitle("Same");
    delegate->willChangeConfigurations();
    delegate->didChangeConfigurations();
    QComboBox* presets = delegate->window()->PhotoPresetPopupButton;
    presets->addItem("My preset", 0);
    presets->setCurrentIndex(1);
    QSignalSpy tail(delegate.get(), &AppDelegate::globalPresetOptionChanged);

    OnOffSwitchControl* control = headerOf(3)->onOffSwitchButtonOutlet();
    control->resize(52, 18);
    QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(10, 9));
    EXPECT_TRUE(groups[3]->switchState());
    EXPECT_FALSE(groups[1]->switchState());
    EXPECT_TRUE(outline->isItemExpanded(groups[3].get()));
    EXPECT_EQ(presets->currentIndex(), 0);
    EXPECT_EQ(tail.count(), 1);

    // A switch that belongs to no group changes nothing.
    OnOffSwitchControl stray;
    stray.setText("Same");
    stray.setState(OnOffSwitchControlCell::On);
    presets->setCurrentIndex(1);
    delegate->SwitchAction(&stray);
    EXPECT_FALSE(groups[1]->switchState());
    EXPECT_EQ(presets->currentIndex(), 1);
    EXPECT_EQ(tail.count(), 1);

    // A change made by code (no sender) does not count as a user edit.
    delegate->changeGlobalPresetOption(nullptr);
    EXPECT_EQ(presets->currentIndex(), 1);
}

TEST_F(SettingsOutlineTest, ReloadKeepsExpansionAndRereadsStates) {
    const ConfigurationList& groups = delegate->configurations();
    delegate->willChangeConfigurations();
    for (int i = 5; i >= 0; --i) delegate->SwitchOnOffHeader(i, i % 2 == 1);
    delegate->didChangeConfigurations();
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(headerOf(i)->onOffSwitchButtonOutlet()->state(), i % 2) << i;
        EXPECT_EQ(outline->isItemExpanded(groups[i].get()), i % 2 == 1) << i;
    }
    // Option panels survive reloads.
    EXPECT_NE(delegate->window()->optionRowView("ConversionView"), nullptr);
    EXPECT_EQ(groups[1]->children()[0]->tabelCellView(), delegate->window()->optionRowView("OptimizationView"));
}

TEST_F(SettingsOutlineTest, OutlineMayReloadFromInsideASwitchClick) {
    // Re-reading the records while the clicked switch is still handling its
    // mouse release must not pull the switch out from under it.
    const ConfigurationList& groups = delegate->configurations();
    QObject::connect(delegate.get(), &AppDelegate::groupSwitchStateChanged, delegate.get(), [this] {
        delegate->willChangeConfigurations();
        delegate->didChangeConfigurations();
    });
    OnOffSwitchControl* control = headerOf(1)->onOffSwitchButtonOutlet();
    control->resize(52, 18);
    QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(10, 9));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(groups[1]->switchState());
    EXPECT_EQ(headerOf(1)->onOffSwitchButtonOutlet()->state(), OnOffSwitchControlCell::On);
    EXPECT_TRUE(outline->isItemExpanded(groups[1].get()));
}

TEST(HeaderView, GradientDependsOnPositionNotOnTheRepaintedPart) {
    TestApplication();
    KSMConfigurationHeaderView header;
    header.resize(200, 24);
    const QImage whole = header.grab().toImage();
    const QImage part = header.grab(QRect(0, 12, 200, 6)).toImage();
    // The band at rows 12..17 has the same colours as in the full drawing.
    EXPECT_EQ(part.pixelColor(150, 0), whole.pixelColor(150, 12));
    EXPECT_EQ(part.pixelColor(150, 5), whole.pixelColor(150, 17));
    EXPECT_NE(whole.pixelColor(150, 0), whole.pixelColor(150, 23));
}

// With every group open the rows are taller than the outline: the vertical
// scroll bar appears, and every row, switches included, still fits beside it
// in the smallest window.
TEST_F(SettingsOutlineTest, RowsFitBesideTheScrollBar) {
    QMainWindow* window = showEveryGroupInTheSmallestWindow();
    ASSERT_TRUE(outline->verticalScrollBar()->isVisible());
    const int viewport = outline->viewport()->width();
    for (int row = 0; row < outline->numberOfRows(); ++row) {
        const QWidget* rowView = outline->rowViewAtRow(row);
        EXPECT_LE(rowView->width(), viewport) << "row " << row;
        EXPECT_GE(rowView->width(), rowView->minimumSizeHint().width()) << "row " << row;
    }
    for (int group = kConversionGroup; group <= kImageWatermarkGroup; ++group) {
        const QWidget* control = headerOf(group)->onOffSwitchButtonOutlet();
        const QRect inViewport(control->mapTo(outline->viewport(), QPoint(0, 0)), control->size());
        EXPECT_LE(inViewport.right(), outline->viewport()->rect().right()) << "group " << group;
    }
    window->hide();
}

// The value a wheel could change on a settings control.
QString ControlValue(QWidget* control) {
    if (auto* combo = qobject_cast<QComboBox*>(control)) return combo->currentText();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(control)) return spin->text();
    if (auto* slider = qobject_cast<QAbstractSlider*>(control)) return QString::number(slider->value());
    if (auto* field = qobject_cast<QLineEdit*>(control)) return field->text();
    return {};
}

// Wheel notches as the windowing system delivers them: to the widget under
// the pointer, spontaneous, so the application's focus policy applies (a
// menu takes the focus from a wheel turn by default) and what the widget
// leaves goes on to its parents.
void TurnWheelOver(QWidget* control, int notches) {
    QWidget* window = control->window();
    const QPoint local(control->width() / 2, control->height() / 2);
    const QPoint inWindow = control->mapTo(window, local);
    QWidget* receiver = window->childAt(inWindow);
    ASSERT_TRUE(receiver);
    const QPointF position = receiver->mapFrom(window, inWindow);
    for (int i = 0; i < notches; ++i) {
        QWheelEvent wheel(position, control->mapToGlobal(local).toPointF(), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        QApplication::instance()->notify(receiver, &wheel);
    }
}

// Scrolling the settings column with the wheel over any menu, field, stepper
// or slider moves the column and leaves every setting (and the job preset)
// alone. Clicked into, each still leaves the wheel to the column (the font
// family and the spacing stepper once changed with it unnoticed): the click
// itself may change a stepper or slider, the wheel after it changes nothing.
TEST_F(SettingsOutlineTest, WheelOverAnUnfocusedControlScrollsTheOutline) {
    QMainWindow* window = showEveryGroupInTheSmallestWindow();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QComboBox* preset = delegate->window()->PhotoPresetPopupButton;
    const QString presetBefore = preset->currentText();
    QScrollBar* bar = outline->verticalScrollBar();

    std::set<QString> turned[2];
    for (const bool clickedInto : {false, true}) {
        for (QWidget* control : outline->widget()->findChildren<QWidget*>()) {
            if (!control->isVisible() || !control->isEnabled()) continue;
            if (!(qobject_cast<QComboBox*>(control) || qobject_cast<QAbstractSpinBox*>(control) ||
                  qobject_cast<QAbstractSlider*>(control) || qobject_cast<QLineEdit*>(control)))
                continue;
            if (qobject_cast<QComboBox*>(control->parentWidget()) || qobject_cast<QAbstractSpinBox*>(control->parentWidget()))
                continue;  // a menu's or stepper's own text field
            SCOPED_TRACE(control->objectName().toStdString() + (clickedInto ? ", clicked into" : ""));
            outline->ensureWidgetVisible(control);
            if (clickedInto) {
                QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(control->width() / 2, control->height() / 2));
                if (QWidget* popup = QApplication::activePopupWidget()) popup->close();  // a menu's list
                QCoreApplication::processEvents();
            } else {
                window->setFocus();
            }
            const QString before = ControlValue(control);
            const int scrolled = bar->value();
            TurnWheelOver(control, 3);
            EXPECT_EQ(ControlValue(control), before);
            turned[clickedInto].insert(control->objectName());
            if (clickedInto) continue;
            EXPECT_FALSE(control->hasFocus());
            if (scrolled < bar->maximum()) {
                EXPECT_GT(bar->value(), scrolled);
            }
        }
        if (!clickedInto) {
            EXPECT_EQ(preset->currentText(), presetBefore);
        }
    }
    EXPECT_GE(turned[0].size(), 20u);
    EXPECT_TRUE(turned[1].count("fontComboBoxOutlet"));
    EXPECT_TRUE(turned[1].count("charSpaceStepperOutlet"));
    EXPECT_GE(turned[1].size(), 30u);
    window->hide();
}

}  // namespace

// A combo box's list of choices, and an editable one's text field, are
// controls of their own for assistive tools: they carry the combo box's name.
TEST_F(SettingsOutlineTest, EditableComboBoxTextFieldsAreNamed) {
    int editable = 0;
    for (const QComboBox* combo : delegate->window()->findChildren<QComboBox*>()) {
        const std::string name = combo->objectName().toStdString();
        EXPECT_FALSE(combo->accessibleName().isEmpty()) << name;
        EXPECT_EQ(combo->view()->accessibleName(), combo->accessibleName()) << name;
        if (!combo->lineEdit()) continue;
        ++editable;
        EXPECT_EQ(combo->lineEdit()->accessibleName(), combo->accessibleName()) << name;
    }
    EXPECT_GE(editable, 2);  // the font and resolution fields at least
}

// The divider between the image list and the rest stays where the list keeps
// at least 215 points and the image and the settings together at least 502:
// their own least widths (the image 232, the settings 420) bound it tighter.
TEST_F(SettingsOutlineTest, ListDividerStaysWithinItsBounds) {
    QMainWindow* window = delegate->window();
    auto* splitter = window->findChild<QSplitter*>("mainSplitView");
    ASSERT_TRUE(splitter);
    for (const int width : {0, 1000, 1400, 2400}) {
        SCOPED_TRACE(width);
        window->resize(std::max(width, window->minimumSizeHint().width()), 760);
        window->show();
        QCoreApplication::processEvents();
        const int bounds = splitter->width();
        splitter->setSizes({bounds, 0, 0});  // the divider dragged to the far right
        EXPECT_LE(splitter->sizes()[0], bounds - 502) << splitter->sizes()[1] << " " << splitter->sizes()[2];
        splitter->setSizes({0, bounds, bounds});  // and to the far left
        EXPECT_GE(splitter->sizes()[0], 215);
    }
    window->hide();
}
