// Every picture is drawn at the size asked for, at device pixel ratios 1 and 2, and is not blank.
#include <QApplication>
#include <QtTest>

#include <QSvgRenderer>

#include "ui/BakedPictures.h"
#include "ui/DesignPainting.h"
#include "ui/Pictures.h"
#include "ui/TrayBadge.h"

using vantrel::ButtonPicture;
using vantrel::Pictures;

namespace {

struct Coverage {
    int opaque = 0;
    int transparent = 0;
};

Coverage coverageOf(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    Coverage c;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            if (alpha == 255) ++c.opaque;
            if (alpha == 0) ++c.transparent;
        }
    }
    return c;
}

}  // namespace

class PicturesTest : public QObject {
    Q_OBJECT
  private slots:
    void statusImagesAreRoundGlobesAtEverySizeAndRatio() {
        for (qreal ratio : {1.0, 2.0}) {
            for (int size : {16, 32}) {
                for (int index = 0; index <= 3; ++index) {
                    const QPixmap image = Pictures::statusImage(index, size, ratio);
                    QVERIFY(!image.isNull());
                    QCOMPARE(image.deviceIndependentSize(), QSizeF(size, size));
                    QCOMPARE(image.devicePixelRatio(), ratio);
                    QCOMPARE(image.size(), QSize(qRound(size * ratio), qRound(size * ratio)));
                    const Coverage c = coverageOf(image);
                    // A globe fills most of its square and leaves the corners clear.
                    QVERIFY2(c.opaque > image.width() * image.height() / 2,
                             qPrintable(QString::number(index)));
                    QCOMPARE(qAlpha(image.toImage().pixel(0, 0)), 0);
                    QCOMPARE(qAlpha(image.toImage().pixel(image.width() - 1, image.height() - 1)), 0);
                }
            }
        }
        QVERIFY(Pictures::statusImage(4, 32).isNull());
        QVERIFY(Pictures::statusImage(-1, 32).isNull());
        QVERIFY(Pictures::statusImage(0, 0).isNull());
    }

    void statusImagesDifferFromEachOther() {
        QList<QImage> images;
        for (int index = 0; index <= 3; ++index) images << Pictures::statusImage(index, 32).toImage();
        for (int a = 0; a < images.size(); ++a) {
            for (int b = a + 1; b < images.size(); ++b) QVERIFY(images[a] != images[b]);
        }
    }

    void logoIsOpaqueWithTheTitleInSlateBlue() {
        for (qreal ratio : {1.0, 2.0}) {
            const QPixmap logo = Pictures::logo(ratio);
            QVERIFY(!logo.isNull());
            QCOMPARE(logo.deviceIndependentSize(), QSizeF(300, 50));
            QCOMPARE(logo.devicePixelRatio(), ratio);
            const QImage image = logo.toImage();
            QCOMPARE(coverageOf(logo).transparent, 0);
            // The rightmost 11 columns, which the main window cuts off, are white.
            for (int y = 0; y < image.height(); ++y) {
                QCOMPARE(image.pixelColor(image.width() - 1, y), QColor(Qt::white));
            }
            int titlePixels = 0;
            const QColor slate(49, 69, 107);
            for (int y = 0; y < image.height(); ++y) {
                for (int x = int(62 * ratio); x < image.width(); ++x)
                    titlePixels += image.pixelColor(x, y) == slate;
            }
            QVERIFY(titlePixels > 100 * ratio * ratio);
        }
    }

    void buttonsAndIconsHaveCrispPixmapsForTheirSizes() {
        const ButtonPicture all[] = {
            ButtonPicture::Add, ButtonPicture::Delete, ButtonPicture::Recheck,      ButtonPicture::Exit,
            ButtonPicture::Ok,  ButtonPicture::Cancel, ButtonPicture::OpenInBrowser};
        for (ButtonPicture which : all) {
            const QIcon icon = Pictures::button(which);
            QVERIFY(!icon.isNull());
            for (qreal ratio : {1.0, 2.0}) {
                const QPixmap pixmap = icon.pixmap(QSize(16, 16), ratio);
                QCOMPARE(pixmap.size(), QSize(qRound(16 * ratio), qRound(16 * ratio)));
                const Coverage c = coverageOf(pixmap);
                QVERIFY(c.opaque > 0);
                QVERIFY(c.transparent > 0);
            }
        }
        for (const QIcon& icon : {Pictures::appIcon(), Pictures::trayIcon()}) {
            const QList<QSize> sizes = icon.availableSizes();
            for (int size : {16, 22, 24, 32, 48, 64}) {
                QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
                const QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0);
                QCOMPARE(pixmap.size(), QSize(size, size));
                const Coverage c = coverageOf(pixmap);
                QVERIFY(c.opaque > size * size / 3);
                QVERIFY(c.transparent > 0);
            }
            QCOMPARE(icon.pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
            // Drawn at a size it does not list, square in a rect of another shape, and greyed
            // when disabled.
            const QPixmap odd = icon.pixmap(QSize(20, 20), 1.0);
            QCOMPARE(odd.size(), QSize(20, 20));
            QCOMPARE(icon.actualSize(QSize(22, 30)), QSize(22, 22));
            QVERIFY(coverageOf(odd).opaque > 20 * 20 / 3);
            QVERIFY(icon.pixmap(QSize(20, 20), 1.0, QIcon::Disabled).toImage() != odd.toImage());
        }
    }

