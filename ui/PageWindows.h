#pragma once
// The non-modal windows of the pages, one Details and one Show Changes window per page, opened
// from the main window's commands and from a click on a balloon that announced a change.
#include <QMap>
#include <QPointer>

#include "core/PageEntry.h"

class QWidget;

namespace vantrel {

class ChangesWindow;
class DetailsWindow;
class Monitor;
class PageListModel;

class PageWindows {
  public:
    // The windows read `monitor` and follow `model`; they are owned by `owner` (the main window),
    // so they close with it. All three must outlive this object.
    PageWindows(Monitor& monitor, PageListModel& model, QWidget* owner);

    // The windows of page `id`, opened or brought to the front; null when the page is gone.
    DetailsWindow* showDetails(EntryId id);
    ChangesWindow* showChanges(EntryId id);

  private:
    Monitor& monitor_;
    PageListModel& model_;
    QWidget* owner_;
    QMap<EntryId, QPointer<DetailsWindow>> details_;
    QMap<EntryId, QPointer<ChangesWindow>> changes_;
};

}  // namespace vantrel
