#pragma once

#include "app/model/NumberFieldFilter.h"

#include <QComboBox>
#include <QLineEdit>

// A text field that keeps its text a number of its kind: after every edit
// the text is checked and corrected at once, and when editing ends the value
// is raised to the kind's lower bound (NumberFieldFilter). Owners listen to
// controlTextDidChange and controlTextDidEndEditing, which come after the
// correction; setText() from code is not filtered and emits neither.
class KSMNumberTextField : public QLineEdit {
    Q_OBJECT
public:
    KSMNumberTextField(NumberFieldKind kind, QWidget* parent = nullptr);

    NumberFieldKind kind() const { return kind_; }

    // Run on every user edit and at the end of editing: correct the text,
    // then tell the owner.
    void textDidChange();
    void textDidEndEditing();

signals:
    void controlTextDidChange();
    void controlTextDidEndEditing();

private:
    NumberFieldKind kind_;
};

// The same rules for an editable combo box.
class KSMNumberComboBox : public QComboBox {
    Q_OBJECT
public:
    KSMNumberComboBox(NumberFieldKind kind, QWidget* parent = nullptr);

    NumberFieldKind kind() const { return kind_; }

    // Run on every user edit and at the end of editing: correct the text,
    // then tell the owner.
    void textDidChange();
    void textDidEndEditing();

signals:
    void controlTextDidChange();
    void controlTextDidEndEditing();

private:
    NumberFieldKind kind_;
};

class WholeNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit WholeNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::WholeNumber, parent) {}
};

class NumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit NumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::Number, parent) {}
};

class ZeroCountNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit ZeroCountNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::ZeroCount, parent) {}
};

class StartDigitNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit StartDigitNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::StartDigit, parent) {}
};

class PageCountNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit PageCountNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::PageCount, parent) {}
};

class FileSizeNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit FileSizeNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::FileSize, parent) {}
};

class ResolutionComboBox : public KSMNumberComboBox {
    Q_OBJECT
public:
    explicit ResolutionComboBox(QWidget* parent = nullptr) : KSMNumberComboBox(NumberFieldKind::Resolution, parent) {}
};

class FontSizeNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit FontSizeNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::FontSize, parent) {}
};

class RotationAngleNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit RotationAngleNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::RotationAngle, parent) {}
};

class ShadowBlurNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit ShadowBlurNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::ShadowBlur, parent) {}
};

class ShadowXOffsetNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit ShadowXOffsetNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::ShadowXOffset, parent) {}
};

class ShadowYOffsetNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit ShadowYOffsetNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::ShadowYOffset, parent) {}
};

class PDFScaleNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit PDFScaleNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::PDFScale, parent) {}
};

class CharSpaceField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit CharSpaceField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::CharSpace, parent) {}
};

class ScaleComboBox : public KSMNumberComboBox {
    Q_OBJECT
public:
    explicit ScaleComboBox(QWidget* parent = nullptr) : KSMNumberComboBox(NumberFieldKind::Scale, parent) {}
};

class PageRangeNumberField : public KSMNumberTextField {
    Q_OBJECT
public:
    explicit PageRangeNumberField(QWidget* parent = nullptr) : KSMNumberTextField(NumberFieldKind::PageRange, parent) {}
};
