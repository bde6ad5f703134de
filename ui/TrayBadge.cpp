#include "ui/TrayBadge.h"

#include <QPainter>
#include <QPen>
#include <cmath>

namespace vantrel {

namespace {

// A badge's diameter as a share of the icon's side: large enough to be seen at 16 pixels, small
// enough to leave the icon recognisable.
constexpr qreal kBadgeShare = 0.5;

// A disc with a white rim in the corner `corner` (logical coordinates of a `side` square).
QRectF discAt(qreal side, bool top) {
    const qreal d = side * kBadgeShare;
    return QRectF(side - d, top ? 0 : side - d, d, d);
}

void paintDisc(QPainter& painter, const QRectF& disc, QRgb color) {
    const qreal rim = std::max<qreal>(1.0, disc.width() / 8);
    painter.setPen(QPen(Qt::white, rim));
    painter.setBrush(QColor::fromRgba(color));
    painter.drawEllipse(disc.adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2));
}

}  // namespace

const QList<int>& TrayBadge::sizes() {
    static const QList<int> kSizes = {16, 22, 24, 32, 48, 64};
    return kSizes;
}

QPixmap TrayBadge::paint(const QPixmap& base, Badges badges) {
    QPixmap pixmap = base.copy();
    pixmap.setDevicePixelRatio(base.devicePixelRatio());
    if (!badges.offline && !badges.changed) return pixmap;
    const qreal side = pixmap.width() / pixmap.devicePixelRatio();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (badges.offline) {
        // A cross, so the badge does not rest on its colour alone.
        const QRectF disc = discAt(side, false);
        paintDisc(painter, disc, kOfflineColor);
        const qreal arm = disc.width() * 0.2;
        painter.setPen(QPen(Qt::white, std::max<qreal>(1.0, disc.width() / 7), Qt::SolidLine, Qt::RoundCap));
        const QPointF c = disc.center();
        painter.drawLine(c + QPointF(-arm, -arm), c + QPointF(arm, arm));
        painter.drawLine(c + QPointF(-arm, arm), c + QPointF(arm, -arm));
    }
    if (badges.changed) {
        const QRectF disc = discAt(side, true);
        paintDisc(painter, disc, kChangedColor);
        const qreal dot = disc.width() * 0.18;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(disc.center(), dot, dot);
    }
    return pixmap;
}

QIcon TrayBadge::badged(const QIcon& plain, Badges badges) {
    if (!badges.offline && !badges.changed) return plain;
    QIcon icon;
    for (const int size : sizes()) {
        for (const qreal ratio : {1.0, 2.0}) {
            QPixmap base = plain.pixmap(QSize(size, size), ratio);
            if (base.isNull()) continue;
            // The engine may hand a pixmap of another size when it has none of this one.
            const int devicePixels = static_cast<int>(std::lround(size * ratio));
            if (base.width() != devicePixels)
                base = base.scaled(devicePixels, devicePixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            base.setDevicePixelRatio(ratio);
            icon.addPixmap(paint(base, badges));
        }
    }
    return icon;
}

}  // namespace vantrel
