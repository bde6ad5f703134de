#include "ui/PageMenu.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMenu>

namespace vantrel {

namespace {

void fill(QMenu& menu, const QList<QAction*>& actions) {
    for (QAction* action : actions) {
        if (action)
            menu.addAction(action);
        else
            menu.addSeparator();
    }
}

}  // namespace

PageMenu::PageMenu(QAbstractItemView* list, const QList<QAction*>& pageActions,
                   const QList<QAction*>& listActions)
    : QObject(list), list_(list), pageMenu_(std::make_unique<QMenu>()), listMenu_(std::make_unique<QMenu>()) {
    setObjectName(QStringLiteral("PageMenu"));
    fill(*pageMenu_, pageActions);
    fill(*listMenu_, listActions);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, &PageMenu::popupAt);
    list_->installEventFilter(this);
}

PageMenu::~PageMenu() = default;

void PageMenu::popupAt(const QPoint& viewportPos) {
    const QModelIndex index = list_->indexAt(viewportPos);
    if (index.isValid()) {
        list_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        pageMenu_->popup(list_->viewport()->mapToGlobal(viewportPos));
    } else {
        list_->clearSelection();
        listMenu_->popup(list_->viewport()->mapToGlobal(viewportPos));
    }
}

void PageMenu::popupFromKeyboard() {
    const QModelIndexList selected = list_->selectionModel()->selectedIndexes();
    if (!selected.isEmpty()) {
        const QModelIndex index = selected.first();
        list_->scrollTo(index);
        pageMenu_->popup(list_->viewport()->mapToGlobal(list_->visualRect(index).center()));
    } else {
        listMenu_->popup(list_->viewport()->mapToGlobal(QPoint(8, 8)));
    }
}

bool PageMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() == Qt::Key_Menu && mods == Qt::NoModifier) ||
            (key->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
            popupFromKeyboard();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vantrel
