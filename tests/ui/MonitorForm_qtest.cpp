// The main window under a real tray host: its controls, their texts and places, and its commands
// with their questions and the dialog.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStyleOptionButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/Clock.h"
#include "core/PageList.h"
#include "support/TrayProbe.h"
#include "text/Text.h"
#include "ui/AlarmSettings.h"
#include "ui/ErrorDisplay.h"
#include "ui/MonitorUnit.h"
#include "ui/PageListModel.h"
#include "ui/PageViews.h"
#include "ui/SettingsWindow.h"
#include "ui/TrayNotifier.h"
#include "ui/UserSettings.h"
#include "ui/WebPageUnit.h"

using namespace vantrel;
#include "MonitorFormFixture.h"

using namespace vantrel;
using namespace vantrel::test;

class MonitorFormTest : public QObject, MonitorFormFixture {
    Q_OBJECT
  private slots:
    void initTestCase() { QVERIFY2(setUpWindows(), "these tests need a tray host (trayer under Xvfb)"); }
    void init() { gErrors.clear(); }
    void cleanup() { form_.reset(); }
    void windowHasItsControlsTextsPlacesAndTabOrder();
    void resizingGrowsOnlyTheList();
    void addPreparesTheDialogAndSavesTheTrimmedEntryAtOnce();
    void escapeWithoutModifiersOpensTheAddDialog();
    void editAppliesTheDialogToTheDoubleClickedEntry();
    void deleteAndRecheckAllAskFirst();
    void trayMenuShowsRechecksAndExits();
};

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
    // Every control is placed from the design table, but for the second view at the list's place,
    // the find bar over it and their two buttons in the free space beside the logo.
    const QStringList views{"DetailsView", "FindBar", PageViews::kFindButton.name,
                            PageViews::kViewButton.name};
    for (QWidget* child : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const auto named = [child](const DesignRect& c) { return child->objectName() == c.name; };
        QVERIFY2(std::any_of(std::begin(TMonitorForm::kDesign), std::end(TMonitorForm::kDesign), named) ||
                     views.contains(child->objectName()),
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
        if (name != "ListView" && name != "DetailsView") QCOMPARE(child->size(), it.value().size());
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
// The icon's menu holds the window's own commands: Recheck All asks as the button does.
void MonitorFormTest::trayMenuShowsRechecksAndExits() {
    TMonitorForm& form = open(pageFile({{"First"}}));
    QMenu* menu = form.TrayIcon->menu();
    QVERIFY(menu);
    QCOMPARE(form.TrayIcon->icon()->contextMenu(), menu);
    QStringList texts;
    for (const QAction* action : menu->actions()) texts << (action->isSeparator() ? "-" : action->text());
    QCOMPARE(texts, QStringList({"&Show Vantrel", "&Recheck All", "-", "&Do Not Disturb", "&Settings\u2026",
                                 "-", "E&xit"}));
    QVERIFY(!form.isVisible());
    menu->actions()[0]->trigger();
    QTRY_VERIFY(form.isVisible());
    Question asked;
    auto keep = answer(QMessageBox::No, &asked);
    menu->actions()[1]->trigger();
    QCOMPARE(asked.text, QStringLiteral("Do you sure to recheck all web pages ?"));
    // Settings holds the alarm command: a line that cannot be split keeps the window open and
    // says why; a good one is kept in the settings file.
    menu->actions()[4]->trigger();
    SettingsWindow* settings = nullptr;
    QTRY_VERIFY((settings = qobject_cast<SettingsWindow*>(QApplication::activeModalWidget()
                                                              ? QApplication::activeModalWidget()
                                                              : form.findChild<SettingsWindow*>())));
    QCOMPARE(settings->tabs()->tabText(1), QStringLiteral("&Alarms"));
    auto* alarms = qobject_cast<AlarmSettings*>(settings->tabs()->widget(1));
    QVERIFY(alarms);
    alarms->commandEdit()->setText(QStringLiteral("notify \"unclosed"));
    settings->accept();
    QVERIFY(settings->isVisible());
    QVERIFY(!alarms->errorLabel()->text().isEmpty());
    alarms->commandEdit()->setText(QStringLiteral("notify 'a b'"));
    settings->accept();
    QVERIFY(!settings->isVisible());
    QCOMPARE(QSettings(UserSettingsPath(filePath()), QSettings::IniFormat).value("Alarms/Command").toString(),
             QStringLiteral("notify 'a b'"));
    menu->actions().last()->trigger();
    QTRY_VERIFY(!form.isVisible());
}

QTEST_MAIN(MonitorFormTest)
#include "MonitorForm_qtest.moc"
