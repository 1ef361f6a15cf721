#include "app/ui/ResourceImages.h"

#include "platform/Bundle.h"

#include <QApplication>
#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

#include <map>
#include <memory>
#include <optional>
#include <tuple>

namespace {

constexpr const char* kApplicationIconName = "org.vantrell.Vantrell";

// Renders the SVG into a transparent image of exactly `pixels` device pixels,
// the drawing centred and kept in proportion.
QImage RenderSvg(QSvgRenderer& renderer, QSize pixels) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (pixels.isEmpty()) return image;
    QSizeF drawn = renderer.defaultSize();
    if (drawn.isEmpty()) drawn = QSizeF(pixels);
    drawn.scale(QSizeF(pixels), Qt::KeepAspectRatio);
    QPainter painter(&image);
    renderer.render(&painter, QRectF((pixels.width() - drawn.width()) / 2.0, (pixels.height() - drawn.height()) / 2.0,
                                     drawn.width(), drawn.height()));
    return image;
}

QImage Tinted(QImage shape, const QColor& colour) {
    QPainter painter(&shape);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(shape.rect(), colour);
    return shape;
}

// The colour a template image takes for a control's state, from the
// application's palette at the time it is drawn (a theme change is followed).
QColor TemplateColour(QIcon::Mode mode) {
    const QPalette palette = QApplication::palette();
    switch (mode) {
    case QIcon::Disabled: return palette.color(QPalette::Disabled, QPalette::ButtonText);
    case QIcon::Selected: return palette.color(QPalette::Active, QPalette::HighlightedText);
    case QIcon::Normal:
    case QIcon::Active: break;
    }
    return palette.color(QPalette::Active, QPalette::ButtonText);
}

class TemplateIconEngine : public QIconEngine {
public:
    explicit TemplateIconEngine(std::shared_ptr<QSvgRenderer> renderer, std::optional<QColor> fixed = std::nullopt)
        : renderer_(std::move(renderer)), fixed_(fixed) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmap((QSizeF(rect.size()) * ratio).toSize(), mode, state));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        // Controls ask again at every repaint: the last few drawings are kept.
        const QColor ink = colour(mode);
        const auto key = std::make_tuple(size.width(), size.height(), ink.rgba());
        if (const auto found = drawn_.find(key); found != drawn_.end()) return found->second;
        if (drawn_.size() >= kDrawingsKept) drawn_.clear();
        QPixmap drawing = QPixmap::fromImage(Tinted(RenderSvg(*renderer_, size), ink));
        drawn_.emplace(key, drawing);
        return drawing;
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        // `size` is already in device pixels: drawn at that size, the shape
        // stays sharp at fractional scale factors.
        QPixmap drawn = pixmap(size, mode, state);
        drawn.setDevicePixelRatio(scale);
        return drawn;
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new TemplateIconEngine(renderer_, fixed_); }
    QString key() const override { return QStringLiteral("VantrellTemplate"); }
    bool isNull() override { return !renderer_->isValid(); }

private:
    QColor colour(QIcon::Mode mode) const {
        if (!fixed_) return TemplateColour(mode);
        QColor colour = *fixed_;
        if (mode == QIcon::Disabled) colour.setAlphaF(colour.alphaF() * 0.4f);
        return colour;
    }

    static constexpr std::size_t kDrawingsKept = 8;
    std::shared_ptr<QSvgRenderer> renderer_;
    std::optional<QColor> fixed_;
    std::map<std::tuple<int, int, QRgb>, QPixmap> drawn_;
};

std::shared_ptr<QSvgRenderer> LoadSvg(const QString& name) {
    const QString path = ImageResourcePath(name);
    if (path.isEmpty()) return nullptr;
    auto renderer = std::make_shared<QSvgRenderer>(path);
    return renderer->isValid() ? renderer : nullptr;
}

}  // namespace

QString ImageResourcePath(const QString& name) {
    const auto path = plat::Bundle::pathForResource(name.toStdString(), "svg");
    return path.empty() ? QString() : QFile::decodeName(path.c_str());
}

QIcon TemplateImage(const QString& name) {
    auto renderer = LoadSvg(name);
    return renderer ? QIcon(new TemplateIconEngine(std::move(renderer))) : QIcon();
}

QIcon TemplateImage(const QString& name, const QColor& colour) {
    auto renderer = LoadSvg(name);
    return renderer ? QIcon(new TemplateIconEngine(std::move(renderer), colour)) : QIcon();
}

QPixmap TemplatePixmap(const QString& name, QSize size, const QColor& colour, qreal devicePixelRatio) {
    auto renderer = LoadSvg(name);
    if (!renderer || size.isEmpty()) return {};
    const QSize pixels = (QSizeF(size) * devicePixelRatio).toSize();
    QPixmap pixmap = QPixmap::fromImage(Tinted(RenderSvg(*renderer, pixels), colour));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon ApplicationIcon() {
    auto renderer = LoadSvg(QLatin1String(kApplicationIconName));
    if (!renderer) return {};
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256, 512}) {
        icon.addPixmap(QPixmap::fromImage(RenderSvg(*renderer, QSize(side, side))));
    }
    return icon;
}
