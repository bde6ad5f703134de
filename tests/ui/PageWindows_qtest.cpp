// The windows of a page: the details window's texts and its live following of new checks, the
// changes window's diff, and the history kept beside the page list file that both read.
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>
#include <QThreadPool>
#include <QTreeWidget>
#include <QtTest>
#include <ctime>

#include "PageFormFixture.h"
#include "store/HistoryStore.h"
#include "support/TrayProbe.h"
#include "ui/ChangesWindow.h"
#include "ui/DetailsWindow.h"
#include "ui/FilterPanel.h"
#include "ui/MonitorUnit.h"
#include "ui/PageWindows.h"

using namespace vantrel;
using Row = DetailsWindow::Row;

namespace {

// 2026-12-08 11:49:48 UTC; the tests run in UTC.
constexpr int64_t kNoon = 1796730588000;

CheckRecord check(int64_t timeMs, PageStatus outcome, PageStatus status, std::u16string detail,
                  int64_t bytes = 0) {
    return CheckRecord{timeMs, 140, outcome, status, std::move(detail), bytes};
}

QString value(const QList<Row>& rows, const QString& caption) {
    for (const Row& row : rows)
        if (row.caption == caption) return row.value;
    return QStringLiteral("(no row)");
}

// Answers the next modal message box with `button` once it shows; bounded by the timer's count.
void answerNextBox(QMessageBox::StandardButton button, QStringList* asked) {
    auto* poll = new QTimer(qApp);
    auto polls = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box) {
            asked->append(box->text());
            box->button(button)->click();
        }
        if (box || ++*polls > 300) poll->deleteLater();
    });
    poll->start(50);
}

std::u16string urlOf(const char* label) {
    return u"http://127.0.0.1:1/" + QString::fromLatin1(label).toStdU16String();
}

}  // namespace

class PageWindowsTest : public QObject, test::PageFormFixture {
    Q_OBJECT
  private slots:
    void initTestCase() {
        qputenv("TZ", "UTC");
        tzset();
        qApp->setQuitOnLastWindowClosed(false);
        QVERIFY2(trayprobe::waitForNotificationArea(), "these tests need a tray host (trayer under Xvfb)");
        dialog_ = std::make_unique<TWebPageDlg>();
    }
    void cleanup() { form_.reset(); }

    void detailsTextForEachResult();
    void historyIsPrunedAtFirstUseAndFollowsAnEditedUrl();
    void historyThatCannotBeOpenedIsSaidInTheWindows();
    void detailsWindowFollowsNewChecksLive();
    void changesWindowShowsTheLineDiffOfTheLatestChange();
    void escapeClosesAndUnsavedFilterEditsAreAskedAbout();
};

void PageWindowsTest::detailsTextForEachResult() {
    const QString noon = "2026-12-08 11:49:48", none = "\u2014";
    const struct {
        PageStatus status;
        std::u16string stamp;
        std::optional<CheckRecord> last;
        QString words, lastCheck, result;
    } cases[] = {
        {PageStatus::Offline, u"", std::nullopt, "Not checked yet", none, none},
        {PageStatus::Online, u"",
         check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK", 12345), "Online", noon,
         "200 OK \u2014 12.3 KB in 140 ms"},
        // The socket's message comes in two lines; the field shows one.
        {PageStatus::Offline, u"",
         check(kNoon, PageStatus::Offline, PageStatus::Offline,
               u"Socket Error # 10061\r\nConnection refused."),
         "Offline", noon, "Offline \u2014 Socket Error # 10061 Connection refused."},
        {PageStatus::Offline, u"",
         check(kNoon, PageStatus::Offline, PageStatus::Offline, u"HTTP/1.1 404 Not Found"), "Offline", noon,
         "Offline \u2014 HTTP/1.1 404 Not Found"},
        // A tolerated failure: the check found the page offline, the page stays changed.
        {PageStatus::Changed, u"", check(kNoon, PageStatus::Offline, PageStatus::Changed, u"Read timed out."),
         "Changed", noon, "Offline \u2014 Read timed out."},
        // No history (off, or older checks): the list's stamp, a local time, still tells when.
        {PageStatus::Online, u"1796730588", std::nullopt, "Online", noon, none},
    };
    for (const auto& c : cases) {
        PageEntry page;
        page.label = u"News";
        page.status = c.status;
        page.columns = {u"http://127.0.0.1:1/news", u"4", c.stamp, u""};
        PageSummary summary;
        summary.last = c.last;
        const QList<Row> rows = DetailsWindow::rowsFor(page, summary);
        const QStringList shown = {value(rows, "Status:"), value(rows, "Last check:"), value(rows, "Result:"),
                                   value(rows, "Interval:")};
        QCOMPARE(shown, (QStringList{c.words, c.lastCheck, c.result, "1 hour"}));
    }
}

