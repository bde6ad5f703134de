// The main window under a real tray host: its controls, its commands with their questions and
// the dialog, sorting, the option boxes, saving after every user change, and the way back from
// the notification area.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/Clock.h"
#include "core/PageList.h"
#include "support/TrayProbe.h"
#include "text/Text.h"
#include "ui/ErrorDisplay.h"
#include "ui/MonitorUnit.h"
#include "ui/PageListModel.h"
#include "ui/TrayNotifier.h"
#include "ui/WebPageUnit.h"

using namespace vantrel;

namespace {

QStringList gErrors;
void recordError(const QString& text) {
    gErrors << text;
}

// Acts on the next modal window once it is up (bounded to 5 s); stops when destroyed.
class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        started_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible()) {
                timer_.stop();
                ++seen;
                act_(modal);
            } else if (started_.elapsed() > 5000) {
                timer_.stop();
            }
        });
        timer_.start(20);
    }
    int seen = 0;

  private:
    std::function<void(QWidget*)> act_;
    QTimer timer_;
    QElapsedTimer started_;
};

struct Question {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Answers the next message box with `reply`, noting what it asked.
std::unique_ptr<ModalWatcher> answer(QMessageBox::StandardButton reply, Question* asked) {
    return std::make_unique<ModalWatcher>([=](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) return;
        *asked = {box->windowTitle(), box->text(), box->icon(), box->standardButton(box->defaultButton())};
        box->button(reply)->click();
    });
}

struct DialogSeen {
    QString label, url;
    int interval = -2;
    bool boxShown = false, boxTicked = false;
};

// Drives the next web page dialog: notes how it was prepared, lets `fill` change it, then OK.
std::unique_ptr<ModalWatcher> runDialog(DialogSeen* seen, std::function<void(TWebPageDlg*)> fill,
                                        bool ok = true) {
    return std::make_unique<ModalWatcher>([=](QWidget* modal) {
        auto* dialog = qobject_cast<TWebPageDlg*>(modal);
        if (!dialog) return;
        *seen = {dialog->labelText(), dialog->urlText(), dialog->intervalIndex(), dialog->changedBoxShown(),
                 dialog->changedBoxTicked()};
        if (fill) fill(dialog);
        (ok ? dialog->OKBitBtn : dialog->CancelBitBtn2)->click();
    });
}

// Fills the dialog with a label and a URL that pass its checks.
std::function<void(TWebPageDlg*)> named(const QString& label) {
    return [label](TWebPageDlg* dialog) {
        dialog->LabelLabeledEdit->setText(label);
        dialog->WebPageLabeledEdit->setText("http://127.0.0.1:1/" + label);
    };
}

// A user's double-click: the first click, then the second one that the system reports as double.
void doubleClick(QWidget* widget, QPoint at) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

QByteArray nowStamp() {
    return QByteArray::number(qlonglong(LastCheckStamp(SystemClock().now())));
}

struct Row {
    QByteArray label, status = "0", url = "http://127.0.0.1:1/", interval = "8", stamp = nowStamp(),
                      checksum = "CRC of a text above is: 00000001";
};

QByteArray pageFile(const QList<Row>& rows,
                    const QByteArray& options = "start=0\r\nsort=0\r\nrecheck=0\r\n") {
    QByteArray bytes = "[main]\r\ncount=" + QByteArray::number(rows.size()) + "\r\n" + options;
    for (int i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        bytes += "[web" + QByteArray::number(i + 1) + "]\r\ncaption=" + r.label + "\r\nstatus=" + r.status +
                 "\r\nitem1=" + r.url + "\r\nitem2=" + r.interval + "\r\nitem3=" + r.stamp +
                 "\r\nitem4=" + r.checksum + "\r\n";
    }
    return bytes;
}

// The value of `key` in `[section]` of an INI text, or a null string.
QString iniValue(const QByteArray& bytes, const QString& section, const QString& key) {
    QString current;
    for (const QString& line : QString::fromUtf8(bytes).split(QRegularExpression("\r?\n"))) {
        if (line.startsWith('['))
            current = line.mid(1, line.indexOf(']') - 1);
        else if (current == section && line.section('=', 0, 0) == key)
            return line.section('=', 1);
    }
    return {};
}

