#pragma once

#include <QWidget>

#include <vector>

class QLabel;
class QToolButton;

// A row of push segments acting as one control: a click on a segment selects
// it and emits activated(segment).
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(int segmentCount, QWidget* parent = nullptr);

    int segmentCount() const { return static_cast<int>(segments_.size()); }
    int selectedSegment() const { return selectedSegment_; }
    void setSelectedSegment(int segment) { selectedSegment_ = segment; }
    QToolButton* segment(int index) const;
    void setLabel(int segment, const QString& label);
    // A text under the segments, as toolbar items show their label; none
    // until set.
    void setCaption(const QString& caption);
    void setToolTip(int segment, const QString& toolTip);
    void setEnabled(int segment, bool enabled);
    bool isEnabled(int segment) const;
    using QWidget::isEnabled;
    using QWidget::setEnabled;
    using QWidget::setToolTip;

signals:
    void activated(int segment);

private:
    std::vector<QToolButton*> segments_;
    QLabel* caption_ = nullptr;
    int selectedSegment_ = -1;
};
