#include "ui/MonitorUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <exception>

#include "ui/Alarms.h"
#include "ui/ErrorDisplay.h"
#include "ui/IconListView.h"
#include "ui/PageListModel.h"
#include "ui/PageMenu.h"
#include "ui/PageViews.h"
#include "ui/PageWindows.h"
#include "ui/PauseMenu.h"
#include "ui/Pictures.h"
#include "ui/RequestSupply.h"
#include "ui/ScreenFit.h"
#include "ui/SettingsWindow.h"
#include "ui/ThemeColours.h"
#include "ui/TrayNotifier.h"
#include "ui/WebPageUnit.h"

namespace vantrel {

namespace {

QString toQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

TMonitorForm::TMonitorForm(const MonitorSettings& settings, QWidget* parent) : QWidget(parent) {
    // The check timer runs from the window's creation, before its creation handler.
    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(1000);

    // The icon is part of the window: without a notification area the window cannot be created.
    TrayIcon = new TrayNotifier(this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    // Every announcement passes the alarms first (command, badges, quiet, bursts).
    alarms_ = new Alarms(*TrayIcon, this);
    monitor_ = std::make_unique<Monitor>(settings, *alarms_);
    // A save after a user change is written in the background; its failure arrives here later.
    connect(monitor_.get(), &Monitor::saveFailed, this,
            [this](const std::exception_ptr& error) { ErrorDisplay::show(error, this); });
    // The arrow with the hourglass while pages load: the program stays usable meanwhile.
    connect(monitor_.get(), &Monitor::busyChanged, this, [](bool busy) {
        if (busy)
            QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
        else
            QGuiApplication::restoreOverrideCursor();
    });
    // While the network is gone the icon's tooltip says so.
    connect(monitor_.get(), &Monitor::networkWaitChanged, TrayIcon, &TrayNotifier::setNetworkWaiting);
    buildControls();
    pageWindows_ = std::make_unique<PageWindows>(*monitor_, *model_, this);
    alarms_->attach(*monitor_, *model_);
    createActions();
    connect(Timer, &QTimer::timeout, this, &TMonitorForm::TimerTimer);
    Timer->start();
    connect(TrayIcon, &TrayNotifier::clicked, this, &TMonitorForm::TrayIconClick);
    connect(TrayIcon, &TrayNotifier::changeBalloonClicked, this, &TMonitorForm::TrayIconBalloonClick);
    connect(TrayIcon, &TrayNotifier::openPageClicked, this, &TMonitorForm::TrayIconOpenPage);
    TrayIcon->show(monitor_->startHidden() ? settings.trayWaitMs : 0);

    FormCreate();
}

TMonitorForm::~TMonitorForm() {
    // No tick may start while an error box of the save spins the event loop.
    Timer->stop();
    FormDestroy();
    ListView->setModel(nullptr);
    delete Views;
    model_.reset();
    monitor_.reset();
    // It reads the monitor's clock: it goes with it, not later with the window's children.
    delete alarms_;
    alarms_ = nullptr;
}

void TMonitorForm::buildControls() {
    using L = DesignLayout;
    setObjectName(QStringLiteral("MonitorForm"));
    setWindowTitle(QStringLiteral("Vantrel " VANTREL_VERSION " - vantrel.example"));
    setWindowIcon(Pictures::appIcon());
    ThemeColours::fillWindow(this, Qt::white);

    scale_ = L::scaleFor(this);
    const qreal ratio = devicePixelRatioF();
    auto* layout = new L(kDesignSize, scale_, this);
    layout->fitTextsLater();
    const auto at = [](const char* name) -> const DesignRect& { return L::find(kDesign, name); };

    // The font and the logo come with the window's first polish (dressControls).
    LogoImage = layout->addPicture(at("LogoImage"), QPixmap());
    // So do the legend's pictures.
    Image1 = layout->addPicture(at("Image1"), QPixmap());
    Label1 = layout->addText(at("Label1"), QStringLiteral("Online"));
    Image2 = layout->addPicture(at("Image2"), QPixmap());
    Label2 = layout->addText(at("Label2"), QStringLiteral("Changed"));
    Image3 = layout->addPicture(at("Image3"), QPixmap());
    Label3 = layout->addText(at("Label3"), QStringLiteral("Offline"));
    AddBitBtn = layout->addButton(at("AddBitBtn"), QStringLiteral("Add Web Page"),
                                  Pictures::button(ButtonPicture::Add));
    DelBitBtn = layout->addButton(at("DelBitBtn"), QStringLiteral("Del Web Page"),
                                  Pictures::button(ButtonPicture::Delete));

    model_ =
        std::make_unique<PageListModel>(monitor_->list(), layout->length(IconListView::kIconSize), ratio);
    auto* icons = new IconListView(scale_, this);
    ListView = icons;
    ListView->setModel(model_.get());
    layout->add(ListView, at("ListView"));
    connect(ListView, &QListView::doubleClicked, this, [this](const QModelIndex&) { ListViewDblClick(); });

    StartCheckBox = layout->addCheckBox(at("StartCheckBox"), QStringLiteral("Start with Windows Start-up"));
    SortCheckBox = layout->addCheckBox(at("SortCheckBox"), QStringLiteral("Sort in Alphabetical"));
    RecheckCheckBox = layout->addCheckBox(at("RecheckCheckBox"), QStringLiteral("Recheck all when start"));
    RecheckBitBtn = layout->addButton(at("RecheckBitBtn"), QStringLiteral("&Recheck All"),
                                      Pictures::button(ButtonPicture::Recheck));
    ExitBitBtn =
        layout->addButton(at("ExitBitBtn"), QStringLiteral("&Exit"), Pictures::button(ButtonPicture::Exit));

    // Setting a box from code runs its handler too, so the handlers follow the state, not clicks.
    connect(StartCheckBox, &QCheckBox::toggled, this, &TMonitorForm::StartCheckBoxClick);
    connect(SortCheckBox, &QCheckBox::toggled, this, &TMonitorForm::SortCheckBoxClick);
    connect(RecheckCheckBox, &QCheckBox::toggled, this, &TMonitorForm::SortCheckBoxClick);
    connect(AddBitBtn, &QPushButton::clicked, this, &TMonitorForm::AddBitBtnClick);
    connect(DelBitBtn, &QPushButton::clicked, this, &TMonitorForm::DelBitBtnClick);
    connect(RecheckBitBtn, &QPushButton::clicked, this, &TMonitorForm::RecheckBitBtnClick);
    connect(ExitBitBtn, &QPushButton::clicked, this, &TMonitorForm::ExitBitBtnClick);

    QWidget* tabOrder[] = {ListView,     AddBitBtn,       DelBitBtn,     StartCheckBox,
                           SortCheckBox, RecheckCheckBox, RecheckBitBtn, ExitBitBtn};
    for (size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

    Views = new PageViews(*this, *layout, at("ListView"), *icons, *model_, *monitor_);
    resize(layout->scaledDesignSize());
}

void TMonitorForm::createActions() {
    const auto make = [this](const char* text, void (TMonitorForm::*handler)(),
                             QList<QKeySequence> keys = {}) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        action->setShortcuts(keys);
        // The keys are the list's: with the focus on a button or a box they would act on a page
        // the user is not looking at.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        if (!keys.isEmpty()) ListView->addAction(action);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    CheckNowAction = make("&Check Now", &TMonitorForm::CheckNowActionExecute, {Qt::Key_F5});
    OpenInBrowserAction = make("&Open in Web Browser", &TMonitorForm::OpenInBrowserActionExecute);
    EditAction = make("&Edit\u2026", &TMonitorForm::ListViewDblClick, {Qt::Key_F2});
    DeleteAction = make("&Delete", &TMonitorForm::DelBitBtnClick, {Qt::Key_Delete});
    // The keypad's Enter first: the menu shows the first key, and "Alt+Enter" is what users know.
    DetailsAction = make("De&tails\u2026", &TMonitorForm::DetailsActionExecute,
                         {QKeySequence(Qt::ALT | Qt::Key_Enter), QKeySequence(Qt::ALT | Qt::Key_Return)});
    ShowChangesAction = make("Show C&hanges\u2026", &TMonitorForm::ShowChangesActionExecute);
    AddAction = make("&Add Web Page\u2026", &TMonitorForm::AddBitBtnClick);
    RecheckAllAction = make("&Recheck All", &TMonitorForm::RecheckBitBtnClick);
    SettingsAction = make("&Settings\u2026", &TMonitorForm::SettingsActionExecute);
    SettingsAction->setObjectName(QStringLiteral("SettingsAction"));
    pauseMenu_ = new PauseMenu(
        *monitor_, [this] { return selectedId(); }, this);
    connect(monitor_.get(), &Monitor::pageNotesChanged, this, &TMonitorForm::updateActions);
    Menu = new PageMenu(
        ListView,
        {CheckNowAction, OpenInBrowserAction, EditAction, DeleteAction, nullptr, pauseMenu_->pauseAction(),
         pauseMenu_->resumeAction(), nullptr, DetailsAction, ShowChangesAction, nullptr, SettingsAction},
        {AddAction, RecheckAllAction, nullptr, SettingsAction});
    Views->attachCommands(*Menu, [this] { ListViewDblClick(); });
    ShowAction = make("&Show Vantrel", &TMonitorForm::TrayIconClick);
    ExitAction = make("E&xit", &TMonitorForm::ExitBitBtnClick);
    // The icon's menu, built here alone: a new command of the icon joins this list.
    QMenu* trayMenu = TrayIcon->setMenu({ShowAction, RecheckAllAction, nullptr});
    alarms_->addTrayActions(*trayMenu);
    trayMenu->addAction(SettingsAction);
    trayMenu->addSeparator();
    trayMenu->addAction(ExitAction);
    // A reset of the model clears the selection without a word of it, and a removal may not say.
    connect(ListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TMonitorForm::updateActions);
    connect(model_.get(), &QAbstractItemModel::rowsRemoved, this, &TMonitorForm::updateActions);
    connect(model_.get(), &QAbstractItemModel::modelReset, this, &TMonitorForm::updateActions);
    updateActions();
}

void TMonitorForm::updateActions() {
    const bool page = pageList().find(selectedId()) != nullptr;
    for (QAction* action :
         {CheckNowAction, OpenInBrowserAction, EditAction, DeleteAction, DetailsAction, ShowChangesAction})
        action->setEnabled(page);
    // A paused page is not checked, not even now: resumed first.
    CheckNowAction->setEnabled(page && !pageList().pausedUntil(selectedId()));
    pauseMenu_->update();
}

void TMonitorForm::setVisible(bool visible) {
    // A start in the notification area may never show the window: choosing its font, fitting
    // the texts to it and drawing the logo and the legend wait until it is first shown, which
    // keeps the font database, the text shaping (about 3 MB) and the pictures out of memory while
    // hidden.
    if (visible && alarms_) alarms_->windowOpened();
    if (visible && !dressed_) {
        dressed_ = true;
        dressControls();
        ScreenFit::fit(this);
    }
    QWidget::setVisible(visible);
}

void TMonitorForm::dressControls() {
    setFont(DesignLayout::windowFont());
    static_cast<DesignLayout*>(layout())->fitTexts();
    const qreal ratio = devicePixelRatioF();
    const int legend = static_cast<DesignLayout*>(layout())->length(16);
    QLabel* const legendImages[] = {Image1, Image2, Image3};
    for (int i = 0; i < 3; ++i) legendImages[i]->setPixmap(Pictures::statusImage(i, legend, ratio));
    // The logo is drawn unscaled from its top-left corner; its blank right edge falls outside.
    QPixmap logo = Pictures::logo(ratio * scale_, palette().color(QPalette::Window));
    logo.setDevicePixelRatio(ratio);
    LogoImage->setPixmap(logo);
}

void TMonitorForm::setDialog(TWebPageDlg* dialog) {
    dialog_ = dialog;
    makeDialog_ = nullptr;
}

void TMonitorForm::setDialog(std::function<TWebPageDlg*()> make) {
    dialog_ = nullptr;
    makeDialog_ = std::move(make);
}

TWebPageDlg* TMonitorForm::dialog() {
    if (!dialog_ && makeDialog_) dialog_ = makeDialog_();
    return dialog_;
}

bool TMonitorForm::startHidden() const {
    return startHidden_;
}

void TMonitorForm::FormCreate() {
    ErrorDisplay::guarded(this, [this] {
        // Whether the window is shown when the event loop starts is the caller's, by startHidden().
        startHidden_ = monitor_->startHidden();
        monitor_->open([this](Option option, bool on) {
            QCheckBox* box = option == Option::Start  ? StartCheckBox
                             : option == Option::Sort ? SortCheckBox
                                                      : RecheckCheckBox;
            // Setting the state runs the box's handler when the state changes, as a click would.
            box->setChecked(on);
        });
        minimizeHook_ = true;
    });
}

void TMonitorForm::FormDestroy() {
    ErrorDisplay::guarded(this, [this] { monitor_->close(); });
}

Options TMonitorForm::boxes() const {
    return Options{StartCheckBox->isChecked(), SortCheckBox->isChecked(), RecheckCheckBox->isChecked()};
}

EntryId TMonitorForm::selectedId() const {
    const QModelIndexList selected = ListView->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? EntryId{} : model_->idAt(selected.first());
}

bool TMonitorForm::ask(const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TMonitorForm::AddBitBtnClick() {
    ErrorDisplay::guarded(this, [this] {
        TWebPageDlg* box = dialog();
        if (!box) return;
        box->setLabelText(QString());
        box->setUrlText(QStringLiteral("http://"));
        box->setIntervalIndex(kDefaultIntervalIndex);
        box->setChangedBox(false, false);
        if (box->run() != QDialog::Accepted) return;
        monitor_->addPage(box->labelText(), box->urlText(), box->intervalIndex());
    });
}

void TMonitorForm::ListViewDblClick() {
    ErrorDisplay::guarded(this, [this] {
        // The entry is held by its id: ticks go on while the dialog is open and may move it.
        const EntryId id = selectedId();
        const PageEntry* entry = pageList().find(id);
        TWebPageDlg* box = entry ? dialog() : nullptr;
        if (!box) return;
        const bool changed = entry->status == PageStatus::Changed;
        box->setLabelText(toQString(entry->label));
        box->setUrlText(toQString(entry->url()));
        box->setIntervalIndex(DialogIntervalIndex(entry->interval()));
        box->setChangedBox(changed, changed);
        if (box->run() != QDialog::Accepted) return;
        monitor_->editPage(id, box->labelText(), box->urlText(), box->intervalIndex(), changed,
                           box->changedBoxTicked());
    });
}

void TMonitorForm::DelBitBtnClick() {
    ErrorDisplay::guarded(this, [this] {
        const EntryId id = selectedId();
        const PageEntry* entry = pageList().find(id);
        if (!entry) return;
        const QString question = QStringLiteral("Do you sure to delete the monitor for web pages \"") +
                                 toQString(entry->label) + QStringLiteral("\" ?");
        if (ask(question)) monitor_->removePage(id);
    });
}

void TMonitorForm::RecheckBitBtnClick() {
    ErrorDisplay::guarded(this, [this] {
        if (pageList().empty() || !ask(QStringLiteral("Do you sure to recheck all web pages ?"))) return;
        monitor_->recheckAll();
        // Every icon shows the offline picture at once.
        ListView->viewport()->repaint();
    });
}

void TMonitorForm::ExitBitBtnClick() {
    // Closes as the close box does; the application ends the run on the main window's close.
    close();
}

void TMonitorForm::StartCheckBoxClick() {
    ErrorDisplay::guarded(this, [this] { monitor_->setOptions(boxes()); });
}

void TMonitorForm::SortCheckBoxClick() {
    ErrorDisplay::guarded(this, [this] { monitor_->setOptions(boxes()); });
}

void TMonitorForm::TimerTimer() {
    ErrorDisplay::guarded(this, [this] { monitor_->tick(); });
}

void TMonitorForm::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers held = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (event->key() == Qt::Key_Escape && !(event->modifiers() & held)) {
        event->accept();
        AddBitBtnClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMonitorForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !minimizeHook_) return;
    if (!(windowState() & Qt::WindowMinimized)) return;
    // Hiding inside the state change races the window manager, which may minimize the window
    // again after it was brought back; hiding from the event loop does not. The minimized state
    // is left for the tray click to clear: clearing it here asks the manager to map the window
    // again, and a map it carries out after the hide leaves a window on the screen that the
    // program believes hidden and never draws (a black window).
    QTimer::singleShot(0, this, [this] { hide(); });
}

}  // namespace vantrel
