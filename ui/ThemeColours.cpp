#include "ui/ThemeColours.h"

#include <QWidget>
#include <cmath>

namespace vantrel {

namespace {

// WCAG 2.1 relative luminance of an sRGB colour.
double luminance(const QColor& colour) {
    const auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

QColor mix(const QColor& a, const QColor& b, double share) {
    const auto part = [share](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * share)); };
    return QColor(part(a.red(), b.red()), part(a.green(), b.green()), part(a.blue(), b.blue()));
}

}  // namespace

bool ThemeColours::dark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

double ThemeColours::contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ThemeColours::ground(const QPalette& palette, QPalette::ColorRole role, const QColor& designed) {
    return dark(palette) ? palette.color(role) : designed;
}

QColor ThemeColours::tint(const QPalette& palette, const QColor& designed) {
    if (!dark(palette)) return designed;
    // A quarter of the hue at full strength: clearly red or green, yet dark under light text.
    const QColor hue = QColor::fromHsl(designed.hslHue(), 255, 128);
    return readable(mix(palette.color(QPalette::Base), hue, 0.25), palette.color(QPalette::Text));
}

QColor ThemeColours::readable(const QColor& colour, const QColor& ground) {
    const QColor away = luminance(ground) < 0.18 ? QColor(Qt::white) : QColor(Qt::black);
    // Twenty steps reach black or white, which reads on any ground at 4.5:1 or better.
    constexpr int kSteps = 20;
    for (int step = 0; step < kSteps; ++step) {
        const QColor moved = mix(colour, away, double(step) / kSteps);
        if (contrast(moved, ground) >= kMinContrast) return moved;
    }
    return away;
}

void ThemeColours::fillWindow(QWidget* window, const QColor& colour) {
    QPalette palette = window->palette();
    if (!dark(palette)) {
        palette.setColor(QPalette::Window, colour);
        window->setPalette(palette);
    }
    window->setAutoFillBackground(true);
}

}  // namespace vantrel
