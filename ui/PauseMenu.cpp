#include "ui/PauseMenu.h"

#include <QAction>
#include <QMenu>

#include "core/Clock.h"
#include "ui/Monitor.h"

namespace vantrel {

namespace {

constexpr LocalMillis kHourMs = 3600 * 1000;
constexpr LocalMillis kDayMs = 24 * kHourMs;

}  // namespace

PauseMenu::PauseMenu(Monitor& monitor, std::function<EntryId()> selected, QObject* parent)
    : QObject(parent), monitor_(monitor), selected_(std::move(selected)) {
    // The submenu is a top-level window of its own: owned here, not by a widget.
    auto* choices = new QMenu;
    connect(this, &QObject::destroyed, choices, [choices] { delete choices; });
    connect(choices->addAction(QStringLiteral("Until &Resumed")), &QAction::triggered, this,
            [this] { pauseFor(0); });
    connect(choices->addAction(QStringLiteral("For 1 &Hour")), &QAction::triggered, this,
            [this] { pauseFor(kHourMs); });
    connect(choices->addAction(QStringLiteral("For 1 &Day")), &QAction::triggered, this,
            [this] { pauseFor(kDayMs); });
    pause_ = new QAction(QStringLiteral("&Pause Checks"), this);
    pause_->setMenu(choices);
    resume_ = new QAction(QStringLiteral("Res&ume Checks"), this);
    connect(resume_, &QAction::triggered, this, [this] {
        monitor_.resumePage(selected_());
        update();
    });
    update();
}

void PauseMenu::pauseFor(LocalMillis span) {
    const EntryId id = selected_();
    if (span == 0)
        monitor_.pausePage(id, std::nullopt);
    else
        monitor_.pausePage(id, monitor_.clock().now() + span);
    update();
}

void PauseMenu::update() {
    const EntryId id = selected_();
    const bool page = monitor_.list().find(id) != nullptr;
    const bool paused = page && monitor_.list().pausedUntil(id).has_value();
    pause_->setEnabled(page);
    resume_->setEnabled(paused);
}

}  // namespace vantrel
