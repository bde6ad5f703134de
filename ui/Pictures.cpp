#include "ui/Pictures.h"

#include <QApplication>
#include <QFont>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <cmath>
#include <iterator>
#include <utility>

#include "ui/BakedPictures.h"
#include "ui/DesignPainting.h"
#include "ui/ThemeColours.h"

// The pictures live in a resource compiled into the static `ui` library; a static library's
// resources are only registered when someone asks for them, and the macro must be used outside
// any namespace.
static void initPictureResources() {
    Q_INIT_RESOURCE(pictures);
}

namespace vantrel {

namespace {

// Below this many device pixels the designs drawn on a 16-pixel grid look sharper than the
// detailed ones scaled down.
constexpr int kSmallDesignMaxPixels = 24;
constexpr QSize kLogoSize(300, 50);
constexpr QSize kLogoMarkSize(56, 50);
constexpr int kLogoTextLeft = 62;
constexpr int kLogoTextPixelSize = 34;
const QColor kLogoTextColor(49, 69, 107);

void ensureResources() {
    static const bool registered = (initPictureResources(), true);
    (void)registered;
}

QString picturePath(const char* name) {
    return QStringLiteral(":/vantrel/pictures/") + QLatin1String(name) + QStringLiteral(".svg");
}

// The design at `path` as rendered at build time at `device` size, if it was; else null.
QPixmap bakedPicture(const QString& path, QSize device) {
    if (device.width() != device.height()) return {};
    for (size_t i = 0; i < kBakedPictureCount; ++i) {
        const BakedPicture& baked = kBakedPictures[i];
        if (baked.side != device.width() || path != picturePath(baked.design)) continue;
        const QImage pixels(reinterpret_cast<const uchar*>(baked.pixels), baked.side, baked.side,
                            baked.side * static_cast<int>(sizeof(uint32_t)),
                            QImage::Format_ARGB32_Premultiplied);
        return QPixmap::fromImage(pixels);  // a copy: the image only wraps the baked pixels
    }
    return {};
}

// Renders an SVG into a pixmap of `logical` size times `dpr` device pixels, or takes it from the
// pictures baked at build time, and caches it: the list asks for the same few pictures on every
// repaint.
QPixmap renderSvg(const QString& path, QSize logical, qreal dpr) {
    ensureResources();
    if (logical.isEmpty() || !(dpr > 0)) return {};
    const QString key = path + QLatin1Char('|') + QString::number(logical.width()) + QLatin1Char('x') +
                        QString::number(logical.height()) + QLatin1Char('@') + QString::number(dpr);
    static QHash<QString, QPixmap> cache;
    if (auto it = cache.constFind(key); it != cache.constEnd()) return *it;

    const QSize device(static_cast<int>(std::ceil(logical.width() * dpr)),
                       static_cast<int>(std::ceil(logical.height() * dpr)));
    QPixmap pixmap = bakedPicture(path, device);
    if (pixmap.isNull()) {
        QSvgRenderer renderer(path);
        if (!renderer.isValid()) return {};
        pixmap = QPixmap(device);
        pixmap.fill(Qt::transparent);
        PaintDesign(renderer, pixmap);
    }
    pixmap.setDevicePixelRatio(dpr);
    cache.insert(key, pixmap);
    return pixmap;
}

// Picks the design drawn for small sizes or the detailed one, by the device pixels it fills.
QString designFor(int devicePixels, const char* small, const char* large) {
    return picturePath(devicePixels <= kSmallDesignMaxPixels ? small : large);
}

// An icon drawn from its two designs at whatever size it is asked for, when it is asked for: a
// program started hidden renders only the one size of its notification-area icon, and the main
// window's pictures wait until the window is first shown.
class DesignIconEngine : public QIconEngine {
  public:
    DesignIconEngine(const char* small, const char* large, QList<QSize> sizes)
        : small_(small), large_(large), sizes_(std::move(sizes)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal dpr = painter->device()->devicePixelRatioF();
        QPixmap drawn = scaledPixmap(rect.size() * dpr, mode, state, dpr);
        painter->drawPixmap(rect, drawn);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // `size` is in device pixels; the pixmap comes back with a ratio of 1 (QIcon sets its own).
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal) override {
        const int side = std::min(size.width(), size.height());
        QPixmap drawn = renderSvg(designFor(side, small_, large_), QSize(side, side), 1.0);
        if (mode == QIcon::Normal || drawn.isNull() ||
            !qobject_cast<QApplication*>(QCoreApplication::instance()))
            return drawn;
        // Greyed (disabled) or tinted (selected) as the style draws them, and kept here: the
        // program keeps nothing in QPixmapCache (see TrayNotifier).
        const QString key = QLatin1String(small_) + QLatin1Char('|') + QString::number(side) +
                            QLatin1Char('|') + QString::number(mode);
        static QHash<QString, QPixmap> styledCache;
        if (auto it = styledCache.constFind(key); it != styledCache.constEnd()) return *it;
        QStyleOption option(0);
        option.palette = QGuiApplication::palette();
        const QPixmap styled = QApplication::style()->generatedIconPixmap(mode, drawn, &option);
        styledCache.insert(key, styled);
        return styled;
    }