void PageWindowsTest::historyIsPrunedAtFirstUseAndFollowsAnEditedUrl() {
    TMonitorForm& form = open({"Kept", "Edited"}, [](HistoryStore& store) {
        for (const char* label : {"Kept", "Edited", "Deleted"})
            store.record(urlOf(label),
                         check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK"),
                         std::nullopt);
    });
    Monitor& monitor = form.monitor();
    // The edit is the history's first use: it moves the old URL's checks before any pruning.
    monitor.editPage(idAt(1), "Edited", "http://127.0.0.1:1/moved", 4, false, false);
    monitor.history()->flush();
    QVERIFY(monitor.history()->summary(urlOf("Kept")).last);
    QVERIFY(!monitor.history()->summary(urlOf("Deleted")).last);
    monitor.recordCheck(u"http://127.0.0.1:1/moved",
                        check(kNoon + 60000, PageStatus::Offline, PageStatus::Offline, u"Connection refused"),
                        std::nullopt);
    monitor.history()->flush();
    QCOMPARE(monitor.history()->recentChecks(u"http://127.0.0.1:1/moved", 10).size(), size_t(2));
    QVERIFY(!monitor.history()->summary(urlOf("Edited")).last);

    // The history is closed with the window and is there at the next start.
    reopen();
    form_->monitor().history()->flush();
    QCOMPARE(form_->monitor().history()->recentChecks(u"http://127.0.0.1:1/moved", 10).size(), size_t(2));
    QVERIFY(form_->monitor().history()->summary(urlOf("Kept")).last);
}

void PageWindowsTest::historyThatCannotBeOpenedIsSaidInTheWindows() {
    open({"News"});
    form_.reset();
    // Nothing used the history in that run: it made no file.
    QVERIFY(!QFileInfo::exists(historyPath()));
    QVERIFY(QDir().mkdir(historyPath()));
    TMonitorForm& form = reopen();
    QTRY_VERIFY_WITH_TIMEOUT(form.monitor().history()->disabled(), 10000);
    // The list goes on: a user's change is saved, a check is taken without a history.
    form.monitor().checkNow(idAt(0));
    form.monitor().recordCheck(urlOf("News"), check(kNoon, PageStatus::Online, PageStatus::Online, u""),
                               u"text");
    DetailsWindow* details = form.pageWindows().showDetails(idAt(0));
    QVERIFY(!details->historyOffLabel()->isHidden());
    QVERIFY2(details->historyOffLabel()->text().startsWith("History is off: "),
             qPrintable(details->historyOffLabel()->text()));
    ChangesWindow* changes = form.pageWindows().showChanges(idAt(0));
    QTRY_VERIFY(changes->diffShown());
    QCOMPARE(changes->view()->toPlainText(), details->historyOffLabel()->text());
}

void PageWindowsTest::detailsWindowFollowsNewChecksLive() {
    TMonitorForm& form = open({"News"}, [](HistoryStore& store) {
        store.record(urlOf("News"),
                     check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK", 2000),
                     std::nullopt);
    });
    DetailsWindow* details = form.pageWindows().showDetails(idAt(0));
    QCOMPARE(details->checksList()->topLevelItemCount(), 1);
    QVERIFY(details->historyOffLabel()->isHidden());

    form.monitor().recordCheck(
        urlOf("News"),
        check(kNoon + 60000, PageStatus::Offline, PageStatus::Offline, u"HTTP/1.1 404 Not Found"),
        std::nullopt);
    form.monitor().recordCheck(
        urlOf("Other"), check(kNoon + 60000, PageStatus::Online, PageStatus::Online, u""), std::nullopt);
    QCOMPARE(details->checksList()->topLevelItemCount(), 2);
    QCOMPARE(details->checksList()->topLevelItem(0)->text(1),
             QStringLiteral("Offline \u2014 HTTP/1.1 404 Not Found"));
    QCOMPARE(value(details->rows(), "Last status change:"), QStringLiteral("2026-12-08 11:50:48"));
    // The list's own change of status shows at once.
    form.monitor().list().setStatus(idAt(0), PageStatus::Offline);
    QCOMPARE(value(details->rows(), "Status:"), QStringLiteral("Offline"));
    // Checks that keep the status leave its time; the list keeps the last 50 checks.
    for (int i = 0; i < DetailsWindow::kRecentChecks; ++i)
        form.monitor().recordCheck(urlOf("News"),
                                   check(kNoon + 120000 + i, PageStatus::Changed, PageStatus::Offline, u""),
                                   std::nullopt);
    QCOMPARE(details->checksList()->topLevelItemCount(), DetailsWindow::kRecentChecks);
    QCOMPARE(value(details->rows(), "Last status change:"), QStringLiteral("2026-12-08 11:50:48"));
    QCOMPARE(value(details->rows(), "Last content change:"), QStringLiteral("2026-12-08 11:51:48"));
}

