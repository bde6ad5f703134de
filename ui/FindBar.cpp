#include "ui/FindBar.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

namespace vantrel {

namespace {

const char* const kChoiceNames[] = {"All", "Online", "Changed", "Offline"};

}  // namespace

FindBar::FindBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FindBar"));
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(4);
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("SearchField"));
    search_->setPlaceholderText(QStringLiteral("Find in labels and URLs"));
    search_->setClearButtonEnabled(true);
    search_->installEventFilter(this);
    row->addWidget(search_, 1);
    connect(search_, &QLineEdit::textChanged, this, &FindBar::searchChanged);

    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (int i = 0; i < kChoiceCount; ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("Show") + QLatin1String(kChoiceNames[i]));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setText(QLatin1String(kChoiceNames[i]));
        group->addButton(button, i);
        row->addWidget(button);
        choices_[static_cast<size_t>(i)] = button;
    }
    choices_[0]->setChecked(true);
    connect(group, &QButtonGroup::idClicked, this, &FindBar::choiceChanged);

    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("CloseFind"));
    close->setAutoRaise(true);
    close->setText(QStringLiteral("\u2715"));
    close->setToolTip(QStringLiteral("Close the search (Escape)"));
    row->addWidget(close);
    connect(close, &QToolButton::clicked, this, &FindBar::closeRequested);
}

void FindBar::setCounts(const std::array<int, kChoiceCount>& counts) {
    for (int i = 0; i < kChoiceCount; ++i)
        choices_[static_cast<size_t>(i)]->setText(QLatin1String(kChoiceNames[i]) + QLatin1Char(' ') +
                                                  QString::number(counts[static_cast<size_t>(i)]));
}

void FindBar::reset() {
    search_->clear();
    if (!choices_[0]->isChecked()) {
        choices_[0]->setChecked(true);
        emit choiceChanged(0);
    }
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == search_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // Handled here: the window would take an Escape that reaches it for "Add Web Page".
        if (search_->text().isEmpty())
            emit closeRequested();
        else
            search_->clear();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace vantrel
