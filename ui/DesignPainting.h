#pragma once
// How a picture's SVG design is drawn into device pixels: one recipe for the program and for the
// picture baker, whose pixels must be the program's own.
#include <QPaintDevice>
#include <QPainter>
#include <QSvgRenderer>

namespace vantrel {

// Draws `design` over the whole of `device`, which the caller has cleared.
inline void PaintDesign(QSvgRenderer& design, QPaintDevice& device) {
    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    design.render(&painter, QRectF(0, 0, device.width(), device.height()));
}

}  // namespace vantrel
