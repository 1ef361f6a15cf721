#pragma once

#include <QSpinBox>

// Up and down arrows without a text of their own: the number field beside
// them shows the value. valueChanged() comes from the arrows and the keys.
class KSMStepper : public QSpinBox {
    Q_OBJECT
public:
    explicit KSMStepper(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};
