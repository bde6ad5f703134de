#pragma once
// The context menus of the main window's page list, built over the window's own actions: the menu
// of a page's icon (right click, the Menu key, Shift+F10) and the one of the empty part of the list.
// It only chooses which menu to show and selects the page it is for; the actions do the rest.
#include <QList>
#include <QObject>
#include <memory>

class QAction;
class QAbstractItemView;
class QMenu;
class QPoint;

namespace vantrel {

class PageMenu : public QObject {
    Q_OBJECT
  public:
    // Attaches to `list` and lives as long as it. `pageActions` fill the page menu and
    // `listActions` the list's menu, in order; a null entry stands for a separator.
    PageMenu(QAbstractItemView* list, const QList<QAction*>& pageActions, const QList<QAction*>& listActions);
    ~PageMenu() override;

    QMenu* pageMenu() const { return pageMenu_.get(); }
    QMenu* listMenu() const { return listMenu_.get(); }

    // Opens the menu that fits what is at `viewportPos` of the list (selecting the page there).
    void popupAt(const QPoint& viewportPos);
    // The Menu key and Shift+F10: the page menu at the selected page, or the list's menu.
    void popupFromKeyboard();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QAbstractItemView* list_;
    // Not children of the list: they are top-level windows of their own.
    std::unique_ptr<QMenu> pageMenu_;
    std::unique_ptr<QMenu> listMenu_;
};

}  // namespace vantrel
