#include "ui/MonitorUnit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <optional>

#include "core/Clock.h"
#include "core/CommandLine.h"
#include "core/PageList.h"
#include "store/PageListFile.h"
#include "store/XdgAutostart.h"
#include "ui/CheckRunner.h"
#include "ui/ErrorDisplay.h"
#include "ui/IconListView.h"
#include "ui/LabelCollator.h"
#include "ui/MonitorLayout.h"
#include "ui/PageListModel.h"
#include "ui/Pictures.h"
#include "ui/TrayNotifier.h"
#include "ui/WebPageUnit.h"

namespace vantrel {

namespace {

const QString kPageListFileName = QStringLiteral("webpages.dat");

QString toQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

std::vector<std::u16string> toArgs(const QStringList& args) {
    std::vector<std::u16string> result;
    for (const QString& arg : args) result.push_back(arg.toStdU16String());
    return result;
}

// Every event handler ends here: a failure that escapes it is shown and the program goes on.
template <class Body>
void guarded(QWidget* owner, Body&& body) {
    try {
        body();
    } catch (const std::exception& error) {
        ErrorDisplay::show(error, owner);
    }
}

}  // namespace

struct TMonitorForm::Impl {
    explicit Impl(const MonitorSettings& given) : settings(given), list(LabelCollator().function()) {}

