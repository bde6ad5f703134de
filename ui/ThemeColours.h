#pragma once
// The windows' designed colours and what stands in for them on a dark theme. Every window keeps
// its designed light look while the desktop's theme is light and follows the theme's own colours
// when it is dark, so that its text keeps a contrast of at least 4.5:1 (WCAG 2.1, 1.4.3) either way.
#include <QColor>
#include <QPalette>

class QWidget;

namespace vantrel {

class ThemeColours {
  public:
    // The least contrast of text against what is drawn behind it.
    static constexpr double kMinContrast = 4.5;

    // Whether the palette's window is darker than its text, as in a dark theme.
    static bool dark(const QPalette& palette);
    // The contrast ratio of two colours, from 1 to 21, by their relative luminance (WCAG 2.1).
    static double contrast(const QColor& a, const QColor& b);
    // `designed` on a light theme; the palette's own colour for `role` on a dark one.
    static QColor ground(const QPalette& palette, QPalette::ColorRole role, const QColor& designed);
    // A pale designed background tint (a removed or added line) as is on a light theme; on a dark
    // one, the same hue mixed into the palette's base, dark enough for the theme's light text.
    static QColor tint(const QPalette& palette, const QColor& designed);
    // `colour`, moved toward white or black just as far as it takes to read on `ground`.
    static QColor readable(const QColor& colour, const QColor& ground);
    // Fills `window` with the designed `colour` on a light theme, with the theme's on a dark one.
    static void fillWindow(QWidget* window, const QColor& colour);
};

}  // namespace vantrel
