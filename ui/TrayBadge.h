#pragma once
// The notification-area icon with the badges of what needs attention painted on it: a red disc
// with a cross at the lower right while a page is offline, an amber disc with a dot at the upper
// right while a change is unseen. Painted on the icon's pixmaps at every size the trays ask for,
// at one and two device pixels per pixel, so that the XEmbed tray and the StatusNotifierItem host
// show the same picture.
#include <QIcon>
#include <QList>
#include <QPixmap>

#include "core/Attention.h"

namespace vantrel {

class TrayBadge {
  public:
    // The logical sizes the badged icon holds, each also at twice the pixels.
    static const QList<int>& sizes();
    // `plain` itself when there is no badge; otherwise a new icon with the badges at every size.
    static QIcon badged(const QIcon& plain, Badges badges);
    // One pixmap with the badges painted on (a copy; the base is not changed).
    static QPixmap paint(const QPixmap& base, Badges badges);

    static constexpr QRgb kOfflineColor = 0xffd32f2f;
    static constexpr QRgb kChangedColor = 0xffffa000;
};

}  // namespace vantrel
