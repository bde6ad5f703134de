#pragma once
// The page menu's "Pause Checks" (until resumed, for 1 hour, for 1 day) and "Resume Checks",
// made once over the selected page, each enabled when it applies to it.
#include <QObject>
#include <functional>

#include "core/PageEntry.h"

class QAction;

namespace vantrel {

class Monitor;

class PauseMenu : public QObject {
    Q_OBJECT
  public:
    // `selected` gives the page the menu is for (0 when none is).
    PauseMenu(Monitor& monitor, std::function<EntryId()> selected, QObject* parent);

    // "Pause Checks", with its choices as a submenu.
    QAction* pauseAction() const { return pause_; }
    QAction* resumeAction() const { return resume_; }
    // Enables the actions that apply to the selected page.
    void update();

  private:
    void pauseFor(LocalMillis span);

    Monitor& monitor_;
    std::function<EntryId()> selected_;
    QAction* pause_ = nullptr;
    QAction* resume_ = nullptr;
};

}  // namespace vantrel
