#pragma once
// The application's own images, drawn as SVG files in the resources folder.
// Toolbar and button images are templates: their shapes are drawn in the
// palette's text colour when shown, so they read on light and dark themes
// alike and follow the control's state (dimmed when disabled).

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// The SVG file resources/<name>.svg; empty when it is missing.
QString ImageResourcePath(const QString& name);

// The template image of that name (an icon that renders at any size and
// scale); a null icon when the file is missing or is no SVG image.
QIcon TemplateImage(const QString& name);
// The same drawn in one colour whatever the theme, for controls on a
// background of their own (dimmed when disabled).
QIcon TemplateImage(const QString& name, const QColor& colour);

// The template image's shape filled with one colour, at `size` logical
// pixels for a device pixel ratio; a null pixmap when the image is missing.
QPixmap TemplatePixmap(const QString& name, QSize size, const QColor& colour, qreal devicePixelRatio);

// The application's icon (resources/org.vantrell.Vantrell.svg) at the usual
// icon sizes; a null icon when it is missing.
QIcon ApplicationIcon();