    MonitorSettings settings;
    SystemClock clock;
    PageList list;
    std::unique_ptr<PageListModel> model;
    std::unique_ptr<CheckRunner> runner;
    std::unique_ptr<Autostart> autostart;
    std::optional<PageListFile> file;
    TWebPageDlg* dialog = nullptr;
    qreal scale = 1.0;
    QString exeDir;
    bool startHidden = false;
    // While the file is being loaded, the option handlers must not save a half-loaded list.
    bool loading = false;
    bool minimizeHook = false;
};

TMonitorForm::TMonitorForm(const MonitorSettings& settings, QWidget* parent)
    : QWidget(parent), d(std::make_unique<Impl>(settings)) {
    buildControls();

    // The check timer runs from the window's creation, before its creation handler.
    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(1000);
    connect(Timer, &QTimer::timeout, this, &TMonitorForm::TimerTimer);
    Timer->start();

    // The icon is part of the window: without a notification area the window cannot be created.
    TrayIcon = new TrayNotifier(this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    connect(TrayIcon, &TrayNotifier::clicked, this, &TMonitorForm::TrayIconClick);
    TrayIcon->show(StartHiddenFromArgs(toArgs(settings.args)) ? settings.trayWaitMs : 0);

    FormCreate();
}

TMonitorForm::~TMonitorForm() {
    // No tick may start while an error box of the save spins the event loop.
    Timer->stop();
    FormDestroy();
    ListView->setModel(nullptr);
    d.reset();
}

void TMonitorForm::buildControls() {
    using A = MonitorLayout::Anchor;
    setObjectName(QStringLiteral("MonitorForm"));
    setWindowTitle(QStringLiteral("Vantrel 1.2 - vantrel.example"));
    setWindowIcon(Pictures::appIcon());
    setFont(MonitorLayout::windowFont());
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, Qt::white);
    setPalette(windowPalette);
    setAutoFillBackground(true);

    // The design is for 96 dpi; larger text sizes scale every measure alike.
    d->scale = std::max(1, logicalDpiY()) / 96.0;
    const qreal scale = d->scale;
    const qreal ratio = devicePixelRatioF();
    auto* layout = new MonitorLayout(QSize(642, 466), scale, this);

    // The logo is drawn unscaled from its top-left corner; its blank right edge falls outside.
    QPixmap logo = Pictures::logo(ratio * scale);
    logo.setDevicePixelRatio(ratio);
    const auto TopRight = A::Top | A::Right;
    LogoImage = layout->addPicture("LogoImage", logo, QRect(16, 16, 289, 50), A::Top | A::Left);
    const int legend = layout->length(16);
    Image1 = layout->addPicture("Image1", Pictures::statusImage(0, legend, ratio), QRect(444, 6, 16, 16),
                                TopRight);
    Label1 = layout->addText("Label1", "Online", QRect(466, 8, 30, 13), TopRight);
    Image2 = layout->addPicture("Image2", Pictures::statusImage(1, legend, ratio), QRect(502, 6, 16, 16),
                                TopRight);
    Label2 = layout->addText("Label2", "Changed", QRect(524, 8, 43, 13), TopRight);
    Image3 = layout->addPicture("Image3", Pictures::statusImage(2, legend, ratio), QRect(570, 6, 16, 16),
                                TopRight);
    Label3 = layout->addText("Label3", "Offline", QRect(592, 8, 32, 13), TopRight);
    const QIcon add = Pictures::button(ButtonPicture::Add), del = Pictures::button(ButtonPicture::Delete);
    AddBitBtn = layout->addButton("AddBitBtn", "Add Web Page", add, QRect(394, 41, 110, 25), TopRight);
    DelBitBtn = layout->addButton("DelBitBtn", "Del Web Page", del, QRect(514, 41, 110, 25), TopRight);

    d->model = std::make_unique<PageListModel>(d->list, layout->length(IconListView::kIconSize), ratio);
    ListView = new IconListView(scale, this);
    ListView->setObjectName(QStringLiteral("ListView"));
    ListView->setModel(d->model.get());
    layout->addControl(ListView, QRect(16, 72, 608, 350), A::Left | A::Top | A::Right | A::Bottom);
    connect(ListView, &QListView::doubleClicked, this, [this](const QModelIndex&) { ListViewDblClick(); });

    const auto BottomLeft = A::Bottom | A::Left, BottomRight = A::Bottom | A::Right;
    StartCheckBox = layout->addCheckBox("StartCheckBox", "Start with Windows Start-up",
                                        QRect(16, 432, 158, 17), BottomLeft);
    SortCheckBox =
        layout->addCheckBox("SortCheckBox", "Sort in Alphabetical", QRect(180, 432, 110, 17), BottomLeft);
    RecheckCheckBox = layout->addCheckBox("RecheckCheckBox", "Recheck all when start",
                                          QRect(302, 432, 129, 17), BottomLeft);
    const QIcon recheck = Pictures::button(ButtonPicture::Recheck),
                exit = Pictures::button(ButtonPicture::Exit);
    RecheckBitBtn =
        layout->addButton("RecheckBitBtn", "&Recheck All", recheck, QRect(438, 428, 96, 25), BottomRight);
    ExitBitBtn = layout->addButton("ExitBitBtn", "&Exit", exit, QRect(544, 428, 80, 25), BottomRight);

    // Room up to the next control for texts that a substitute font makes wider than the design.
    layout->fitWidth(Label1, 36);
    layout->fitWidth(Label2, 46);
    layout->fitWidth(Label3, 50);
    layout->fitWidth(StartCheckBox, 164);
    layout->fitWidth(SortCheckBox, 122);
    layout->fitWidth(RecheckCheckBox, 136);

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

    resize(layout->scaledDesignSize());
}

void TMonitorForm::setDialog(TWebPageDlg* dialog) {
    d->dialog = dialog;
}

bool TMonitorForm::startHidden() const {
    return d->startHidden;
}

const PageList& TMonitorForm::pageList() const {
    return d->list;
}

PageListModel* TMonitorForm::model() const {
    return d->model.get();
}

qreal TMonitorForm::designScale() const {
    return d->scale;
}

void TMonitorForm::FormCreate() {
    try {
        d->runner = std::make_unique<CheckRunner>(d->list, *TrayIcon, d->clock, d->settings.fetcher);

        d->startHidden = false;
        d->exeDir = d->settings.exeDir;
        if (!d->exeDir.isEmpty() && !d->exeDir.endsWith(QLatin1Char('/'))) d->exeDir += QLatin1Char('/');
        d->startHidden = StartHiddenFromArgs(toArgs(d->settings.args));
        // Whether the window is shown when the event loop starts is the caller's, by startHidden().

        d->file.emplace((d->exeDir + kPageListFileName).toStdString());
        d->loading = true;
        struct LoadingEnds {
            bool& flag;
            ~LoadingEnds() { flag = false; }
        } loadingEnds{d->loading};
        d->file->load(d->list,
                      [this](Option option, bool on) { setOptionFromFile(static_cast<int>(option), on); });

        d->minimizeHook = true;
    } catch (const std::exception& error) {
        ErrorDisplay::show(error, this);
    }
}

void TMonitorForm::FormDestroy() {
    try {
        if (d->runner) d->runner->shutdown();
        // A file that was never loaded is not overwritten with an empty list.
        if (d->file)
            d->file->save(d->list, Options{StartCheckBox->isChecked(), SortCheckBox->isChecked(),
                                           RecheckCheckBox->isChecked()});
    } catch (const std::exception& error) {
        ErrorDisplay::show(error, this);
    }
}

void TMonitorForm::setOptionFromFile(int option, bool on) {
    QCheckBox* box = nullptr;
    switch (static_cast<Option>(option)) {
        case Option::Start:
            box = StartCheckBox;
            break;
        case Option::Sort:
            box = SortCheckBox;
            break;
        case Option::Recheck:
            box = RecheckCheckBox;
            break;
    }
    // Setting the state runs the box's handler when the state changes, as a click would.
    if (box) box->setChecked(on);
}

void TMonitorForm::saveAfterUserChange() {
    if (d->loading || !d->file) return;
    guarded(this, [this] {
        d->file->save(d->list, Options{StartCheckBox->isChecked(), SortCheckBox->isChecked(),
                                       RecheckCheckBox->isChecked()});
    });
}

bool TMonitorForm::ask(const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TMonitorForm::AddBitBtnClick() {
    guarded(this, [this] {
        TWebPageDlg* dialog = d->dialog;
        if (!dialog) return;
        dialog->setLabelText(QString());
        dialog->setUrlText(QStringLiteral("http://"));
        dialog->setIntervalIndex(kDefaultIntervalIndex);
        dialog->setChangedBox(false, false);
        if (dialog->run() != QDialog::Accepted) return;
        // The list trims label and URL itself.
        d->list.add(dialog->labelText().toStdU16String(), dialog->urlText().toStdU16String(),
                    dialog->intervalIndex());
        saveAfterUserChange();
    });
}

void TMonitorForm::ListViewDblClick() {
    guarded(this, [this] {
        TWebPageDlg* dialog = d->dialog;
        const QModelIndexList selected = ListView->selectionModel()->selectedIndexes();
        if (!dialog || d->list.empty() || selected.isEmpty()) return;
        // The entry is held by its id: ticks go on while the dialog is open and may move it.
        const EntryId id = d->model->idAt(selected.first());
        const PageEntry* entry = d->list.find(id);
        if (!entry) return;
        const bool changed = entry->status == PageStatus::Changed;
        dialog->setLabelText(toQString(entry->label));
        dialog->setUrlText(toQString(entry->url()));
        dialog->setIntervalIndex(DialogIntervalIndex(entry->interval()));
        dialog->setChangedBox(changed, changed);
        if (dialog->run() != QDialog::Accepted) return;
        if (!d->list.find(id)) return;
        d->list.edit(id, dialog->labelText().toStdU16String(), dialog->urlText().toStdU16String(),
                     dialog->intervalIndex(), changed, dialog->changedBoxTicked());
        saveAfterUserChange();
    });
}

void TMonitorForm::DelBitBtnClick() {
    guarded(this, [this] {
        const QModelIndexList selected = ListView->selectionModel()->selectedIndexes();
        if (d->list.empty() || selected.isEmpty()) return;
        const EntryId id = d->model->idAt(selected.first());
        const PageEntry* entry = d->list.find(id);
        if (!entry) return;
        const QString question = QStringLiteral("Do you sure to delete the monitor for web pages \"") +
                                 toQString(entry->label) + QStringLiteral("\" ?");
        if (!ask(question)) return;
        if (!d->list.find(id)) return;
        d->list.remove(id);
        saveAfterUserChange();
    });
}

void TMonitorForm::RecheckBitBtnClick() {
    guarded(this, [this] {
        if (d->list.empty()) return;
        if (!ask(QStringLiteral("Do you sure to recheck all web pages ?"))) return;
        d->list.recheckAll();
        // Every icon shows the offline picture at once.
        ListView->viewport()->repaint();
        saveAfterUserChange();
    });
}

void TMonitorForm::ExitBitBtnClick() {
    close();
}

void TMonitorForm::StartCheckBoxClick() {
    guarded(this, [this] {
        if (!d->autostart)
            d->autostart = std::make_unique<XdgAutostart>(d->settings.autostartDir.toStdString(),
                                                          d->settings.exePath.toStdString());
        // On failure the box keeps the state the user gave it.
        d->autostart->apply(StartCheckBox->isChecked());
    });
    saveAfterUserChange();
}

void TMonitorForm::SortCheckBoxClick() {
    guarded(this, [this] { d->list.setSorted(SortCheckBox->isChecked()); });
    saveAfterUserChange();
}

void TMonitorForm::TimerTimer() {
    guarded(this, [this] {
        if (d->runner) d->runner->tick();
    });
}

void TMonitorForm::TrayIconClick() {
    guarded(this, [this] {
        show();
        // Restores to the state before the minimize (normal or maximized).
        if (windowState() & Qt::WindowMinimized) setWindowState(windowState() & ~Qt::WindowMinimized);
        raise();
        activateWindow();
    });
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
    if (event->type() != QEvent::WindowStateChange || !d || !d->minimizeHook) return;
    if (!(windowState() & Qt::WindowMinimized)) return;
    // Hiding inside the state change races the window manager, which may minimize the window
    // again after it was brought back; hiding from the event loop does not.
    QTimer::singleShot(0, this, [this] {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        hide();
    });
}

void TMonitorForm::closeEvent(QCloseEvent* event) {
    event->accept();
    QCoreApplication::quit();
}

}  // namespace vantrel
