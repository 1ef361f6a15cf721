#include "app/ui/PreviewWindow.h"

#include "app/model/PreviewWindowFit.h"
#include "app/model/StringTable.h"
#include "app/ui/ResourceImages.h"
#include "app/ui/SegmentedControl.h"
#include "app/ui/ThemeColours.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QScreen>
#include <QSizeGrip>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
// The bar above the image; with the margin below the image it makes the
// chrome height of the fitting.
constexpr int kBarHeight = 35;
constexpr int kMinimumWidth = 260;
constexpr int kBottomMargin = static_cast<int>(kPreviewChromeHeight) - kBarHeight;
constexpr int kSideMargin = static_cast<int>(kPreviewSideMargins) / 2;
// The property holding a bar button's image name, for drawing it again in
// a new theme's ink.
constexpr char kImageProperty[] = "vantrellImage";
// A small flat button of the bar showing only a 12 x 12 image; its text
// is its tool tip and its name for screen readers.
QToolButton* SmallImageButton(const char* outlet, const char* image, const char* titleKey, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(outlet));
    button->setText(LocalizedString(titleKey));
    button->setToolTip(button->text());
    button->setAccessibleName(button->text());
    button->setProperty(kImageProperty, QLatin1String(image));
    button->setIconSize(QSize(12, 12));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    // Window chrome, like a title bar's buttons: the mouse's, not the keyboard's.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// The bar lies on the window's own background, not on the theme's: the
// buttons' images, their hover and press panels and the caption take the
// ink that reads on it.
void ApplyBarInk(QToolButton* button, const QColor& ink, const QColor& panel) {
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, panel);
    palette.setColor(QPalette::ButtonText, ink);
    button->setPalette(palette);
    button->setIcon(TemplateImage(button->property(kImageProperty).toString(), ink));
}

}  // namespace

PreviewView::PreviewView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PreviewView"));
    setAttribute(Qt::WA_TranslucentBackground);
}

void PreviewView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(rect()), 5.0, 5.0);
    painter.setClipPath(rounded);
    // Angle 270: from the top down.
    QLinearGradient gradient(0, 0, 0, height());
    QColor tone = PreviewBackgroundColor(palette());
    tone.setAlphaF(0.95f);
    gradient.setColorAt(0.0, tone);
    tone.setAlphaF(0.7f);
    gradient.setColorAt(1.0, tone);
    painter.fillRect(rect(), gradient);
}

PreviewImageView::PreviewImageView(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("previewImageView"));
    setMinimumSize(1, 1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

void PreviewImageView::setImage(const QImage& image) {
    image_ = image;
    update();
}

void PreviewImageView::clearImage() {
    image_ = QImage();
    update();
}

void PreviewImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QSizeF size = image_.size().toSizeF() / image_.devicePixelRatio();
    if (size.width() > width() || size.height() > height()) size.scale(QSizeF(this->size()), Qt::KeepAspectRatio);
    const QRectF target((width() - size.width()) / 2.0, (height() - size.height()) / 2.0, size.width(),
                        size.height());
    painter.drawImage(target, image_);
}

PreviewCaptionLabel::PreviewCaptionLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

QString PreviewCaptionLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void PreviewCaptionLabel::updateToolTip() {
    setToolTip(shownText() == text() ? QString() : text());
}

void PreviewCaptionLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(contentsRect(), static_cast<int>(alignment()), shownText());
    // setText() repaints: the tip follows each new text here.
    updateToolTip();
}

void PreviewCaptionLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

