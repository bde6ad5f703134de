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
    // The client area's room: the frame's sides and title bar stay on the screen too.
    const QRect area =
        screen->availableGeometry().adjusted(kFrameWidth, kTitleHeight, -kFrameWidth, -kFrameWidth);
    const QSize least = window->minimumSize();
    const QSize size(std::max(least.width(), std::min(window->width(), area.width())),
                     std::max(least.height(), std::min(window->height(), area.height())));
    window->resize(size);
    QPoint place = window->testAttribute(Qt::WA_Moved) && !centre
                       ? window->pos()
                       : area.center() - QPoint(size.width() / 2, size.height() / 2);
    place.setX(std::clamp(place.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width())));
    place.setY(std::clamp(place.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height())));
    window->move(place);
}

}  // namespace vantrel
