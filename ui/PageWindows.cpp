#include "ui/PageWindows.h"

#include <QWidget>

#include "ui/ChangesWindow.h"
#include "ui/DetailsWindow.h"
#include "ui/Monitor.h"
#include "ui/ScreenFit.h"

namespace vantrel {

namespace {

// Brings a window that is already open to the front, or shows a new one, whole on the screen
// of the main window.
void present(QWidget* window, const QWidget* owner) {
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible()) ScreenFit::fit(window, owner ? owner->screen() : nullptr);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

PageWindows::PageWindows(Monitor& monitor, PageListModel& model, QWidget* owner)
    : monitor_(monitor), model_(model), owner_(owner) {}

DetailsWindow* PageWindows::showDetails(EntryId id) {
    if (!monitor_.list().find(id)) return nullptr;
    QPointer<DetailsWindow>& window = details_[id];
    if (!window) window = new DetailsWindow(monitor_, model_, id, owner_);
    present(window.data(), owner_);
    return window;
}

ChangesWindow* PageWindows::showChanges(EntryId id) {
    if (!monitor_.list().find(id)) return nullptr;
    QPointer<ChangesWindow>& window = changes_[id];
    // The texts are read when the window opens: an open one is replaced, in its place, so that it
    // shows the latest change.
    QRect place;
    if (window) {
        place = window->geometry();
        window->close();
    }
    window = new ChangesWindow(monitor_, id, owner_);
    if (place.isValid()) window->setGeometry(place);
    present(window.data(), owner_);
    return window;
}

}  // namespace vantrel