QStringList labels(const TMonitorForm& form) {
    QStringList result;
    for (const PageEntry& entry : form.pageList().entries()) result << QString::fromStdU16String(entry.label);
    return result;
}

}  // namespace

class MonitorFormTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> exeDir_, autostartDir_;
    std::unique_ptr<TWebPageDlg> dialog_;
    std::unique_ptr<TMonitorForm> form_;

    QString filePath() const { return exeDir_->filePath("webpages.dat"); }
    // The file once the saves asked for so far are written.
    QByteArray fileBytes() const {
        if (form_) form_->monitor().waitForSaves();
        QFile file(filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString saved(const QString& section, const QString& key) const {
        return iniValue(fileBytes(), section, key);
    }
    // A window over a fresh directory holding `file` (none when null); the timer is stopped so
    // that no check changes an entry behind the test's back.
    TMonitorForm& open(const QByteArray& file = {}, const QStringList& args = {}) {
        form_.reset();
        exeDir_ = std::make_unique<QTemporaryDir>();
        autostartDir_ = std::make_unique<QTemporaryDir>();
        if (!file.isNull()) {
            QFile out(filePath());
            out.open(QIODevice::WriteOnly);
            out.write(file);
        }
        MonitorSettings settings;
        settings.args = args;
        settings.exeDir = exeDir_->path() + "/";
        settings.exePath = exeDir_->path() + "/vantrel";
        settings.autostartDir = autostartDir_->path();
        settings.trayWaitMs = trayprobe::kTrayWaitMs;
        settings.fetcher.readTimeoutMs = 500;
        form_ = std::make_unique<TMonitorForm>(settings);
        form_->Timer->stop();
        form_->setDialog(dialog_.get());
        return *form_;
    }
    void showForm() {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    QRect scaled(const QRect& r) const {
        const qreal s = form_->designScale();
        return QRect(qRound(r.x() * s), qRound(r.y() * s), qRound(r.width() * s), qRound(r.height() * s));
    }
    void select(int row) {
        form_->ListView->setCurrentIndex(form_->model()->index(row));
        QCOMPARE(form_->ListView->selectionModel()->selectedIndexes().size(), 1);
    }

  private slots:
    void initTestCase();
    void init() { gErrors.clear(); }
    void cleanup() { form_.reset(); }
    void windowHasItsControlsTextsPlacesAndTabOrder();
    void resizingGrowsOnlyTheList();
    void addPreparesTheDialogAndSavesTheTrimmedEntryAtOnce();
    void escapeWithoutModifiersOpensTheAddDialog();
    void editAppliesTheDialogToTheDoubleClickedEntry();
    void deleteAndRecheckAllAskFirst();
    void sortingIsLinguisticAndFollowsLabelChangesOnly();
    void optionBoxesRunTheirActionsAndSaveAtOnce();
    void loadingSetsTheBoxesWithoutRewritingTheFile();
    void failedSaveAfterAUserChangeIsShown();
    void trayClickBringsBackAMinimizedOrHiddenWindow();
    void exitClosesTheWindowAndTheListIsSaved();
};

void MonitorFormTest::initTestCase() {
    ErrorDisplay::setSink(recordError);
    // Labels must sort linguistically even in the C locale.
    QLocale::setDefault(QLocale::c());
    qApp->setQuitOnLastWindowClosed(false);
    QVERIFY2(trayprobe::waitForNotificationArea(), "these tests need a tray host (trayer under Xvfb)");
    dialog_ = std::make_unique<TWebPageDlg>();
}

void MonitorFormTest::windowHasItsControlsTextsPlacesAndTabOrder() {
    TMonitorForm& form = open();
    showForm();
    QCOMPARE(form.windowTitle(), QStringLiteral("Vantrel " VANTREL_VERSION " - vantrel.example"));
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(form.font().pointSize(), 8);
    QVERIFY(!form.windowIcon().isNull());
    QCOMPARE(form.Timer->interval(), 1000);
    QCOMPARE(form.TrayIcon->objectName(), QStringLiteral("TrayIcon"));

    QCOMPARE(form.size(), scaled(QRect(QPoint(), TMonitorForm::kDesignSize)).size());
    const QMap<QString, QString> texts = {{"Label1", "Online"},
                                          {"Label2", "Changed"},
                                          {"Label3", "Offline"},
                                          {"AddBitBtn", "Add Web Page"},
                                          {"DelBitBtn", "Del Web Page"},
                                          {"StartCheckBox", "Start with Windows Start-up"},
                                          {"SortCheckBox", "Sort in Alphabetical"},
                                          {"RecheckCheckBox", "Recheck all when start"},
                                          {"RecheckBitBtn", "&Recheck All"},
                                          {"ExitBitBtn", "&Exit"}};
    // Every control is placed from the design table.
    for (QWidget* child : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const auto named = [child](const DesignRect& c) { return child->objectName() == c.name; };
        QVERIFY2(std::any_of(std::begin(TMonitorForm::kDesign), std::end(TMonitorForm::kDesign), named),
                 qPrintable(child->objectName()));
    }
    for (const DesignRect& c : TMonitorForm::kDesign) {
        QWidget* control = form.findChild<QWidget*>(c.name);
        QVERIFY2(control, c.name);
        // Text controls may take room up to their neighbour when the font runs wider than Tahoma.
        const QRect expected = scaled(c.rect);
        QCOMPARE(control->pos(), expected.topLeft());
        QCOMPARE(control->height(), expected.height());
        QVERIFY2(control->width() >= expected.width() &&
                     control->width() <= scaled(QRect(0, 0, std::max(c.room, c.rect.width()), 1)).width(),
                 c.name);
        if (auto* label = qobject_cast<QLabel*>(control); label && !label->text().isEmpty())
            QVERIFY2(control->width() >= label->sizeHint().width(), c.name);
        if (auto* box = qobject_cast<QCheckBox*>(control)) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            QVERIFY2(room.width() >= box->fontMetrics().horizontalAdvance(box->text()), c.name);
        }
        QVERIFY(control->toolTip().isEmpty());
        if (auto* label = qobject_cast<QLabel*>(control)) {
            QCOMPARE(label->text(), texts.value(c.name));
            if (label->text().isEmpty()) QVERIFY2(!label->pixmap().isNull(), c.name);
        }
        if (auto* button = qobject_cast<QAbstractButton*>(control))
            QCOMPARE(button->text(), texts.value(c.name));
        if (auto* push = qobject_cast<QPushButton*>(control)) QVERIFY(!push->icon().isNull());
    }

    QCOMPARE(form.ListView->viewMode(), QListView::IconMode);
    QCOMPARE(form.ListView->movement(), QListView::Static);
    QCOMPARE(form.ListView->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(form.ListView->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(form.ListView->palette().color(QPalette::Base), QColor(255, 255, 225));
    QCOMPARE(form.ListView->iconSize(), scaled(QRect(0, 0, 32, 32)).size());

    QStringList order;
    QWidget* w = form.ListView;
    for (int i = 0; i < 20 && order.size() < 8; ++i, w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
    QCOMPARE(order, (QStringList{"ListView", "AddBitBtn", "DelBitBtn", "StartCheckBox", "SortCheckBox",
                                 "RecheckCheckBox", "RecheckBitBtn", "ExitBitBtn"}));
}

void MonitorFormTest::resizingGrowsOnlyTheList() {
    TMonitorForm& form = open();
    showForm();
    QMap<QString, QRect> before;
    for (QWidget* child : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        before[child->objectName()] = child->geometry();
    form.resize(form.width() + 100, form.height() + 60);
    QTRY_COMPARE(form.ListView->size(), before["ListView"].size() + QSize(100, 60));
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const QString& name = it.key();
        QPoint moved;
        if (name.startsWith("Image") || name.startsWith("Label") || name == "AddBitBtn" ||
            name == "DelBitBtn")
            moved = {100, 0};
        else if (name.endsWith("CheckBox"))
            moved = {0, 60};
        else if (name == "RecheckBitBtn" || name == "ExitBitBtn")
            moved = {100, 60};
        QWidget* child = form.findChild<QWidget*>(name);
        QCOMPARE(child->pos(), it.value().topLeft() + moved);
        if (name != "ListView") QCOMPARE(child->size(), it.value().size());
    }
}

void MonitorFormTest::addPreparesTheDialogAndSavesTheTrimmedEntryAtOnce() {
    TMonitorForm& form = open();
    DialogSeen seen;
    auto cancel = runDialog(&seen, nullptr, false);
    form.AddBitBtn->click();
    QCOMPARE(cancel->seen, 1);
    QCOMPARE(form.pageList().size(), size_t(0));
    QVERIFY(!QFile::exists(filePath()));

    auto ok = runDialog(&seen, [](TWebPageDlg* dialog) {
        dialog->LabelLabeledEdit->setText(" \tNews ");
        dialog->WebPageLabeledEdit->setText("  http://news.example/  ");
        dialog->IntervalComboBox->setCurrentIndex(4);
    });
    form.AddBitBtn->click();
    QCOMPARE(seen.label, QString());
    QCOMPARE(seen.url, QStringLiteral("http://"));
    QCOMPARE(seen.interval, 2);
    QVERIFY(!seen.boxShown);
    QCOMPARE(form.pageList().size(), size_t(1));
    const PageEntry& entry = form.pageList().at(0);
    QCOMPARE(entry.label, std::u16string(u"News"));
    QCOMPARE(entry.url(), std::u16string(u"http://news.example/"));
    QCOMPARE(entry.interval(), std::u16string(u"4"));
    QCOMPARE(entry.status, PageStatus::Offline);
    QVERIFY(entry.stamp().empty() && entry.checksum().empty());
    // Saved at once, not only at the end of the run.
    QCOMPARE(saved("main", "count"), QStringLiteral("1"));
    QCOMPARE(saved("web1", "caption"), QStringLiteral("News"));
    QCOMPARE(saved("web1", "item1"), QStringLiteral("http://news.example/"));
}

void MonitorFormTest::escapeWithoutModifiersOpensTheAddDialog() {
    TMonitorForm& form = open();
    showForm();
    for (Qt::KeyboardModifier held : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
        ModalWatcher none([](QWidget* modal) { modal->close(); });
        QTest::keyClick(form.ListView, Qt::Key_Escape, held);
        // No default button: Enter outside a push button presses nothing.
        QTest::keyClick(form.ListView, Qt::Key_Return);
        QCOMPARE(none.seen, 0);
    }
    DialogSeen seen;
    auto cancel = runDialog(&seen, nullptr, false);
    QTest::keyClick(form.ListView, Qt::Key_Escape);
    QCOMPARE(cancel->seen, 1);
    QCOMPARE(seen.url, QStringLiteral("http://"));
    QVERIFY(form.isVisible());
    // Enter presses the push button that has the focus.
    auto enter = runDialog(&seen, nullptr, false);
    QTest::keyClick(form.AddBitBtn, Qt::Key_Return);
    QCOMPARE(enter->seen, 1);
}

void MonitorFormTest::editAppliesTheDialogToTheDoubleClickedEntry() {
    TMonitorForm& form =
        open(pageFile({{"Same url", "0"}, {"New url", "0"}, {"Changed", "1", "http://c/", "12"}}));
    showForm();
    QTRY_VERIFY(form.ListView->visualRect(form.model()->index(2)).isValid());
    DialogSeen seen;

    // A double-click on empty space selects nothing and edits nothing.
    select(0);
    const QPoint empty = form.ListView->viewport()->rect().bottomRight() - QPoint(5, 5);
    auto none = runDialog(&seen, nullptr, false);
    doubleClick(form.ListView->viewport(), empty);
    QCOMPARE(none->seen, 0);
    QVERIFY(form.ListView->selectionModel()->selectedIndexes().isEmpty());
    none.reset();

    auto keep = runDialog(&seen, [](TWebPageDlg* d) { d->LabelLabeledEdit->setText("Same url 2"); });
    doubleClick(form.ListView->viewport(), form.ListView->visualRect(form.model()->index(0)).center());
    QCOMPARE(keep->seen, 1);
    QCOMPARE(seen.label, QStringLiteral("Same url"));
    QCOMPARE(seen.url, QStringLiteral("http://127.0.0.1:1/"));
    QCOMPARE(seen.interval, 8);
    QVERIFY(!seen.boxShown);
    const PageEntry& same = form.pageList().at(0);
    QCOMPARE(same.label, std::u16string(u"Same url 2"));
    QCOMPARE(same.status, PageStatus::Online);
    QVERIFY(!same.stamp().empty());
    QCOMPARE(same.checksum(), std::u16string(u"CRC of a text above is: 00000001"));
    QCOMPARE(saved("web1", "caption"), QStringLiteral("Same url 2"));

    select(1);
    auto url =
        runDialog(&seen, [](TWebPageDlg* d) { d->WebPageLabeledEdit->setText("HTTP://127.0.0.1:1/"); });
    form.ListViewDblClick();
    const PageEntry& moved = form.pageList().at(1);
    QCOMPARE(moved.url(), std::u16string(u"HTTP://127.0.0.1:1/"));
    QCOMPARE(moved.status, PageStatus::Offline);
    QVERIFY(moved.stamp().empty() && moved.checksum().empty());
    QCOMPARE(saved("web2", "item3"), QString(""));

    // A changed entry shows the ticked box; clearing it sets online. Interval "12" shows none
    // and is stored as "-1".
    select(2);
    auto box = runDialog(&seen, [](TWebPageDlg* d) { d->ChangeCheckBox->setChecked(false); });
    form.ListViewDblClick();
    QVERIFY(seen.boxShown && seen.boxTicked);
    QCOMPARE(seen.interval, -1);
    QCOMPARE(form.pageList().at(2).status, PageStatus::Online);
    QCOMPARE(form.pageList().at(2).interval(), std::u16string(u"-1"));
    QCOMPARE(saved("web3", "status"), QStringLiteral("0"));
    QCOMPARE(saved("web3", "item2"), QStringLiteral("-1"));
    QVERIFY(gErrors.isEmpty());
}

void MonitorFormTest::deleteAndRecheckAllAskFirst() {
    TMonitorForm& form = open(pageFile({{"First"}, {"Second \"quoted\"", "1"}, {"Third"}}));
    showForm();
    QTRY_VERIFY(form.ListView->visualRect(form.model()->index(2)).isValid());
    // Icons are centred in their cells: a cell is known by its centre line and top.
    auto place = [&form](int row) {
        const QRect r = form.ListView->visualRect(form.model()->index(row));
        return QPoint(r.center().x(), r.top());
    };
    const QList<QPoint> places = {place(0), place(1)};
    Question asked;

    select(1);
    auto no = answer(QMessageBox::No, &asked);
    form.DelBitBtn->click();
    QCOMPARE(asked.title, QStringLiteral("Question"));
    QCOMPARE(asked.text,
             QStringLiteral("Do you sure to delete the monitor for web pages \"Second \"quoted\"\" ?"));
    QCOMPARE(asked.icon, QMessageBox::Question);
    QCOMPARE(asked.defaultButton, QMessageBox::No);
    QCOMPARE(form.pageList().size(), size_t(3));

    select(0);
    auto yes = answer(QMessageBox::Yes, &asked);
    form.DelBitBtn->click();
    QCOMPARE(labels(form), (QStringList{"Second \"quoted\"", "Third"}));
    QCOMPARE(saved("main", "count"), QStringLiteral("2"));
    // No gap remains where the deleted icon was.
    QTRY_COMPARE((QList<QPoint>{place(0), place(1)}), places);

    auto keep = answer(QMessageBox::No, &asked);
    form.RecheckBitBtn->click();
    QCOMPARE(asked.text, QStringLiteral("Do you sure to recheck all web pages ?"));
    QCOMPARE(asked.defaultButton, QMessageBox::No);
    QCOMPARE(form.pageList().at(0).status, PageStatus::Changed);

    auto recheck = answer(QMessageBox::Yes, &asked);
    form.RecheckBitBtn->click();
    for (const PageEntry& entry : form.pageList().entries()) {
        QCOMPARE(entry.status, PageStatus::Offline);
        QVERIFY(entry.stamp().empty());
        QCOMPARE(entry.checksum(), std::u16string(u"CRC of a text above is: 00000001"));
    }
    QCOMPARE(saved("web1", "status"), QStringLiteral("2"));
    QCOMPARE(saved("web1", "item3"), QString(""));

    // With the list emptied, neither command asks anything.
    for (int left = 2; left > 0; --left) {
        select(0);
        auto last = answer(QMessageBox::Yes, &asked);
        form.DelBitBtn->click();
    }
    QVERIFY(form.pageList().empty());
    ModalWatcher nothing([](QWidget* modal) { modal->close(); });
    form.RecheckBitBtn->click();
    form.DelBitBtn->click();
    QCOMPARE(nothing.seen, 0);
    QCOMPARE(saved("main", "count"), QStringLiteral("0"));
}

void MonitorFormTest::sortingIsLinguisticAndFollowsLabelChangesOnly() {
    TMonitorForm& form = open(pageFile({{"Beta"}, {"gamma", "1"}}));
    DialogSeen seen;
    form.SortCheckBox->click();
    QCOMPARE(saved("main", "sort"), QStringLiteral("1"));
    auto add = runDialog(&seen, named("alpha"));
    form.AddBitBtn->click();
    QCOMPARE(labels(form), (QStringList{"alpha", "Beta", "gamma"}));

    // Renaming moves the entry and keeps it selected; clearing the changed box moves nothing.
    select(0);
    auto rename = runDialog(&seen, [](TWebPageDlg* d) { d->LabelLabeledEdit->setText("delta"); });
    form.ListViewDblClick();
    QCOMPARE(labels(form), (QStringList{"Beta", "delta", "gamma"}));
    QCOMPARE(form.ListView->selectionModel()->selectedIndexes().value(0).row(), 1);
    select(2);
    auto status = runDialog(&seen, [](TWebPageDlg* d) { d->ChangeCheckBox->setChecked(false); });
    form.ListViewDblClick();
    QCOMPARE(form.pageList().at(2).status, PageStatus::Online);
    QCOMPARE(labels(form), (QStringList{"Beta", "delta", "gamma"}));

    // Off keeps the sorted order, new entries go to the end, and the file says so.
    form.SortCheckBox->click();
    auto late = runDialog(&seen, named("Aardvark"));
    form.AddBitBtn->click();
    QCOMPARE(labels(form), (QStringList{"Beta", "delta", "gamma", "Aardvark"}));
    QCOMPARE(saved("main", "sort"), QStringLiteral("0"));
    QCOMPARE(saved("web1", "caption"), QStringLiteral("Beta"));
    QCOMPARE(saved("web4", "caption"), QStringLiteral("Aardvark"));
    form.SortCheckBox->click();
    QCOMPARE(labels(form), (QStringList{"Aardvark", "Beta", "delta", "gamma"}));
}

void MonitorFormTest::optionBoxesRunTheirActionsAndSaveAtOnce() {
    TMonitorForm& form = open();
    const QString entry = autostartDir_->filePath("Vantrel.desktop");
    form.StartCheckBox->click();
    QVERIFY(QFile::exists(entry));
    QFile desktop(entry);
    QVERIFY(desktop.open(QIODevice::ReadOnly));
    QVERIFY(desktop.readAll().contains("\nExec=\"" + exeDir_->path().toUtf8() + "/vantrel\" -s\n"));
    QCOMPARE(saved("main", "start"), QStringLiteral("1"));
    form.RecheckCheckBox->click();
    QCOMPARE(saved("main", "recheck"), QStringLiteral("1"));
    QVERIFY(!form.pageList().sorted());
    form.StartCheckBox->click();
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(saved("main", "start"), QStringLiteral("0"));

    // A failed registration is shown; the box keeps the state the user gave it.
    QVERIFY(QDir(autostartDir_->path()).mkdir("Vantrel.desktop"));
    form.StartCheckBox->click();
    QCOMPARE(gErrors, QStringList{"Failed to set data for 'Vantrel'"});
    QVERIFY(form.StartCheckBox->isChecked());
    QCOMPARE(saved("main", "start"), QStringLiteral("1"));
}

void MonitorFormTest::loadingSetsTheBoxesWithoutRewritingTheFile() {
    const QByteArray file = pageFile({{"b"}, {"C"}, {"a"}}, "start=1\r\nsort=2\r\nrecheck=0\r\n");
    TMonitorForm& form = open(file);
    QVERIFY(form.StartCheckBox->isChecked() && form.SortCheckBox->isChecked());
    QVERIFY(!form.RecheckCheckBox->isChecked());
    QVERIFY(QFile::exists(autostartDir_->filePath("Vantrel.desktop")));
    QCOMPARE(labels(form), (QStringList{"a", "b", "C"}));
    // The option handlers ran while loading, but a half-loaded list was never saved.
    QCOMPARE(fileBytes(), file);
    QVERIFY(gErrors.isEmpty());
}

void MonitorFormTest::failedSaveAfterAUserChangeIsShown() {
    TMonitorForm& form = open();
    QVERIFY(QDir(exeDir_->path()).mkdir("webpages.dat"));
    DialogSeen seen;
    auto add = runDialog(&seen, named("Kept"));
    form.AddBitBtn->click();
    QCOMPARE(form.pageList().size(), size_t(1));
    // The save is written in the background: its failure is shown once it arrives, once.
    const QString unwritable = "Unable to write to " + filePath() + ".";
    QTRY_COMPARE(gErrors, QStringList{unwritable});
    form.monitor().waitForSaves();
    QTest::qWait(50);
    QCOMPARE(gErrors, QStringList{unwritable});

    // An option whose action fails as well: both are shown, in the order they happened.
    gErrors.clear();
    QVERIFY(QDir(autostartDir_->path()).mkdir("Vantrel.desktop"));
    form.StartCheckBox->click();
    QTRY_COMPARE(gErrors, (QStringList{"Failed to set data for 'Vantrel'", unwritable}));
    QVERIFY(form.StartCheckBox->isChecked());

    // The save at the end of the run fails on its own: shown once, with no late background one.
    gErrors.clear();
    form.RecheckCheckBox->click();
    form_.reset();
    QTest::qWait(50);
    QCOMPARE(gErrors, QStringList{unwritable});
}

void MonitorFormTest::trayClickBringsBackAMinimizedOrHiddenWindow() {
    TMonitorForm& hidden = open(QByteArray(), {"-s"});
    QVERIFY(hidden.startHidden());
    QVERIFY(!hidden.isVisible());
    QVERIFY(hidden.TrayIcon->icon()->isVisible());
    emit hidden.TrayIcon->clicked();
    QTRY_VERIFY(hidden.isVisible());

    TMonitorForm& form = open();
    QVERIFY(!form.startHidden());
    showForm();
    form.showMinimized();
    QTRY_VERIFY(!form.isVisible());
    // A real click on the icon in the tray host.
    // The host may still be moving icons of earlier windows out: click where the icon has
    // settled, and once more if the host moved it under the pointer (bounded).
    for (int attempt = 0; attempt < 3 && !form.isVisible(); ++attempt) {
        QPoint icon = trayprobe::iconCentre();
        for (int look = 0; look < 10; ++look) {
            QTest::qWait(200);
            const QPoint again = trayprobe::iconCentre();
            if (again == icon) break;
            icon = again;
        }
        QVERIFY2(icon.x() >= 0, "the icon was not embedded");
        trayprobe::settleClicks();
        QVERIFY(trayprobe::clickAt(icon));
        (void)QTest::qWaitFor([&form] { return form.isVisible(); }, 3000);
    }
    QVERIFY(form.isVisible());
    QVERIFY(!form.isMinimized());
}

// The end of the event loop on this close is the application's; the program test sees it.
void MonitorFormTest::exitClosesTheWindowAndTheListIsSaved() {
    TMonitorForm& form = open(pageFile({{"Kept", "1"}}));
    showForm();
    form.ExitBitBtn->click();
    QVERIFY(!form.isVisible());
    QFile::remove(filePath());
    form_.reset();
    QCOMPARE(saved("main", "count"), QStringLiteral("1"));
    QCOMPARE(saved("web1", "caption"), QStringLiteral("Kept"));
    QCOMPARE(saved("web1", "status"), QStringLiteral("1"));
}

QTEST_MAIN(MonitorFormTest)
#include "MonitorForm_qtest.moc"
