#pragma once
// Every picture the program shows, drawn by us and crisp at any device pixel ratio.
#include <QIcon>
#include <QPixmap>

namespace vantrel {

enum class ButtonPicture { Add, Delete, Recheck, Exit, Ok, Cancel, OpenInBrowser };

class Pictures {
  public:
    // Status image `index` (0..3) at `size` logical pixels (32 for the list, 16 for the legend),
    // for the screen's device pixel ratio; a null pixmap for any other index.
    static QPixmap statusImage(int index, int size, qreal devicePixelRatio = 1.0);
    // The 300 x 50 logo: monitor in front of a page with a folded corner, and "Vantrel", on
    // `ground` (the window's colour) with its name in a colour that reads on it.
    static QPixmap logo(qreal devicePixelRatio = 1.0, const QColor& ground = Qt::white);
    static QIcon button(ButtonPicture which);
    // The application icon and the notification-area icon (monitor with a green pulse trace).
    static QIcon appIcon();
    static QIcon trayIcon();
};

}  // namespace vantrel
