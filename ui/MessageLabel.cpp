#include "ui/MessageLabel.h"

#include <QEvent>
#include <QScopedValueRollback>

#include "ui/ThemeColours.h"

namespace vantrel {

namespace {

const QColor kWarning(0xa0, 0x30, 0x00);

}  // namespace

MessageLabel::MessageLabel(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void MessageLabel::setMessage(const QString& text, bool error) {
    setText(text);
    if (error == error_) return;
    error_ = error;
    recolour();
}

void MessageLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    // The theme changed under an error: its red is measured again against the new ground.
    if (event->type() == QEvent::PaletteChange && error_ && !recolouring_) recolour();
}

void MessageLabel::recolour() {
    // Each setPalette() below sends a palette change of its own, which must not start this again.
    const QScopedValueRollback<bool> guard(recolouring_, true);
    setPalette(QPalette());  // the colours the window inherits from the theme
    if (!error_) return;
    QPalette own = palette();
    // A section on a tab's page lies on the style's shade of the button colour rather than on the
    // window's (Fusion draws it up to a fifth lighter on a dark theme): the red reads on both.
    const QColor button = own.color(QPalette::Button);
    const QColor page = ThemeColours::dark(own) ? button.lighter(125) : button;
    own.setColor(QPalette::WindowText,
                 ThemeColours::readable(ThemeColours::readable(kWarning, own.color(QPalette::Window)), page));
    setPalette(own);
}

}  // namespace vantrel