void PageWindowsTest::changesWindowShowsTheLineDiffOfTheLatestChange() {
    TMonitorForm& form = open({"News", "Quiet"}, [](HistoryStore& store) {
        store.record(urlOf("News"), check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK"),
                     u"title\nold line\nsame 1\nsame 2\nsame 3\nsame 4\nsame 5\nsame 6\nsame 7\nsame 8\nend");
        store.record(
            urlOf("News"), check(kNoon + 60000, PageStatus::Changed, PageStatus::Changed, u"HTTP/1.1 200 OK"),
            u"title\nnew line\nsame 1\nsame 2\nsame 3\nsame 4\nsame 5\nsame 6\nsame 7\nsame 8\nend\nadded");
    });
    ChangesWindow* changes = form.pageWindows().showChanges(idAt(0));
    QTRY_VERIFY(changes->diffShown());
    QCOMPARE(changes->view()->toPlainText(),
             QStringLiteral(
                 "  title\n- old line\n+ new line\n  same 1\n  same 2\n  same 3\n\u22ef 3 unchanged lines\n"
                 "  same 7\n  same 8\n  end\n+ added"));
    const QTextDocument* document = changes->view()->document();
    QCOMPARE(document->findBlockByNumber(1).blockFormat().background().color(), ChangesWindow::kRemoved);
    QCOMPARE(document->findBlockByNumber(2).blockFormat().background().color(), ChangesWindow::kAdded);
    QVERIFY2(
        changes->timesLabel()->text().startsWith("Before: 2026-12-08 11:49:48\nAfter: 2026-12-08 11:50:48"),
        qPrintable(changes->timesLabel()->text()));

    ChangesWindow* quiet = form.pageWindows().showChanges(idAt(1));
    QTRY_VERIFY(quiet->diffShown());
    QCOMPARE(quiet->view()->toPlainText(), QStringLiteral("No change of this page has been recorded yet."));

    // Gone while its diff is worked out: the window does not wait for it, and the result that
    // comes back later is dropped.
    auto* closing = form.pageWindows().showChanges(idAt(0));
    QSignalSpy closingReady(closing, &ChangesWindow::ready);
    delete closing;
    constexpr int kDiffEndsMs = 30000;  // a diff of twelve lines, on a loaded machine
    QVERIFY(QThreadPool::globalInstance()->waitForDone(kDiffEndsMs));
    QCoreApplication::processEvents();
    QCOMPARE(closingReady.size(), 0);
}

void PageWindowsTest::escapeClosesAndUnsavedFilterEditsAreAskedAbout() {
    TMonitorForm& form = open({"News"});
    QPointer<ChangesWindow> changes = form.pageWindows().showChanges(idAt(0));
    QVERIFY(QTest::qWaitForWindowActive(changes));
    QTest::keyClick(changes->windowHandle(), Qt::Key_Escape);
    QTRY_VERIFY(!changes);

    QPointer<DetailsWindow> details = form.pageWindows().showDetails(idAt(0));
    QVERIFY(QTest::qWaitForWindowActive(details));
    HistoryStore& store = *form.monitor().history();
    auto* selector = details->filterPanel()->findChild<QLineEdit*>("selector");
    selector->setText("#news");
    QStringList asked;
    // Escape with an edit: Cancel keeps the window and the edit.
    answerNextBox(QMessageBox::Cancel, &asked);
    QTest::keyClick(details->windowHandle(), Qt::Key_Escape);
    QCOMPARE(asked, QStringList{"The filters of this page were changed. Save the changes?"});
    QVERIFY(details && details->isVisible());
    QCOMPARE(selector->text(), QStringLiteral("#news"));
    // The window's close: Save saves as the Save button does.
    answerNextBox(QMessageBox::Save, &asked);
    details->close();
    QTRY_VERIFY(!details);
    QCOMPARE(store.settings(urlOf("News")).selector, u"#news");

    // Discard closes without saving; with nothing edited nothing is asked.
    details = form.pageWindows().showDetails(idAt(0));
    details->filterPanel()->findChild<QLineEdit*>("selector")->setText("#other");
    answerNextBox(QMessageBox::Discard, &asked);
    details->close();
    QTRY_VERIFY(!details);
    QCOMPARE(store.settings(urlOf("News")).selector, u"#news");
    QCOMPARE(asked.size(), 3);
    details = form.pageWindows().showDetails(idAt(0));
    details->close();
    QTRY_VERIFY(!details);
    QCOMPARE(asked.size(), 3);
}

QTEST_MAIN(PageWindowsTest)
#include "PageWindows_qtest.moc"
