#include "app/ui/SegmentedControl.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

SegmentedControl::SegmentedControl(int segmentCount, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    column->addLayout(layout);
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("caption"));
    caption_->setTextFormat(Qt::PlainText);
    caption_->setAlignment(Qt::AlignCenter);
    caption_->hide();
    column->addWidget(caption_);
    for (int i = 0; i < segmentCount; ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("segment%1").arg(i));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        connect(button, &QToolButton::clicked, this, [this, i] {
            selectedSegment_ = i;
            emit activated(i);
        });
        layout->addWidget(button);
        segments_.push_back(button);
    }
}

QToolButton* SegmentedControl::segment(int index) const {
    if (index < 0 || index >= segmentCount()) return nullptr;
    return segments_[static_cast<std::size_t>(index)];
}

void SegmentedControl::setLabel(int index, const QString& label) {
    if (QToolButton* button = segment(index)) button->setText(label);
}

void SegmentedControl::setCaption(const QString& caption) {
    caption_->setText(caption);
    caption_->setVisible(!caption.isEmpty());
}

void SegmentedControl::setToolTip(int index, const QString& toolTip) {
    if (QToolButton* button = segment(index)) button->setToolTip(toolTip);
}

void SegmentedControl::setEnabled(int index, bool enabled) {
    if (QToolButton* button = segment(index)) button->setEnabled(enabled);
}

bool SegmentedControl::isEnabled(int index) const {
    const QToolButton* button = segment(index);
    return button && button->isEnabled();
}
