// The details view and the find bar: the table and its sort and filter proxy follow every change
// of the list (checked by QAbstractItemModelTester), the counts follow the statuses, and in the
// window both views share one selection and the search narrows the icon view too.
#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include "MonitorFormFixture.h"
#include "core/PageImport.h"
#include "ui/DetailsListView.h"
#include "ui/FindBar.h"
#include "ui/IconListView.h"
#include "ui/ImportDialog.h"
#include "ui/ListTransfer.h"
#include "ui/PageFilterProxy.h"
#include "ui/PageTableModel.h"
#include "ui/PageViews.h"

using namespace vantrel;

namespace {

QStringList column(const QAbstractItemModel& model, int column) {
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row) result << model.index(row, column).data().toString();
    return result;
}

}  // namespace

class PageViewsTest : public QObject, test::MonitorFormFixture {
    Q_OBJECT
  private slots:
    void initTestCase() { QVERIFY2(setUpWindows(), "these tests need a tray host (trayer under Xvfb)"); }
    void cleanup() { form_.reset(); }

    void tableAndProxyFollowTheListWithCountsSortAndSearch();
    void bothViewsShareTheSelectionAndTheSearchNarrowsTheIcons();
    void viewColumnsAndSortAreRememberedPerUser();
    void importPreviewsThenAddsFiveHundredPagesInOneStep();
};

