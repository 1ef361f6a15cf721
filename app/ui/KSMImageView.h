#pragma once
// The big image view of the main window: the current image fitted into the
// view, or a picture that says why there is none (drop images here, or the
// image cannot be shown).

#include "app/model/ListViewBaseCellEntity.h"

#include <QWidget>

class KSMImageView : public QWidget {
    Q_OBJECT
public:
    enum class Placeholder { DropImage, EmptyImage };

    explicit KSMImageView(QWidget* parent = nullptr);

    // Shows these turned pixels, fitted into the view.
    void setImage(ThumbnailRef pixels);
    // Shows a placeholder instead of an image.
    void showPlaceholder(Placeholder placeholder);
    bool hasImage() const { return bool(pixels_); }
    Placeholder placeholder() const { return placeholder_; }
    ThumbnailRef image() const { return pixels_; }
    // Where the image is drawn inside the view.
    QRectF imageRect() const;

signals:
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ThumbnailRef pixels_;
    Placeholder placeholder_ = Placeholder::DropImage;
};