    // Square, as the designs are: QIcon::paint() centres it in a rect of another shape (the
    // notification area may offer 22 x 30) rather than stretching it.
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return QSize(side, side);
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return sizes_; }
    bool isNull() override { return false; }
    QIconEngine* clone() const override { return new DesignIconEngine(*this); }
    QString key() const override { return QStringLiteral("vantrel-design"); }

  private:
    DesignIconEngine(const DesignIconEngine&) = default;

    const char* small_;
    const char* large_;
    QList<QSize> sizes_;
};

QIcon iconFromDesigns(const char* small, const char* large, std::initializer_list<int> sizes) {
    QList<QSize> listed;
    for (int size : sizes) listed.append(QSize(size, size));
    return QIcon(new DesignIconEngine(small, large, std::move(listed)));
}

}  // namespace

QPixmap Pictures::statusImage(int index, int size, qreal devicePixelRatio) {
    static const char* const kSmall[] = {"globe-online-16", "globe-changed-16", "globe-offline-16",
                                         "globe-blue-16"};
    static const char* const kLarge[] = {"globe-online", "globe-changed", "globe-offline", "globe-blue"};
    if (index < 0 || index > 3 || size <= 0) return {};
    const int devicePixels = static_cast<int>(std::lround(size * devicePixelRatio));
    return renderSvg(designFor(devicePixels, kSmall[index], kLarge[index]), QSize(size, size),
                     devicePixelRatio);
}

QPixmap Pictures::logo(qreal devicePixelRatio, const QColor& ground) {
    const QPixmap mark = renderSvg(picturePath("logo-mark"), kLogoMarkSize, devicePixelRatio);
    if (mark.isNull()) return {};
    QPixmap pixmap(QSize(static_cast<int>(std::ceil(kLogoSize.width() * devicePixelRatio)),
                         static_cast<int>(std::ceil(kLogoSize.height() * devicePixelRatio))));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(ground);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.drawPixmap(0, 0, mark);
    QFont font(QStringLiteral("sans-serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kLogoTextPixelSize);
    font.setWeight(QFont::Bold);
    painter.setFont(font);
    painter.setPen(ThemeColours::readable(kLogoTextColor, ground));
    // The text stays clear of the rightmost columns, which the main window does not show.
    painter.drawText(QRect(kLogoTextLeft, 0, kLogoSize.width() - kLogoTextLeft - 12, kLogoSize.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vantrel"));
    return pixmap;
}

QIcon Pictures::button(ButtonPicture which) {
    // The design for the 16-pixel size, and the one for the larger sizes.
    struct Design {
        const char* small;
        const char* large;
    };
    static constexpr Design kDesigns[] = {
        {"monitor-16", "monitor"},             // Add
        {"button-delete", "button-delete"},    // Delete
        {"button-recheck", "button-recheck"},  // Recheck
        {"button-exit", "button-exit"},        // Exit
        {"button-ok", "button-ok"},            // Ok
        {"button-cancel", "button-cancel"},    // Cancel
        {"button-open", "button-open"},        // OpenInBrowser
    };
    const auto index = static_cast<size_t>(which);
    if (index >= std::size(kDesigns)) return {};
    return iconFromDesigns(kDesigns[index].small, kDesigns[index].large, {16, 24, 32, 48});
}

QIcon Pictures::appIcon() {
    return iconFromDesigns("monitor-16", "monitor", {16, 22, 24, 32, 48, 64, 128, 256});
}

QIcon Pictures::trayIcon() {
    return appIcon();
}

}  // namespace vantrel
