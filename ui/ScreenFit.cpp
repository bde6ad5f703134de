#include "ui/ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace vantrel {

void ScreenFit::fit(QWidget* window, const QScreen* screen, bool centre) {
    if (!screen) screen = window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // The frame as drawn once the window was shown, or room for one before.
    const QSize drawn = window->frameGeometry().size() - window->size();
    const QSize frame(std::max(drawn.width(), 2 * kFrameWidth),
                      std::max(drawn.height(), kTitleHeight + kFrameWidth));
    const QSize least = window->minimumSize();
    const QSize size(std::max(least.width(), std::min(window->width(), area.width() - frame.width())),
                     std::max(least.height(), std::min(window->height(), area.height() - frame.height())));
    window->resize(size);
    // A window's position is its frame's top-left corner.
    const QSize whole = size + frame;
    QPoint place = window->testAttribute(Qt::WA_Moved) && !centre
                       ? window->pos()
                       : area.center() - QPoint(whole.width() / 2, whole.height() / 2);
    place.setX(std::clamp(place.x(), area.left(), std::max(area.left(), area.right() + 1 - whole.width())));
    place.setY(std::clamp(place.y(), area.top(), std::max(area.top(), area.bottom() + 1 - whole.height())));
    // A window placed inside already keeps its place as given (its client area's, by setGeometry).
    if (!window->testAttribute(Qt::WA_Moved) || place != window->pos()) window->move(place);
}

}  // namespace vantrel
