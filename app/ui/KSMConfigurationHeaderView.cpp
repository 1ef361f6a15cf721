#include "app/ui/KSMConfigurationHeaderView.h"

#include "app/ui/OnOffSwitchControl.h"
#include "app/ui/ThemeColours.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

KSMConfigurationHeaderView::KSMConfigurationHeaderView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("HeaderView"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 8, 2);
    textField_ = new QLabel(this);
    textField_->setObjectName(QStringLiteral("textField"));
    textField_->setTextFormat(Qt::PlainText);
    QFont font = textField_->font();
    font.setBold(true);
    textField_->setFont(font);
    applyTitleColour();
    layout->addWidget(textField_, 1);
    onOffSwitchButtonOutlet_ = new OnOffSwitchControl(this);
    onOffSwitchButtonOutlet_->setObjectName(QStringLiteral("onOffSwitchButtonOutlet"));
    layout->addWidget(onOffSwitchButtonOutlet_, 0, Qt::AlignVCenter);
}

// An embossed look for the title on the gradient.
void KSMConfigurationHeaderView::applyTitleColour() {
    QPalette palette = textField_->palette();
    palette.setColor(QPalette::WindowText, HeaderTextColor(this->palette()));
    textField_->setPalette(palette);
}

void KSMConfigurationHeaderView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyTitleColour();
}

void KSMConfigurationHeaderView::paintEvent(QPaintEvent* event) {
    // The gradient spans the whole header; only the part being redrawn is
    // filled, so partial repaints match the rest.
    QLinearGradient gradient(QPointF(0, 0), QPointF(0, height()));
    gradient.setColorAt(0.0, HeaderGradientTopColor(palette()));
    gradient.setColorAt(1.0, HeaderGradientBottomColor(palette()));
    QPainter painter(this);
    painter.fillRect(event->rect(), gradient);
}

KSMConfigurationHeaderRowView::KSMConfigurationHeaderRowView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("HeaderRowView"));
}

QAbstractButton* KSMConfigurationHeaderRowView::disclosureButton() const {
    const auto buttons = findChildren<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    return buttons.isEmpty() ? nullptr : buttons.first();
}

void KSMConfigurationHeaderRowView::updateButtonState() {
    if (QAbstractButton* button = disclosureButton()) button->setDown(pressed_);
}

void KSMConfigurationHeaderRowView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressed_ = true;
    updateButtonState();
    event->accept();
}

void KSMConfigurationHeaderRowView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    pressed_ = rect().contains(event->position().toPoint());
    updateButtonState();
    event->accept();
}

void KSMConfigurationHeaderRowView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool wasPressed = pressed_;
    pressed_ = false;
    updateButtonState();
    if (wasPressed) {
        if (QAbstractButton* button = disclosureButton()) button->click();
    }
    event->accept();
}
