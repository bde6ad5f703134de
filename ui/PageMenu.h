#pragma once
// The main window's per-page commands: the context menu of a page's icon (right click, the Menu
// key, Shift+F10) and of the empty part of the list, the keys of the list (F2, Delete, F5,
// Alt+Enter), and the Details and Show Changes windows it opens, one of each per page.
#include <QMap>
#include <QObject>
#include <QPointer>
#include <memory>

#include "core/PageEntry.h"

class QAction;
class QMenu;
class QPoint;

namespace vantrel {

class ChangesWindow;
class DetailsWindow;
class TMonitorForm;

class PageMenu : public QObject {
    Q_OBJECT
  public:
    enum class Command { CheckNow, OpenInBrowser, Edit, Delete, Details, ShowChanges, Add, RecheckAll };

    // Attaches to the form's list; lives as long as the form.
    explicit PageMenu(TMonitorForm& form);
    ~PageMenu() override;

    // The menu of a page's icon and the one of the empty part of the list.
    QMenu* pageMenu() const { return pageMenu_.get(); }
    QMenu* listMenu() const { return listMenu_.get(); }
    QAction* action(Command command) const;

    // Opens the menu that fits what is at `viewportPos` of the list (selecting the page there).
    void popupAt(const QPoint& viewportPos);
    // The Menu key and Shift+F10: the page menu at the selected page, or the list's menu.
    void popupFromKeyboard();

    // The windows of page `id`, opened or brought to the front; null when the page is gone.
    DetailsWindow* showDetails(EntryId id);
    ChangesWindow* showChanges(EntryId id);
    // A click on the balloon that announced a change of the page `id`: its changes, or the main
    // window when the page is gone since.
    void changeAnnounced(EntryId id);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    EntryId selectedId() const;
    void run(Command command);

    TMonitorForm& form_;
    // Not children of the form: its children are its designed controls.
    std::unique_ptr<QMenu> pageMenu_;
    std::unique_ptr<QMenu> listMenu_;
    QMap<Command, QAction*> actions_;
    QMap<EntryId, QPointer<DetailsWindow>> details_;
    QMap<EntryId, QPointer<ChangesWindow>> changes_;
};

}  // namespace vantrel