PreviewWindow::PreviewWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("previewWindow"));
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(LocalizedString("PreviewButtonTitle"));
    setMinimumSize(kMinimumWidth, 160);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* background = new PreviewView(this);
    outer->addWidget(background);

    auto* layout = new QVBoxLayout(background);
    layout->setContentsMargins(kSideMargin, 0, kSideMargin, 0);
    layout->setSpacing(0);

    auto* bar = new QWidget(background);
    bar->setFixedHeight(kBarHeight);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(0, 4, 0, 4);
    previewCloseButtonOutlet =
        SmallImageButton("previewCloseButtonOutlet", "RemoveAll", "PreviewCloseButtonTitle", bar);
    barLayout->addWidget(previewCloseButtonOutlet);
    fullScreenPreviewToggleButton =
        SmallImageButton("fullScreenPreviewToggleButton", "Add", "PreviewToggleSizeButtonTitle", bar);
    barLayout->addWidget(fullScreenPreviewToggleButton);
    previewNextPreviousButton = new SegmentedControl(2, bar);
    previewNextPreviousButton->setObjectName(QStringLiteral("previewNextPreviousButton"));
    previewNextPreviousButton->setLabel(0, LocalizedString("PreviewPreviousSegmentLabel"));
    previewNextPreviousButton->setLabel(1, LocalizedString("PreviewNextSegmentLabel"));
    barLayout->addWidget(previewNextPreviousButton);
    PreviewStringStaticText = new PreviewCaptionLabel(bar);
    PreviewStringStaticText->setObjectName(QStringLiteral("PreviewStringStaticText"));
    PreviewStringStaticText->setAlignment(Qt::AlignCenter);
    PreviewStringStaticText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    barLayout->addWidget(PreviewStringStaticText, 1);
    spinProgressIndicator = new QProgressBar(bar);
    spinProgressIndicator->setObjectName(QStringLiteral("spinProgressIndicator"));
    spinProgressIndicator->setRange(0, 0);
    spinProgressIndicator->setTextVisible(false);
    spinProgressIndicator->setFixedWidth(48);
    spinProgressIndicator->setAccessibleName(LocalizedString("PreviewButtonTitle"));
    spinProgressIndicator->hide();
    barLayout->addWidget(spinProgressIndicator);
    layout->addWidget(bar);

    previewImageView = new PreviewImageView(background);
    layout->addWidget(previewImageView, 1);

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addStretch(1);
    auto* grip = new QSizeGrip(background);
    grip->setFixedSize(kBottomMargin, kBottomMargin);
    bottom->addWidget(grip, 0, Qt::AlignBottom | Qt::AlignRight);
    layout->addLayout(bottom);

    applyThemeColours();

    connect(previewNextPreviousButton, &SegmentedControl::activated, this, &PreviewWindow::nextPrevious);
    connect(fullScreenPreviewToggleButton, &QToolButton::clicked, this, &PreviewWindow::toggleFrame);
    connect(previewCloseButtonOutlet, &QToolButton::clicked, this, &QWidget::close);
}

void PreviewWindow::applyThemeColours() {
    const QColor ink = PreviewInkColor(palette());
    const QColor panel = IsDarkPalette(palette()) ? palette().color(QPalette::Active, QPalette::Button)
                                                  : QColor(214, 214, 214);
    ApplyBarInk(previewCloseButtonOutlet, ink, panel);
    ApplyBarInk(fullScreenPreviewToggleButton, ink, panel);
    QPalette caption = PreviewStringStaticText->palette();
    caption.setColor(QPalette::WindowText, ink);
    PreviewStringStaticText->setPalette(caption);
}

void PreviewWindow::setFrameByProgram(const QRect& frame) {
    settingFrame_ = true;
    setGeometry(frame);
    settingFrame_ = false;
}

void PreviewWindow::setCaption(const QString& caption) {
    PreviewStringStaticText->setText(caption);
    // The bar's other controls and the margins around it.
    const QLayout* bar = PreviewStringStaticText->parentWidget()->layout();
    int chrome = 2 * kSideMargin + bar->contentsMargins().left() + bar->contentsMargins().right();
    for (int i = 0; i < bar->count(); ++i) {
        const QWidget* control = bar->itemAt(i)->widget();
        if (!control || control == PreviewStringStaticText || control->isHidden()) continue;
        chrome += control->sizeHint().width() + std::max(0, bar->spacing());
    }
    const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    const int room = shownOn ? shownOn->availableGeometry().width() - chrome : QWIDGETSIZE_MAX;
    const int wanted = PreviewStringStaticText->fontMetrics().horizontalAdvance(caption) + 4;
    const int width = std::clamp(wanted, 0, std::max(0, room));
    PreviewStringStaticText->setMinimumWidth(width);
    settingFrame_ = true;
    setMinimumWidth(std::max(kMinimumWidth, chrome + width));
    settingFrame_ = false;
}

void PreviewWindow::mousePressEvent(QMouseEvent* event) {
    // Taken here, so the moves of this press come here too.
    initialLocation_ = event->position().toPoint();
    event->accept();
}

void PreviewWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    QPoint origin = event->globalPosition().toPoint() - initialLocation_;
    // The top edge stops at the top of the screen's visible part.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        origin.setY(std::max(origin.y(), screen->availableGeometry().top()));
    }
    move(origin);
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!settingFrame_ && isVisible()) emit windowWillResize();
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    emit windowWillClose();
}

// Without a title bar, Escape is the keyboard's way to close the window.
void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PreviewWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) emit fullScreenChanged(isFullScreen());
    if (event->type() == QEvent::PaletteChange) applyThemeColours();
}
