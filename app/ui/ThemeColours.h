#pragma once
// Colours of the settings outline and the preview window. The light look
// keeps its own fixed shades; under a dark palette (light text on a dark
// window) the shades come from the palette, so text stays readable.

#include <QColor>
#include <QPalette>

// True when the palette draws its window text lighter than its window.
bool IsDarkPalette(const QPalette& palette);

// The background of an outline row `distance` rows below its group row
// (0 is the group row itself).
QColor OutlineBandColor(const QPalette& palette, int distance);
// The outline's background below its last row.
QColor OutlineBackgroundColor(const QPalette& palette);

// A group header's gradient at its top and its bottom, and its title's colour.
QColor HeaderGradientTopColor(const QPalette& palette);
QColor HeaderGradientBottomColor(const QPalette& palette);
QColor HeaderTextColor(const QPalette& palette);

// The preview window's background tone (drawn at opacity 0.95 to 0.7), and
// the colour of its caption and of its small buttons' images.
QColor PreviewBackgroundColor(const QPalette& palette);
QColor PreviewInkColor(const QPalette& palette);

// The placeholder colour of text fields under `palette`: the palette's own
// when it reads on the fields' background, else the text colour halfway
// to that background (a dark theme that keeps the light default would
// leave placeholders nearly invisible).
QColor ReadablePlaceholderColor(const QPalette& palette);

// Keeps the application's placeholder colour readable through every
// palette change (a theme switched while the application runs included).
void KeepPlaceholdersReadable();
