#include "AppTestSupport.h"

#include "app/ui/OnOffSwitchControl.h"
#include "app/ui/OnOffSwitchControlCell.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <QAccessible>
#include <QAccessibleActionInterface>

#include <gtest/gtest.h>

namespace {

using Cell = OnOffSwitchControlCell;
const QRectF kFrame(0, 0, 102, 22);  // inner track 100 x 20, thumb 45 wide

TEST(OnOffSwitchCell, ThumbSitsAtTheEndOfItsState) {
    Cell cell;
    EXPECT_TRUE(cell.showsOnOffLabels());
    EXPECT_EQ(cell.onOffSwitchControlColors(), 2);
    EXPECT_EQ(cell.onSwitchLabel(), "ON");
    EXPECT_EQ(cell.offSwitchLabel(), "OFF");
    EXPECT_NEAR(cell.clickTimeout(), 1.0 / 3.0, 1e-7);

    const QRectF off = cell.thumbRectInFrame(kFrame);
    EXPECT_NEAR(off.x(), 1.0, 1e-9);
    EXPECT_NEAR(off.y(), 1.0, 1e-9);
    EXPECT_NEAR(off.width(), 45.0, 1e-5);
    EXPECT_NEAR(off.height(), 20.0, 1e-9);
    cell.setState(Cell::On);
    EXPECT_NEAR(cell.thumbRectInFrame(kFrame).x(), 101.0 - off.width(), 1e-9);
    cell.setState(Cell::Mixed);
    EXPECT_NEAR(cell.thumbRectInFrame(kFrame).x(), 1.0 + (100.0 - off.width()) / 2.0, 1e-9);
    cell.setState(7);  // any other value counts as off
    EXPECT_NEAR(cell.thumbRectInFrame(kFrame).x(), 1.0, 1e-9);
    EXPECT_NEAR(cell.centerXForThumbWithFrame(kFrame), 1.0 + off.width() / 2.0, 1e-9);

    // Presses count inside the frame only.
    EXPECT_EQ(Cell::hitTestForEvent({0, 0}, kFrame), 5);
    EXPECT_EQ(Cell::hitTestForEvent({101.5, 21.5}, kFrame), 5);
    EXPECT_EQ(Cell::hitTestForEvent({102, 10}, kFrame), 0);
    EXPECT_EQ(Cell::hitTestForEvent({50, -1}, kFrame), 0);
}

TEST(OnOffSwitchCell, DraggedThumbNeverLeavesTheTrack) {
    Cell cell;
    cell.startTrackingAt(QPointF(10, 10), 0.0);
    cell.continueTracking(QPointF(5000, 10), 0.1);
    cell.noteTrackingFrame(kFrame);
    const double width = cell.thumbRectInFrame(Cell::InnerRect(kFrame)).width();
    EXPECT_NEAR(cell.trackingThumbCenterX(), 101.0 - width / 2.0, 1e-9);
    EXPECT_LE(cell.centerXForThumbWithFrame(kFrame) + cell.thumbRectInFrame(kFrame).width() / 2.0, kFrame.right() + 1e-9);
    cell.continueTracking(QPointF(-5000, 10), 0.2);
    cell.noteTrackingFrame(kFrame);
    EXPECT_NEAR(cell.trackingThumbCenterX(), 1.0 + width / 2.0, 1e-9);
}

TEST(OnOffSwitchCell, ReleasePositionDecidesADrag) {
    Cell cell;  // off, two states
    // Thumb centre 60 % of the width: on.
    cell.startTrackingAt(QPointF(20, 10), 0.0);
    const double start = cell.thumbRectInFrame(Cell::InnerRect(kFrame)).center().x();
    const QPointF to60(20 + (0.6 * kFrame.width() - start), 10);
    cell.continueTracking(to60, 0.5);
    cell.noteTrackingFrame(kFrame);
    Cell::TrackingResult result = cell.stopTracking(to60, 0.5);
    EXPECT_FALSE(result.isClick);
    EXPECT_EQ(result.desiredState, Cell::On);
    // 40 %: stays off.
    const QPointF to40(20 + (0.4 * kFrame.width() - start), 10);
    cell.startTrackingAt(QPointF(20, 10), 1.0);
    cell.continueTracking(to40, 1.5);
    cell.noteTrackingFrame(kFrame);
    result = cell.stopTracking(to40, 1.5);
    EXPECT_FALSE(result.isClick);
    EXPECT_EQ(result.desiredState, Cell::Off);
    EXPECT_FALSE(cell.isTracking());
}

TEST(OnOffSwitchCell, ClickIsShortAndNearlyMotionlessInEveryDirection) {
    Cell cell;
    cell.setState(Cell::On);
    auto release = [&](QPointF from, QPointF to, double duration) {
        cell.startTrackingAt(from, 10.0);
        cell.continueTracking(to, 10.0 + duration / 2);
        cell.noteTrackingFrame(kFrame);
        return cell.stopTracking(to, 10.0 + duration);
    };
    Cell::TrackingResult quick = release({80, 10}, {82, 11}, 0.1);
    EXPECT_TRUE(quick.isClick);
    EXPECT_EQ(quick.desiredState, Cell::Off);
    // A fast drag to the left (or up) is a drag, decided by the thumb.
    Cell::TrackingResult left = release({80, 10}, {20, 10}, 0.1);
    EXPECT_FALSE(left.isClick);
    EXPECT_EQ(left.desiredState, Cell::Off);
    EXPECT_FALSE(release({80, 10}, {80, -20}, 0.1).isClick);
    EXPECT_FALSE(release({80, 10}, {86, 10}, 0.1).isClick);
    // A slow press is no click, whatever the movement; the window counts
    // from the press, not from the last movement.
    cell.startTrackingAt({80, 10}, 0.0);
    cell.continueTracking({81, 10}, 0.3);
    cell.continueTracking({80, 10}, 0.35);
    cell.noteTrackingFrame(kFrame);
    const Cell::TrackingResult slow = cell.stopTracking({80, 10}, 0.4);
    EXPECT_FALSE(slow.isClick);
    EXPECT_EQ(slow.desiredState, Cell::On);
}

TEST(OnOffSwitchCell, MixedStateCyclesAndSplitsTheTrackInThirds) {
    Cell cell;
    cell.setAllowsMixedState(true);
    cell.setState(Cell::Mixed);
    EXPECT_EQ(cell.nextState(), Cell::On);
    cell.setState(Cell::On);
    EXPECT_EQ(cell.nextState(), Cell::Off);
    cell.setState(Cell::Off);
    EXPECT_EQ(cell.nextState(), Cell::Mixed);

    cell.setState(Cell::Mixed);  // thumb centred: f = 0.5
    cell.startTrackingAt({50, 10}, 0.0);
    cell.noteTrackingFrame(kFrame);
    EXPECT_EQ(cell.stopTracking({50, 10}, 1.0).desiredState, Cell::Mixed);
}

TEST(OnOffSwitchCell, ColourSchemes) {
    Cell cell;
    EXPECT_EQ(*cell.onColor(), QColor::fromRgbF(0.05f, 0.38f, 0.9f, 1.0f));
    EXPECT_EQ(*cell.offColor(), QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f));
    cell.setEnabled(false);
    EXPECT_EQ(*cell.onColor(), QColor::fromRgbF(0.0f, 0.7f, 0.0f, 0.6f));
    cell.setOnOffSwitchControlColors(3);
    EXPECT_EQ(*cell.offColor(), QColor::fromRgbF(0.7f, 0.0f, 0.0f, 0.6f));
    cell.setOnOffSwitchControlColors(1);
    EXPECT_FALSE(cell.onColor().has_value());
    cell.setOnOffSwitchCustomOnColor(QColor(Qt::yellow), QColor(Qt::black));
    EXPECT_EQ(*cell.onColor(), QColor(Qt::yellow));
    cell.setOnOffSwitchControlColors(9);
    EXPECT_FALSE(cell.offColor().has_value());
}