    // The notification-area icon's sizes baked in at build time are its designs as rendered now,
    // pixel for pixel, and are what the icon gives at those sizes.
    void bakedTrayPicturesAreTheirDesignsRendered() {
        QCOMPARE(vantrel::kBakedPictureCount, size_t{6});
        for (size_t i = 0; i < vantrel::kBakedPictureCount; ++i) {
            const vantrel::BakedPicture& baked = vantrel::kBakedPictures[i];
            const int side = baked.side;
            const QImage given = Pictures::trayIcon()
                                     .pixmap(QSize(side, side), 1.0)
                                     .toImage()
                                     .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            const QImage pixels(reinterpret_cast<const uchar*>(baked.pixels), side, side, side * 4,
                                QImage::Format_ARGB32_Premultiplied);
            QSvgRenderer design(QStringLiteral(":/vantrel/pictures/%1.svg").arg(baked.design));
            QVERIFY2(design.isValid(), baked.design);
            QImage fresh(side, side, QImage::Format_ARGB32_Premultiplied);
            fresh.fill(Qt::transparent);
            vantrel::PaintDesign(design, fresh);
            QCOMPARE(pixels, fresh);
            QCOMPARE(given, fresh);
        }
    }

    // The badges sit in their corners in their colours at every size of the tray icon, at one and
    // two device pixels per pixel; without a badge the icon is the plain one itself.
    void trayBadgesSitInTheirCornersAtEverySizeAndRatio() {
        using vantrel::Badges;
        using vantrel::TrayBadge;
        const QIcon plain = Pictures::trayIcon();
        QCOMPARE(TrayBadge::badged(plain, Badges{}).cacheKey(), plain.cacheKey());
        // The point of a disc between its rim and the sign painted in its middle, as a share of
        // the side: below the middle of the lower disc, below the middle of the upper one.
        const auto colourAt = [](const QPixmap& pixmap, qreal x, qreal y) {
            const QImage image = pixmap.toImage();
            return QColor(image.pixel(int(x * image.width()), int(y * image.height())));
        };
        const auto near = [](QColor c, QRgb want) {
            const QColor w = QColor::fromRgba(want);
            return std::abs(c.red() - w.red()) < 60 && std::abs(c.green() - w.green()) < 60 &&
                   std::abs(c.blue() - w.blue()) < 60;
        };
        for (const Badges badges : {Badges{true, false}, Badges{false, true}, Badges{true, true}}) {
            const QIcon icon = TrayBadge::badged(plain, badges);
            for (const int size : TrayBadge::sizes()) {
                for (const qreal ratio : {1.0, 2.0}) {
                    const QPixmap pixmap = icon.pixmap(QSize(size, size), ratio);
                    const QPixmap base = plain.pixmap(QSize(size, size), ratio);
                    QCOMPARE(pixmap.width(), int(size * ratio));
                    const QColor lower = colourAt(pixmap, 0.75, 0.75 + 0.5 * 0.3);
                    const QColor upper = colourAt(pixmap, 0.75, 0.25 + 0.5 * 0.3);
                    QVERIFY2(
                        near(lower, TrayBadge::kOfflineColor) == badges.offline,
                        qPrintable(
                            QStringLiteral("size %1 x%2 lower %3").arg(size).arg(ratio).arg(lower.name())));
                    QVERIFY2(
                        near(upper, TrayBadge::kChangedColor) == badges.changed,
                        qPrintable(
                            QStringLiteral("size %1 x%2 upper %3").arg(size).arg(ratio).arg(upper.name())));
                    if (!badges.changed) QCOMPARE(upper, colourAt(base, 0.75, 0.25 + 0.5 * 0.3));
                }
            }
        }
    }
};

QTEST_MAIN(PicturesTest)
#include "Pictures_qtest.moc"
