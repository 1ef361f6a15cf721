#include "app/ui/KSMValidatedViewToolbar.h"

#include "app/model/StringTable.h"

#include "app/ui/SegmentedControl.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMetaMethod>

namespace {

constexpr const char* kValidateSignature = "validateToolbarItem(KSMValidatedViewToolbarItem*)";

int MethodIndex(const QObject* target, const QByteArray& signature) {
    if (!target || signature.isEmpty()) return -1;
    return target->metaObject()->indexOfMethod(signature.constData());
}

}  // namespace

KSMValidatedViewToolbarItem::KSMValidatedViewToolbarItem(const QString& identifier, QWidget* view, QObject* parent)
    : QWidgetAction(parent), view_(view) {
    setObjectName(identifier);
    if (view) {
        setDefaultWidget(view);
        if (auto* button = qobject_cast<QAbstractButton*>(view)) {
            connect(button, &QAbstractButton::clicked, this, &KSMValidatedViewToolbarItem::performAction);
        } else if (auto* segmented = qobject_cast<SegmentedControl*>(view)) {
            connect(segmented, &SegmentedControl::activated, this, &KSMValidatedViewToolbarItem::performAction);
        }
    }
}

void KSMValidatedViewToolbarItem::setAction(const char* signature) {
    action_ = QMetaObject::normalizedSignature(signature);
}

bool KSMValidatedViewToolbarItem::targetRespondsToAction() const {
    return MethodIndex(target_, action_) >= 0;
}

bool KSMValidatedViewToolbarItem::IsControl(const QWidget* view) {
    return qobject_cast<const QAbstractButton*>(view) || qobject_cast<const QComboBox*>(view) ||
           qobject_cast<const QLineEdit*>(view) || qobject_cast<const QAbstractSlider*>(view) ||
           qobject_cast<const QAbstractSpinBox*>(view) || qobject_cast<const SegmentedControl*>(view);
}

void KSMValidatedViewToolbarItem::performAction() {
    const int index = MethodIndex(target_, action_);
    if (index < 0) return;
    const QMetaMethod method = target_->metaObject()->method(index);
    if (method.parameterCount() == 0) {
        method.invoke(target_, Qt::DirectConnection);
    } else {
        QObject* sender = view_;
        method.invoke(target_, Qt::DirectConnection, Q_ARG(QObject*, sender));
    }
}

void KSMValidatedViewToolbarItem::validate() {
    // QAction has no validation of its own; the view's is the item's.
    validateView();
}

void KSMValidatedViewToolbarItem::validateView() {
    if (!view_ || !IsControl(view_)) return;
    if (!targetRespondsToAction()) return;
    bool enabled = true;
    const int validateIndex = MethodIndex(target_, kValidateSignature);
    if (validateIndex >= 0) {
        const QMetaMethod method = target_->metaObject()->method(validateIndex);
        bool answer = true;
        KSMValidatedViewToolbarItem* item = this;
        if (method.invoke(target_, Qt::DirectConnection, Q_RETURN_ARG(bool, answer),
                          Q_ARG(KSMValidatedViewToolbarItem*, item))) {
            enabled = answer;
        }
    }
    setEnabled(enabled);
    view_->setEnabled(enabled);
}

KSMValidatedViewToolbar::KSMValidatedViewToolbar(const QString& title, QWidget* parent) : QToolBar(title, parent) {
    setMovable(false);
    setFloatable(false);
    // The button Qt shows for items that do not fit has no name of its own.
    if (auto* more = findChild<QAbstractButton*>(QStringLiteral("qt_toolbar_ext_button"))) {
        more->setAccessibleName(LocalizedString("ToolbarMoreItemsName"));
    }
}

KSMValidatedViewToolbarItem* KSMValidatedViewToolbar::addValidatedItem(KSMValidatedViewToolbarItem* item) {
    addAction(item);
    return item;
}

void KSMValidatedViewToolbar::validateVisibleItems() {
    for (QAction* action : actions()) {
        auto* item = qobject_cast<KSMValidatedViewToolbarItem*>(action);
        if (!item || !item->isVisible()) continue;
        QWidget* view = item->view();
        // Only views placed in the window are validated.
        if (!view || !view->parentWidget()) continue;
        item->validateView();
    }
}

void KSMValidatedViewToolbar::showEvent(QShowEvent* event) {
    QToolBar::showEvent(event);
    validateVisibleItems();
}
