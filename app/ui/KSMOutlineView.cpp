#include "app/ui/KSMOutlineView.h"

#include "app/ui/KSMConfigurationHeaderView.h"
#include "app/ui/ThemeColours.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QWheelEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

KSMOutlineView::KSMOutlineView(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("outlineContent"));
    content_->setAutoFillBackground(true);
    applyBackgroundColour();
    contentLayout_ = new QVBoxLayout(content_);
    contentLayout_->setContentsMargins(0, 0, 0, 0);
    contentLayout_->setSpacing(0);
    contentLayout_->addStretch(1);
    setWidget(content_);
    parking_ = new QWidget(this);
    parking_->hide();
}

KSMOutlineView::~KSMOutlineView() = default;

// Rows never scroll sideways: the viewport holds the widest row, expanded or
// not, beside the vertical scroll bar, shown or not, so no row is clipped.
QSize KSMOutlineView::minimumSizeHint() const {
    QSize hint = QScrollArea::minimumSizeHint();
    int widest = 0;
    for (const Row& row : rows_) widest = std::max(widest, row.rowView->minimumSizeHint().width());
    const int needed = widest + verticalScrollBar()->sizeHint().width() + 2 * frameWidth();
    hint.setWidth(std::max({hint.width(), needed, minimumRowsWidth_}));
    return hint;
}

