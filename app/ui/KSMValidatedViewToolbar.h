#pragma once

#include <QByteArray>
#include <QPointer>
#include <QToolBar>
#include <QWidgetAction>

// A toolbar item that carries a control (a button, a segmented control...).
// Clicking the control calls its action on its target: a slot or invokable
// method taking the sender, named by its signature ("ConvertButtonAction(QObject*)").
// Validation enables the item and its control when the target has the action
// and, where the target also has validateToolbarItem(KSMValidatedViewToolbarItem*),
// when that answers true. An item whose target lacks the action, or whose
// view is no control, is left as it is.
class KSMValidatedViewToolbarItem : public QWidgetAction {
    Q_OBJECT
public:
    KSMValidatedViewToolbarItem(const QString& identifier, QWidget* view, QObject* parent = nullptr);

    QWidget* view() const { return view_; }
    QObject* target() const { return target_; }
    void setTarget(QObject* target) { target_ = target; }
    QByteArray actionSignature() const { return action_; }
    void setAction(const char* signature);

    // Whether the target has the action: the toolbar item counterpart of
    // "responds to the selector".
    bool targetRespondsToAction() const;

    void validate();
    void validateView();

    static bool IsControl(const QWidget* view);

private:
    void performAction();

    QPointer<QWidget> view_;
    QPointer<QObject> target_;
    QByteArray action_;
};

// A toolbar that validates the controls of all its visible items.
class KSMValidatedViewToolbar : public QToolBar {
    Q_OBJECT
public:
    explicit KSMValidatedViewToolbar(const QString& title, QWidget* parent = nullptr);

    KSMValidatedViewToolbarItem* addValidatedItem(KSMValidatedViewToolbarItem* item);
    void validateVisibleItems();

protected:
    void showEvent(QShowEvent* event) override;
};
