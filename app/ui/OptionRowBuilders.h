#pragma once
// Small builders shared by the option-row panels: named widgets, labels
// paired with their controls, popups with tagged items, number fields and
// steppers, and the rows' layouts.

#include "app/model/StringTable.h"
#include "app/ui/KSMStepper.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include <cstddef>

namespace optionrow {

inline constexpr int kMargin = 8;
inline constexpr int kSpacing = 6;
inline constexpr int kNumberFieldWidth = 56;

// A popup item: its title (a string-table key, or a title as it stands) and tag.
struct MenuItem {
    const char* title;
    int tag;
    bool localized = true;
};

template <typename T>
T* Named(T* widget, const char* outlet) {
    widget->setObjectName(QLatin1String(outlet));
    return widget;
}

inline QLabel* Label(const char* outlet, const char* key, QWidget* parent) {
    auto* label = Named(new QLabel(LocalizedString(key), parent), outlet);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A label names its control for screen readers and keyboard users.
// Names a control for assistive tools; an editable combo box's text field
// and a combo box's list of choices are controls of their own and take the
// same name.
inline void SetAccessibleName(QWidget* control, const QString& name) {
    control->setAccessibleName(name);
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        if (combo->lineEdit()) combo->lineEdit()->setAccessibleName(name);
        combo->view()->setAccessibleName(name);
    }
}

inline void Pair(QLabel* label, QWidget* control) {
    label->setBuddy(control);
    SetAccessibleName(control, label->text().remove(QLatin1Char(':')));
}

template <std::size_t N>
QComboBox* Popup(const char* outlet, const MenuItem (&items)[N], QWidget* parent) {
    auto* popup = Named(new QComboBox(parent), outlet);
    for (const MenuItem& item : items) {
        popup->addItem(item.localized ? LocalizedString(item.title) : QString::fromUtf8(item.title), item.tag);
    }
    return popup;
}

inline int TagOf(const QComboBox* popup, int index) {
    return popup->itemData(index).toInt();
}

inline void SelectTag(QComboBox* popup, int tag) {
    const int index = popup->findData(tag);
    if (index >= 0 && popup->currentIndex() != index) popup->setCurrentIndex(index);
}

inline void ShowText(QLineEdit* edit, const QString& text) {
    if (edit->text() != text) edit->setText(text);
}

inline KSMStepper* Stepper(const char* outlet, int minimum, int maximum, const QString& name, QWidget* parent) {
    auto* stepper = Named(new KSMStepper(parent), outlet);
    stepper->setRange(minimum, maximum);
    stepper->setAccessibleName(name);
    return stepper;
}

template <typename Field>
Field* NumberInput(const char* outlet, QWidget* parent) {
    auto* field = Named(new Field(parent), outlet);
    field->setFixedWidth(kNumberFieldWidth);
    field->setAlignment(Qt::AlignRight);
    return field;
}

inline QWidget* Panel(const char* outlet, QWidget* store) {
    auto* panel = Named(new QWidget(store), outlet);
    panel->setAutoFillBackground(false);
    return panel;
}

inline QHBoxLayout* RowLayout(QWidget* panel) {
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(kMargin, 4, kMargin, 4);
    layout->setSpacing(kSpacing);
    return layout;
}

inline QGridLayout* GridLayout(QWidget* panel) {
    auto* layout = new QGridLayout(panel);
    layout->setContentsMargins(kMargin, 4, kMargin, 4);
    layout->setHorizontalSpacing(kSpacing);
    layout->setVerticalSpacing(4);
    return layout;
}

}  // namespace optionrow
