#pragma once

#include "app/model/Configuration.h"

#include <QScrollArea>
#include <QTableView>

#include <map>
#include <memory>
#include <set>
#include <vector>

class KSMOutlineView;
class QToolButton;
class QVBoxLayout;

// What the outline asks of its controller about its rows.
class KSMOutlineViewDelegate {
public:
    virtual ~KSMOutlineViewDelegate() = default;
    virtual bool outlineViewIsGroupItem(KSMOutlineView* outline, const KSMConfiguration* item) = 0;
    // The view shown in the item's row (none: an empty row).
    virtual QWidget* outlineViewViewForItem(KSMOutlineView* outline, KSMConfiguration* item) = 0;
    virtual double outlineViewHeightOfRowByItem(KSMOutlineView* outline, KSMConfiguration* item) = 0;
    // The row view (none: the standard one).
    virtual QWidget* outlineViewRowViewForItem(KSMOutlineView* outline, KSMConfiguration* item) = 0;
    virtual void outlineViewDidAddRowView(KSMOutlineView* outline, QWidget* rowView, int row) = 0;
};

// A two-level outline of fixed-height rows: group rows with a disclosure
// button, and below each the option rows shown while the group is expanded.
// Rows are numbered over the visible rows, as they stand on screen. No grid;
// the background is a light grey.
class KSMOutlineView : public QScrollArea {
    Q_OBJECT
public:
    explicit KSMOutlineView(QWidget* parent = nullptr);
    ~KSMOutlineView() override;

    void setDelegate(KSMOutlineViewDelegate* delegate) { delegate_ = delegate; }
    void setItems(std::vector<std::shared_ptr<KSMConfiguration>> items);
    const std::vector<std::shared_ptr<KSMConfiguration>>& items() const { return items_; }
    // Asks the delegate for every row again; expansion is kept.
    void reloadData();

    int numberOfRows() const { return static_cast<int>(visibleRows_.size()); }
    KSMConfiguration* itemAtRow(int row) const;
    int rowForItem(const KSMConfiguration* item) const;
    QWidget* rowViewAtRow(int row) const;
    QWidget* viewAtRow(int row) const;
    bool isGroupRow(int row) const;

    bool isItemExpanded(const KSMConfiguration* item) const;
    void expandItem(KSMConfiguration* item);
    void collapseItem(KSMConfiguration* item);

    QSize minimumSizeHint() const override;
    // The least width the outline asks for, whatever its rows need.
    void setMinimumRowsWidth(int width) {
        minimumRowsWidth_ = width;
        updateGeometry();
    }

    bool floatsGroupRows() const { return floatsGroupRows_; }
    void setFloatsGroupRows(bool floats) { floatsGroupRows_ = floats; }

    // A header row view set aside at the last reload, for reuse.
    QWidget* makeRowViewWithIdentifier(const QString& identifier);

signals:
    void itemDidExpand(KSMConfiguration* item);
    void itemDidCollapse(KSMConfiguration* item);

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyBackgroundColour();

    struct Row {
        KSMConfiguration* item = nullptr;
        KSMConfiguration* group = nullptr;  // the row's group (itself for a group row)
        QWidget* rowView = nullptr;
        QWidget* view = nullptr;
        QToolButton* disclosure = nullptr;
        bool isGroup = false;
    };

    void clearRows();
    void discardLater(QWidget* widget);
    void addRow(KSMConfiguration* item, KSMConfiguration* group, bool isGroup);
    void updateVisibility();
    void setExpanded(KSMConfiguration* item, bool expanded);

    KSMOutlineViewDelegate* delegate_ = nullptr;
    std::vector<std::shared_ptr<KSMConfiguration>> items_;
    std::vector<Row> rows_;
    std::vector<int> visibleRows_;  // indices into rows_
    std::set<const KSMConfiguration*> expanded_;
    std::multimap<QString, QWidget*> reusableRowViews_;
    QWidget* content_;
    QVBoxLayout* contentLayout_;
    QWidget* parking_;  // keeps option panels while no row shows them
    int minimumRowsWidth_ = 0;
    bool floatsGroupRows_ = true;
};

// A table that draws no grid and fills its background with its own colour.
class KSMTableView : public QTableView {
    Q_OBJECT
public:
    explicit KSMTableView(QWidget* parent = nullptr);
};
