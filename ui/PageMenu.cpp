#include "ui/PageMenu.h"

#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <optional>

#include "ui/ChangesWindow.h"
#include "ui/DetailsWindow.h"
#include "ui/ErrorDisplay.h"
#include "ui/MonitorUnit.h"
#include "ui/PageListModel.h"
#include "ui/WebPageUnit.h"

namespace vantrel {

namespace {

// Brings a window that is already open to the front, or shows a new one.
template <class Window>
void present(Window* window) {
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

PageMenu::PageMenu(TMonitorForm& form) : QObject(&form), form_(form) {
    setObjectName(QStringLiteral("PageMenu"));
    pageMenu_ = std::make_unique<QMenu>();
    listMenu_ = std::make_unique<QMenu>();
    // Each key is also shown in the menu; the list's event filter below handles it.
    const struct {
        Command command;
        const char* text;
        QMenu* menu;
    } items[] = {
        {Command::CheckNow, "&Check Now\tF5", pageMenu_.get()},
        {Command::OpenInBrowser, "&Open in Web Browser", pageMenu_.get()},
        {Command::Edit, "&Edit\u2026\tF2", pageMenu_.get()},
        {Command::Delete, "&Delete\tDel", pageMenu_.get()},
        {Command::Details, "De&tails\u2026\tAlt+Enter", pageMenu_.get()},
        {Command::ShowChanges, "Show C&hanges\u2026", pageMenu_.get()},
        {Command::Add, "&Add Web Page\u2026", listMenu_.get()},
        {Command::RecheckAll, "&Recheck All", listMenu_.get()},
    };
    for (const auto& item : items) {
        if (item.command == Command::Details) pageMenu_->addSeparator();
        QAction* action = item.menu->addAction(QString::fromUtf8(item.text));
        const Command command = item.command;
        connect(action, &QAction::triggered, this, [this, command] { run(command); });
        actions_.insert(command, action);
    }
    QListView* list = form_.ListView;
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, &PageMenu::popupAt);
    list->installEventFilter(this);
}

PageMenu::~PageMenu() = default;

QAction* PageMenu::action(Command command) const {
    return actions_.value(command);
}

EntryId PageMenu::selectedId() const {
    const QModelIndexList selected = form_.ListView->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? EntryId{} : form_.model()->idAt(selected.first());
}

void PageMenu::popupAt(const QPoint& viewportPos) {
    QListView* list = form_.ListView;
    const QModelIndex index = list->indexAt(viewportPos);
    if (index.isValid()) {
        list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        pageMenu_->popup(list->viewport()->mapToGlobal(viewportPos));
    } else {
        list->clearSelection();
        listMenu_->popup(list->viewport()->mapToGlobal(viewportPos));
    }
}

void PageMenu::popupFromKeyboard() {
    QListView* list = form_.ListView;
    const QModelIndex index = form_.model()->indexOf(selectedId());
    if (index.isValid()) {
        list->scrollTo(index);
        pageMenu_->popup(list->viewport()->mapToGlobal(list->visualRect(index).center()));
    } else {
        listMenu_->popup(list->viewport()->mapToGlobal(QPoint(8, 8)));
    }
}

bool PageMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched != form_.ListView || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_Menu && mods == Qt::NoModifier) ||
        (key->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
        popupFromKeyboard();
        return true;
    }
    std::optional<Command> command;
    if (mods == Qt::NoModifier && key->key() == Qt::Key_F2) command = Command::Edit;
    if (mods == Qt::NoModifier && key->key() == Qt::Key_Delete) command = Command::Delete;
    if (mods == Qt::NoModifier && key->key() == Qt::Key_F5) command = Command::CheckNow;
    if (mods == Qt::AltModifier && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter))
        command = Command::Details;
    if (!command) return QObject::eventFilter(watched, event);
    run(*command);
    return true;
}

void PageMenu::run(Command command) {
    ErrorDisplay::guarded(&form_, [&] {
        const EntryId id = selectedId();
        const PageEntry* entry = form_.pageList().find(id);
        switch (command) {
            case Command::CheckNow:
                if (entry) form_.monitor().checkNow(id);
                break;
            case Command::OpenInBrowser:
                if (entry) TWebPageDlg::openInBrowser(QString::fromStdU16String(entry->url()));
                break;
            case Command::Edit:
                form_.ListViewDblClick();
                break;
            case Command::Delete:
                form_.DelBitBtnClick();
                break;
            case Command::Details:
                if (entry) showDetails(id);
                break;
            case Command::ShowChanges:
                if (entry) showChanges(id);
                break;
            case Command::Add:
                form_.AddBitBtnClick();
                break;
            case Command::RecheckAll:
                form_.RecheckBitBtnClick();
                break;
        }
    });
}

DetailsWindow* PageMenu::showDetails(EntryId id) {
    if (!form_.pageList().find(id)) return nullptr;
    QPointer<DetailsWindow>& window = details_[id];
    if (!window) window = new DetailsWindow(form_.monitor(), *form_.model(), id, &form_);
    present(window.data());
    return window;
}

ChangesWindow* PageMenu::showChanges(EntryId id) {
    if (!form_.pageList().find(id)) return nullptr;
    QPointer<ChangesWindow>& window = changes_[id];
    // The texts are read when the window opens: an open one is replaced, in its place, so that it
    // shows the latest change.
    QRect place;
    if (window) {
        place = window->geometry();
        window->close();
    }
    window = new ChangesWindow(form_.monitor(), id, &form_);
    if (place.isValid()) window->setGeometry(place);
    present(window.data());
    return window;
}

void PageMenu::changeAnnounced(EntryId id) {
    if (!showChanges(id)) form_.TrayIconClick();
}

}  // namespace vantrel