TEST(OnOffSwitchCell, DrawsTintLeftOfTheThumbAndAWhiteThumb) {
    TestApplication();
    Cell cell;
    cell.setState(Cell::On);
    QImage image(102, 22, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        cell.drawWithFrame(painter, kFrame, false);
    }
    const QColor tint = image.pixelColor(6, 18);  // on side, below the label
    EXPECT_GT(tint.blue(), tint.red() + 100);
    const QColor thumb = image.pixelColor(80, 14);
    EXPECT_GT(thumb.red(), 220);
    EXPECT_GT(thumb.green(), 220);
}

TEST(OnOffSwitchCell, LabelsSitBesideTheThumbInWhite) {
    TestApplication();
    // Near-white label pixels left and right of the thumb (which spans x 1..46
    // when off and 56..101 when on).
    auto whiteBeside = [](int state, bool labels) {
        Cell cell;
        cell.setState(state);
        cell.setShowsOnOffLabels(labels);
        QImage image(102, 22, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            cell.drawWithFrame(painter, kFrame, false);
        }
        int left = 0, right = 0;
        for (int y = 4; y < 20; ++y) {
            for (int x = 3; x < 99; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() < 235 || c.green() < 235 || c.blue() < 235) continue;
                if (x < 50) ++left;
                else ++right;
            }
        }
        return std::pair(left, right);
    };
    const auto [onLeft, onRight] = whiteBeside(Cell::On, true);  // "ON" left, thumb right
    EXPECT_GT(onLeft, 5);
    const auto [offLeft, offRight] = whiteBeside(Cell::Off, true);  // thumb left, "OFF" right
    EXPECT_GT(offRight, 5);
    EXPECT_EQ(whiteBeside(Cell::On, false).first, 0);
    EXPECT_EQ(whiteBeside(Cell::Off, false).second, 0);
    (void)onRight;
    (void)offLeft;
}

