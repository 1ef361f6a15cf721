#include "app/ui/NumberFields.h"

namespace {

// Replaces the text only when the filter changed it, keeping the cursor at
// the end of the corrected text as the user typed there.
void ApplyText(QLineEdit* edit, const QString& text) {
    if (edit->text() == text) return;
    edit->setText(text);
}

}  // namespace

KSMNumberTextField::KSMNumberTextField(NumberFieldKind kind, QWidget* parent) : QLineEdit(parent), kind_(kind) {
    connect(this, &QLineEdit::textEdited, this, &KSMNumberTextField::textDidChange);
    connect(this, &QLineEdit::editingFinished, this, &KSMNumberTextField::textDidEndEditing);
}

void KSMNumberTextField::textDidChange() {
    ApplyText(this, FilterNumberFieldText(kind_, text()));
    emit controlTextDidChange();
}

void KSMNumberTextField::textDidEndEditing() {
    ApplyText(this, EndEditingNumberFieldText(kind_, text()));
    emit controlTextDidEndEditing();
}

KSMNumberComboBox::KSMNumberComboBox(NumberFieldKind kind, QWidget* parent) : QComboBox(parent), kind_(kind) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(lineEdit(), &QLineEdit::textEdited, this, &KSMNumberComboBox::textDidChange);
    connect(lineEdit(), &QLineEdit::editingFinished, this, &KSMNumberComboBox::textDidEndEditing);
}

void KSMNumberComboBox::textDidChange() {
    ApplyText(lineEdit(), FilterNumberFieldText(kind_, lineEdit()->text()));
    emit controlTextDidChange();
}

void KSMNumberComboBox::textDidEndEditing() {
    ApplyText(lineEdit(), EndEditingNumberFieldText(kind_, lineEdit()->text()));
    emit controlTextDidEndEditing();
}