void PageViewsTest::tableAndProxyFollowTheListWithCountsSortAndSearch() {
    PageList list;
    PageListModel rows(list, 16);
    PageSummary known;
    known.last = CheckRecord{1'796'730'588'000,  140,   PageStatus::Online, PageStatus::Online,
                             u"HTTP/1.1 200 OK", 12'300};
    int lookups = 0;
    PageTableModel table(
        rows, list,
        [&](const std::u16string& url) {
            ++lookups;
            return url == u"https://b.example/" ? known : PageSummary{};
        },
        16, 1.0);
    PageFilterProxy proxy;
    proxy.setSourceModel(&table);
    QAbstractItemModelTester tableTester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester proxyTester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    table.askHistory();

    AddPages(list,
             {{u"Weather forecast for the coast", u"https://weather.example/coast"},
              {u"Budget", u"https://b.example/"},
              {u"Agenda", u"https://council.example/agenda"}},
             2);
    const EntryId weather = list.at(0).id, budget = list.at(1).id;
    list.setStatus(budget, PageStatus::Online);
    QCOMPARE(column(table, PageTableModel::Result),
             (QStringList{"\u2014", "200 OK \u2014 12.3 KB in 140 ms", "\u2014"}));
    QCOMPARE(table.index(1, PageTableModel::Status).data().toString(), QString("Online"));
    QCOMPARE(table.index(0, PageTableModel::Status).data().toString(), QString("Not checked yet"));
    QCOMPARE(table.index(0, PageTableModel::Interval).data().toString(), QString("10 minutes"));

    QCOMPARE(proxy.counts(), (std::array<int, 4>{3, 1, 0, 2}));
    list.setStatus(weather, PageStatus::Changed);
    QCOMPARE(proxy.counts(), (std::array<int, 4>{3, 1, 1, 1}));
    proxy.setShow(PageFilterProxy::Show::Offline);
    QCOMPARE(column(proxy, PageTableModel::Label), QStringList{"Agenda"});
    // A check that brings the page online takes it out of the offline view at once.
    list.setStatus(list.at(2).id, PageStatus::Online);
    QCOMPARE(proxy.rowCount(), 0);
    proxy.setShow(PageFilterProxy::Show::All);

    // The search reads labels and URLs, ignoring case, and the counts follow it.
    proxy.setSearchText("COUNCIL");
    QCOMPARE(column(proxy, PageTableModel::Label), QStringList{"Agenda"});
    QCOMPARE(proxy.counts(), (std::array<int, 4>{1, 1, 0, 0}));
    proxy.setSearchText("");

    // The view's sort leaves the list's own order alone; a sorted list reorders under it.
    proxy.sort(PageTableModel::Label, Qt::AscendingOrder);
    QCOMPARE(column(proxy, PageTableModel::Label),
             (QStringList{"Agenda", "Budget", "Weather forecast for the coast"}));
    QCOMPARE(list.at(0).id, weather);
    proxy.sort(PageTableModel::Status, Qt::DescendingOrder);
    QCOMPARE(column(proxy, PageTableModel::Label).first(), QString("Weather forecast for the coast"));
    list.setSorted(true);
    list.remove(budget);
    list.insertLoaded(
        PageEntry{0, u"Zoo", PageStatus::Offline, {u"https://zoo.example/", u"2", u"", u""}, 0});
    QCOMPARE(proxy.rowCount(), 3);
    QCOMPARE(proxy.counts(), (std::array<int, 4>{3, 1, 1, 1}));
    // The history was asked once per URL shown.
    QVERIFY(lookups <= 4);
}

void PageViewsTest::bothViewsShareTheSelectionAndTheSearchNarrowsTheIcons() {
    TMonitorForm& form = open(test::pageFile({{"News", "0", "http://127.0.0.1:1/news"},
                                              {"Printer", "2", "http://127.0.0.1:1/printer"},
                                              {"Weather", "2", "http://127.0.0.1:1/weather"}}));
    showForm();
    PageViews& views = *form.Views;
    // Nothing sorts (and reads the history for it) before the details view is first shown: the
    // hidden view still measures its first row, which must not open the history.
    QVERIFY(!views.details()->isSortingEnabled());
    QTest::qWait(50);
    QVERIFY(!QFile::exists(exeDir_->filePath("history.db")));
    views.showDetails(true);
    QVERIFY(views.details()->isSortingEnabled());
    QVERIFY(views.details()->isVisible());
    QVERIFY(!form.ListView->isVisible());
    views.details()->setCurrentIndex(views.proxy()->index(1, 0));
    QCOMPARE(form.ListView->currentIndex().row(), 1);
    QVERIFY(form.DeleteAction->isEnabled());
    // The page's keys work in the details view too.
    QVERIFY(views.details()->actions().contains(form.DeleteAction));

    // Ctrl+F, then a click on "Offline 2": every offline page in two actions.
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(views.details(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(views.findBar()->isVisible());
    QCOMPARE(QApplication::focusWidget(), views.findBar()->searchField());
    QCOMPARE(views.findBar()->choice(3)->text(), QString("Offline 2"));
    views.findBar()->choice(3)->click();
    QCOMPARE(column(*views.proxy(), PageTableModel::Label), (QStringList{"Printer", "Weather"}));
    QTest::keyClicks(views.findBar()->searchField(), "WEATH");
    QTRY_COMPARE(views.findBar()->choice(0)->text(), QString("All 1"));
    QTRY_VERIFY(form.ListView->isRowHidden(0) && form.ListView->isRowHidden(1) &&
                !form.ListView->isRowHidden(2));
    // The selected page went out of view: what is selected now is a page in view, in both views,
    // so no command acts on a page unseen.
    const QModelIndexList selected = form.ListView->selectionModel()->selectedIndexes();
    for (const QModelIndex& index : selected) QVERIFY(!form.ListView->isRowHidden(index.row()));
    QCOMPARE(views.details()->selectionModel()->selectedRows().size(), selected.size());

    // Escape clears the text, a second one closes the bar; the window's Escape (Add) is not run.
    QTest::keyClick(views.findBar()->searchField(), Qt::Key_Escape);
    QCOMPARE(views.findBar()->searchField()->text(), QString());
    QVERIFY(views.findBar()->isVisible());
    QTest::keyClick(views.findBar()->searchField(), Qt::Key_Escape);
    QVERIFY(!views.findBar()->isVisible());
    QCOMPARE(views.proxy()->rowCount(), 3);
    QTRY_VERIFY(!form.ListView->isRowHidden(0));
    QCOMPARE(form.pageList().size(), size_t(3));
}

void PageViewsTest::viewColumnsAndSortAreRememberedPerUser() {
    TMonitorForm& first = open(test::pageFile({{"News"}}));
    first.Views->detailsAction()->trigger();
    first.Views->details()->setColumnWidth(PageTableModel::Label, 321);
    first.Views->details()->sortByColumn(PageTableModel::Url, Qt::DescendingOrder);
    const QString settingsFile = exeDir_->filePath("settings.ini");
    form_.reset();
    // A second window over the same folder, as the next start would make it.
    MonitorSettings settings;
    settings.exeDir = exeDir_->path() + "/";
    settings.exePath = exeDir_->path() + "/vantrel";
    settings.autostartDir = autostartDir_->path();
    settings.trayWaitMs = trayprobe::kTrayWaitMs;
    form_ = std::make_unique<TMonitorForm>(settings);
    QVERIFY(form_->Views->detailsShown());
    QCOMPARE(form_->Views->details()->columnWidth(PageTableModel::Label), 321);
    QCOMPARE(form_->Views->details()->header()->sortIndicatorSection(), int(PageTableModel::Url));
    QCOMPARE(form_->Views->details()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    QVERIFY(QFile::exists(settingsFile));
    QVERIFY(!test::iniValue(fileBytes(), "main", "count").isNull());
    QVERIFY(!fileBytes().contains("View"));
}

void PageViewsTest::importPreviewsThenAddsFiveHundredPagesInOneStep() {
    TMonitorForm& form = open(test::pageFile({{"Known", "0", "https://known.example/"}}));
    {
        ImportDialog dialog(form.pageList());
        QFile jobs(VANTREL_TEST_SOURCE_DIR "/store/lists/urls.yaml");
        QVERIFY(jobs.open(QIODevice::ReadOnly));
        dialog.setInput(jobs.readAll(), "urls.yaml");
        QCOMPARE(dialog.preview()->topLevelItemCount(), 3);
        QCOMPARE(dialog.summary()->text(), QString("3 pages to add; 3 entries that are no web pages."));
        QCOMPARE(dialog.addButton()->text(), QString("Add 3 Pages"));
        // A hand edit is text: one bad line names itself and nothing is added.
        dialog.input()->setPlainText("https://known.example/\nhttps://new.example/\nnot a page\n");
        QCOMPARE(dialog.summary()->text(),
                 QString("line 3: not a web address: not a page. Nothing will be added."));
        QVERIFY(!dialog.addButton()->isEnabled());
        QVERIFY(dialog.pages().empty());
    }

    QByteArray many = "https://known.example/\n";
    for (int i = 0; i < 500; ++i)
        many += "https://page" + QByteArray::number(i) + ".example/\tPage " + QByteArray::number(i) + "\n";
    test::ModalWatcher driver([&](QWidget* modal) {
        auto* dialog = qobject_cast<ImportDialog*>(modal);
        if (!dialog) return;
        dialog->setInput(many);
        QCOMPARE(dialog->summary()->text(), QString("500 pages to add; 1 already in the list (skipped)."));
        dialog->addButton()->click();
    });
    QSignalSpy resets(form.model(), &QAbstractItemModel::modelReset);
    form.Views->transfer()->importPages();
    QCOMPARE(driver.seen, 1);
    QCOMPARE(form.pageList().size(), size_t(501));
    QCOMPARE(resets.size(), 1);
    QCOMPARE(saved("main", "count"), QString("501"));

    const QString csv = exeDir_->filePath("out.csv");
    form.Views->transfer()->exportTo(csv);
    QFile written(csv);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readLine(), QByteArray("label,url,interval,status\r\n"));
    QCOMPARE(written.readLine(), QByteArray("Known,https://known.example/,1440,Online\r\n"));
    QVERIFY_THROWS_EXCEPTION(std::exception,
                             form.Views->transfer()->exportTo(exeDir_->filePath("no/such/dir.csv")));
}

QTEST_MAIN(PageViewsTest)
#include "PageViews_qtest.moc"