TEST(OnOffSwitchControl, ClickTogglesAndDragFollowsTheThumb) {
    TestApplication();
    OnOffSwitchControl control;
    control.resize(102, 22);
    QSignalSpy clicked(&control, &QAbstractButton::clicked);
    QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(control.state(), OnOffSwitchControlCell::On);
    EXPECT_EQ(clicked.count(), 1);

    // Dragged back to the left well past the click distance: off.
    QTest::mousePress(&control, Qt::LeftButton, {}, QPoint(90, 10));
    QTest::mouseMove(&control, QPoint(30, 10));
    QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(control.state(), OnOffSwitchControlCell::Off);
    EXPECT_EQ(clicked.count(), 2);

    // Code changes the state silently; a disabled switch ignores the mouse.
    control.setState(OnOffSwitchControlCell::On);
    EXPECT_EQ(clicked.count(), 2);
    control.setEnabled(false);
    QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(control.state(), OnOffSwitchControlCell::On);
    EXPECT_EQ(clicked.count(), 2);
}

// Whatever works the switch (mouse, Space, an assistive tool's toggle or
// press action), `toggled` reports the change; code setting the state and a
// drag that ends where it began report nothing.
TEST(OnOffSwitchControl, EveryUserChangeIsReportedAsToggled) {
    TestApplication();
    OnOffSwitchControl control;
    control.setText("Rename");
    control.resize(52, 18);
    QSignalSpy toggled(&control, &QAbstractButton::toggled);
    QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(10, 9));
    ASSERT_EQ(toggled.count(), 1);
    EXPECT_TRUE(toggled.last().at(0).toBool());

    QTest::keyClick(&control, Qt::Key_Space);
    ASSERT_EQ(toggled.count(), 2);
    EXPECT_EQ(control.state(), OnOffSwitchControlCell::Off);

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&control);
    ASSERT_TRUE(accessible && accessible->actionInterface());
    EXPECT_EQ(accessible->text(QAccessible::Name), "Rename");
    accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_EQ(toggled.count(), 3);
    EXPECT_EQ(control.state(), OnOffSwitchControlCell::On);
    EXPECT_TRUE(accessible->state().checked);
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(WaitUntil([&] { return toggled.count() == 4; }));
    EXPECT_EQ(control.state(), OnOffSwitchControlCell::Off);

    control.setState(OnOffSwitchControlCell::On);
    QTest::mousePress(&control, Qt::LeftButton, {}, QPoint(40, 9));
    QTest::mouseMove(&control, QPoint(48, 9));
    QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(48, 9));
    EXPECT_EQ(control.state(), OnOffSwitchControlCell::On);
    EXPECT_EQ(toggled.count(), 4);
}

}  // namespace