// The wheel scrolls the outline: a menu, number field or slider that the
// pointer passes over while scrolling keeps its value, also once clicked
// into (a font or a spacing changed by a scroll goes unnoticed). The keys,
// the arrows and the mouse's own gestures still change it.
bool KSMOutlineView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        if (qobject_cast<QWidget*>(watched)) {
            // Scrolled here: handing the event on would bring it back to the
            // control, which the application keeps as the wheel's receiver.
            const auto* wheel = static_cast<QWheelEvent*>(event);
            QScrollBar* bar = verticalScrollBar();
            const int delta = !wheel->pixelDelta().isNull()
                                  ? wheel->pixelDelta().y()
                                  : wheel->angleDelta().y() * QApplication::wheelScrollLines() * bar->singleStep() / 120;
            bar->setValue(bar->value() - delta);
            return true;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

void KSMOutlineView::applyBackgroundColour() {
    QPalette palette = content_->palette();
    palette.setColor(QPalette::Window, OutlineBackgroundColor(this->palette()));
    content_->setPalette(palette);
}

// The background and the rows' bands are set colours: a new theme sets them again.
void KSMOutlineView::changeEvent(QEvent* event) {
    QScrollArea::changeEvent(event);
    if (event->type() != QEvent::PaletteChange) return;
    applyBackgroundColour();
    updateVisibility();
}

void KSMOutlineView::setItems(std::vector<std::shared_ptr<KSMConfiguration>> items) {
    items_ = std::move(items);
    std::set<const KSMConfiguration*> kept;
    for (const auto& item : items_) {
        if (expanded_.count(item.get())) kept.insert(item.get());
    }
    expanded_.swap(kept);
    reloadData();
}

// A reload may come from inside a handler of a widget it replaces (a header
// switch's click): such widgets are parked and deleted once control is back
// in the event loop.
void KSMOutlineView::discardLater(QWidget* widget) {
    widget->hide();
    widget->setParent(parking_);
    widget->deleteLater();
}

void KSMOutlineView::clearRows() {
    for (Row& row : rows_) {
        // Option panels belong to the window: keep them for the next build.
        if (!row.isGroup && row.view) {
            row.view->hide();
            row.view->setParent(parking_);
        }
        contentLayout_->removeWidget(row.rowView);
        if (row.isGroup && row.rowView && row.rowView->objectName() == QLatin1String("HeaderRowView")) {
            // The header view is made anew each time; the row view is reused.
            for (QWidget* child : row.rowView->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (child != row.disclosure) discardLater(child);
            }
            row.rowView->hide();
            row.rowView->setParent(parking_);
            reusableRowViews_.emplace(row.rowView->objectName(), row.rowView);
            continue;
        }
        discardLater(row.rowView);
    }
    rows_.clear();
    visibleRows_.clear();
}

QWidget* KSMOutlineView::makeRowViewWithIdentifier(const QString& identifier) {
    auto it = reusableRowViews_.find(identifier);
    if (it == reusableRowViews_.end()) return nullptr;
    QWidget* view = it->second;
    reusableRowViews_.erase(it);
    return view;
}

void KSMOutlineView::addRow(KSMConfiguration* item, KSMConfiguration* group, bool isGroup) {
    Row row;
    row.item = item;
    row.group = group;
    row.isGroup = isGroup;
    row.rowView = delegate_ ? delegate_->outlineViewRowViewForItem(this, item) : nullptr;
    if (!row.rowView) row.rowView = new QWidget;
    row.rowView->setParent(content_);
    row.rowView->setAutoFillBackground(true);

    auto* layout = qobject_cast<QHBoxLayout*>(row.rowView->layout());
    if (!layout) {
        delete row.rowView->layout();
        layout = new QHBoxLayout(row.rowView);
    }
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    if (isGroup) {
        // The disclosure control is the row view's first button.
        auto* header = qobject_cast<KSMConfigurationHeaderRowView*>(row.rowView);
        QAbstractButton* existing = header ? header->disclosureButton() : nullptr;
        row.disclosure = qobject_cast<QToolButton*>(existing);
        if (!row.disclosure) {
            row.disclosure = new QToolButton(row.rowView);
            row.disclosure->setObjectName(QStringLiteral("disclosureButton"));
            row.disclosure->setAutoRaise(true);
            row.disclosure->setFocusPolicy(Qt::NoFocus);
            layout->insertWidget(0, row.disclosure);
        }
        // Named after its group, so that assistive tools say what it opens.
        if (const auto* groupItem = dynamic_cast<const KSMConfigurationGroup*>(item))
            row.disclosure->setAccessibleName(groupItem->title());
        row.disclosure->disconnect(this);
        connect(row.disclosure, &QToolButton::clicked, this, [this, item] {
            if (isItemExpanded(item)) collapseItem(item);
            else expandItem(item);
        });
    }

    row.view = delegate_ ? delegate_->outlineViewViewForItem(this, item) : nullptr;
    if (row.view) {
        for (QWidget* control : row.view->findChildren<QWidget*>()) {
            if (qobject_cast<QComboBox*>(control) || qobject_cast<QAbstractSpinBox*>(control) ||
                qobject_cast<QAbstractSlider*>(control)) {
                // Menus, steppers and sliders take the focus from a wheel
                // turn by default, and then the turn would change them: only
                // a click or the Tab key gives them the focus here.
                if ((control->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus)
                    control->setFocusPolicy(Qt::StrongFocus);
                control->installEventFilter(this);
            }
        }
        row.view->setParent(row.rowView);
        layout->addWidget(row.view, 1);
        row.view->show();
    }
    const double height = delegate_ ? delegate_->outlineViewHeightOfRowByItem(this, item) : 20.0;
    row.rowView->setFixedHeight(std::max(0, static_cast<int>(std::lround(height))));
    contentLayout_->insertWidget(contentLayout_->count() - 1, row.rowView);
    rows_.push_back(row);
}

void KSMOutlineView::reloadData() {
    clearRows();
    for (const auto& item : items_) {
        const bool group = delegate_ ? delegate_->outlineViewIsGroupItem(this, item.get()) : true;
        addRow(item.get(), item.get(), group);
        for (const auto& child : item->children()) addRow(child.get(), item.get(), false);
    }
    updateVisibility();
    updateGeometry();
}

void KSMOutlineView::updateVisibility() {
    visibleRows_.clear();
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
        Row& row = rows_[static_cast<std::size_t>(i)];
        const bool visible = row.isGroup || row.item == row.group || expanded_.count(row.group);
        row.rowView->setVisible(visible);
        if (row.disclosure) row.disclosure->setArrowType(expanded_.count(row.item) ? Qt::DownArrow : Qt::RightArrow);
        if (visible) visibleRows_.push_back(i);
    }
    if (!delegate_) return;
    for (int row = 0; row < numberOfRows(); ++row) {
        delegate_->outlineViewDidAddRowView(this, rowViewAtRow(row), row);
    }
}

KSMConfiguration* KSMOutlineView::itemAtRow(int row) const {
    if (row < 0 || row >= numberOfRows()) return nullptr;
    return rows_[static_cast<std::size_t>(visibleRows_[static_cast<std::size_t>(row)])].item;
}

int KSMOutlineView::rowForItem(const KSMConfiguration* item) const {
    for (int row = 0; row < numberOfRows(); ++row) {
        if (itemAtRow(row) == item) return row;
    }
    return -1;
}

QWidget* KSMOutlineView::rowViewAtRow(int row) const {
    if (row < 0 || row >= numberOfRows()) return nullptr;
    return rows_[static_cast<std::size_t>(visibleRows_[static_cast<std::size_t>(row)])].rowView;
}

QWidget* KSMOutlineView::viewAtRow(int row) const {
    if (row < 0 || row >= numberOfRows()) return nullptr;
    return rows_[static_cast<std::size_t>(visibleRows_[static_cast<std::size_t>(row)])].view;
}

bool KSMOutlineView::isGroupRow(int row) const {
    if (row < 0 || row >= numberOfRows()) return false;
    return rows_[static_cast<std::size_t>(visibleRows_[static_cast<std::size_t>(row)])].isGroup;
}

bool KSMOutlineView::isItemExpanded(const KSMConfiguration* item) const {
    return expanded_.count(item) > 0;
}

void KSMOutlineView::setExpanded(KSMConfiguration* item, bool expanded) {
    if (!item || item->children().empty()) return;
    const bool known = std::any_of(items_.begin(), items_.end(), [&](const auto& top) { return top.get() == item; });
    if (!known || isItemExpanded(item) == expanded) return;
    if (expanded) expanded_.insert(item);
    else expanded_.erase(item);
    updateVisibility();
    if (expanded) emit itemDidExpand(item);
    else emit itemDidCollapse(item);
}

void KSMOutlineView::expandItem(KSMConfiguration* item) {
    setExpanded(item, true);
}

void KSMOutlineView::collapseItem(KSMConfiguration* item) {
    setExpanded(item, false);
}

KSMTableView::KSMTableView(QWidget* parent) : QTableView(parent) {
    setShowGrid(false);
    viewport()->setAutoFillBackground(true);
}
