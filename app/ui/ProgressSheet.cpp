#include "app/ui/ProgressSheet.h"

#include "app/model/BatchProgress.h"
#include "app/model/StringTable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

ProgressSheet::ProgressSheet(QWidget* window) : QDialog(window) {
    setObjectName(QStringLiteral("conversionProgressSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(LocalizedString("MainWindowTitle"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(10);

    conversionProgressStaticText = new QLabel(this);
    conversionProgressStaticText->setObjectName(QStringLiteral("conversionProgressStaticText"));
    conversionProgressStaticText->setTextFormat(Qt::PlainText);
    conversionProgressStaticText->setMinimumWidth(380);
    // A long file name is cut in the middle rather than widening the sheet.
    conversionProgressStaticText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(conversionProgressStaticText);

    conversionProgressIndicator = new QProgressBar(this);
    conversionProgressIndicator->setObjectName(QStringLiteral("conversionProgressIndicator"));
    conversionProgressIndicator->setTextVisible(false);
    conversionProgressIndicator->setAccessibleName(LocalizedString("ConvertToolbarItemLabel"));
    layout->addWidget(conversionProgressIndicator);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancelButton = new QPushButton(LocalizedString("CancelTitle"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    connect(cancelButton, &QPushButton::clicked, this, &ProgressSheet::cancelPressed);
    setFixedWidth(440);
}

void ProgressSheet::showState(const ProgressSheetState& state) {
    const QFontMetrics metrics(conversionProgressStaticText->font());
    conversionProgressStaticText->setText(
        metrics.elidedText(state.text, Qt::ElideMiddle, conversionProgressStaticText->width()));
    conversionProgressStaticText->setToolTip(state.text);
    if (state.indeterminate) {
        conversionProgressIndicator->setRange(0, 0);
    } else {
        const auto clamp = [](std::int64_t v) {
            return static_cast<int>(std::min<std::int64_t>(v, std::numeric_limits<int>::max()));
        };
        conversionProgressIndicator->setRange(0, clamp(state.maximum));
        conversionProgressIndicator->setValue(clamp(std::min(state.value, state.maximum)));
    }
    cancelButton->setEnabled(state.cancelEnabled);
    if (state.visible && !isVisible() && !held_) open();
    if (!state.visible && isVisible()) QDialog::done(QDialog::Accepted);
}

void ProgressSheet::reject() {
    if (cancelButton->isEnabled()) emit cancelPressed();
}
