// The per-page commands of the main window (context menus, keys, balloon clicks), the details
// window's texts, the changes window's diff, and the history kept beside the page list file.
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>
#include <ctime>
#include <functional>
#include <memory>

#include "TrayProbe.h"
#include "core/CheckCycle.h"
#include "core/Clock.h"
#include "store/HistoryStore.h"
#include "ui/ChangesWindow.h"
#include "ui/DetailsWindow.h"
#include "ui/ErrorDisplay.h"
#include "ui/MonitorUnit.h"
#include "ui/PageListModel.h"
#include "ui/PageMenu.h"
#include "ui/TrayNotifier.h"
#include "ui/WebPageUnit.h"

using namespace vantrel;
using Row = DetailsWindow::Row;
using Command = PageMenu::Command;

namespace {

// 2026-12-08 11:49:48 UTC; the tests run in UTC.
constexpr int64_t kNoon = 1796730588000;

QStringList gOpened;
void recordOpen(const QString& url) {
    gOpened << url;
}

// Answers the next message box with `reply` and gives back its text (bounded to 5 s).
QString answerNextQuestion(QMessageBox::StandardButton reply, const std::function<void()>& trigger) {
    QString text;
    QTimer timer;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            timer.stop();
            text = box->text();
            box->button(reply)->click();
        } else if (waited.elapsed() > 5000) {
            timer.stop();
        }
    });
    timer.start(20);
    trigger();
    return text;
}

CheckRecord check(int64_t timeMs, PageStatus outcome, PageStatus status, std::u16string detail,
                  int64_t bytes = 0, int64_t durationMs = 140) {
    return CheckRecord{timeMs, durationMs, outcome, status, std::move(detail), bytes};
}

PageEntry entry(PageStatus status, std::u16string stamp = {}) {
    PageEntry e;
    e.label = u"News";
    e.status = status;
    e.columns = {u"http://127.0.0.1:1/news", u"4", std::move(stamp), u""};
    return e;
}

QString value(const QList<Row>& rows, const QString& caption) {
    for (const Row& row : rows)
        if (row.caption == caption) return row.value;
    return QStringLiteral("(no row)");
}

QByteArray pageFile(const QList<QByteArray>& labels) {
    const QByteArray stamp = QByteArray::number(qlonglong(LastCheckStamp(SystemClock().now())));
    QByteArray bytes =
        "[main]\r\ncount=" + QByteArray::number(labels.size()) + "\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n";
    for (int i = 0; i < labels.size(); ++i) {
        bytes += "[web" + QByteArray::number(i + 1) + "]\r\ncaption=" + labels[i] +
                 "\r\nstatus=0\r\nitem1=http://127.0.0.1:1/" + labels[i] + "\r\nitem2=8\r\nitem3=" + stamp +
                 "\r\nitem4=CRC of a text above is: 00000001\r\n";
    }
    return bytes;
}

std::u16string urlOf(const char* label) {
    return u"http://127.0.0.1:1/" + QString::fromLatin1(label).toStdU16String();
}

}  // namespace

class PageCommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TWebPageDlg> dialog_;
    std::unique_ptr<TMonitorForm> form_;

    QString historyPath() const { return dir_->filePath("history.db"); }
    // A window over a fresh directory with pages of these labels; `seed` writes to the history
    // before the window opens it. The timer is stopped: no check runs behind the test's back.
    TMonitorForm& open(const QList<QByteArray>& labels, const std::function<void(HistoryStore&)>& seed = {}) {
        form_.reset();
        dir_ = std::make_unique<QTemporaryDir>();
        QFile out(dir_->filePath("webpages.dat"));
        out.open(QIODevice::WriteOnly);
        out.write(pageFile(labels));
        out.close();
        if (seed) {
            HistoryStore store(historyPath().toStdString());
            seed(store);
        }
        return reopen();
    }
    // The next start in the same directory.
    TMonitorForm& reopen() {
        form_.reset();
        MonitorSettings settings;
        settings.exeDir = dir_->path() + "/";
        settings.exePath = dir_->path() + "/vantrel";
        settings.autostartDir = dir_->filePath("autostart");
        settings.trayWaitMs = trayprobe::kTrayWaitMs;
        form_ = std::make_unique<TMonitorForm>(settings);
        form_->Timer->stop();
        form_->setDialog(dialog_.get());
        return *form_;
    }
    void select(int row) {
        form_->ListView->setFocus();
        form_->ListView->setCurrentIndex(form_->model()->index(row));
    }
    EntryId idAt(int row) const { return form_->pageList().at(size_t(row)).id; }

  private slots:
    void initTestCase() {
        qputenv("TZ", "UTC");
        tzset();
        qApp->setQuitOnLastWindowClosed(false);
        QVERIFY2(trayprobe::waitForNotificationArea(), "these tests need a tray host (trayer under Xvfb)");
        dialog_ = std::make_unique<TWebPageDlg>();
        TWebPageDlg::setOpener(recordOpen);
    }
    void cleanup() { form_.reset(); }

    void detailsTextForEachResult_data();
    void detailsTextForEachResult();
    void summaryFollowsChecksAsTheyCome();
    void historyIsPrunedAtStartAndFollowsAnEditedUrl();
    void historyThatCannotBeOpenedIsSaidInTheWindows();
    void pageKeysAndMenuCommandsActOnTheSelectedPage();
    void menusOpenForAPageOrTheEmptyList();
    void detailsWindowFollowsNewChecksLive();
    void changesWindowShowsTheLineDiffOfTheLatestChange();
    void balloonClickOpensChangesOnlyForAChange();
};

void PageCommandsTest::detailsTextForEachResult_data() {
    QTest::addColumn<PageEntry>("page");
    QTest::addColumn<std::optional<CheckRecord>>("last");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("lastCheck");
    QTest::addColumn<QString>("result");
    const QString noon = QStringLiteral("2026-12-08 11:49:48");
    const QString none = QStringLiteral("\u2014");
    QTest::newRow("never checked") << entry(PageStatus::Offline) << std::optional<CheckRecord>()
                                   << "Not checked yet" << none << none;
    QTest::newRow("online") << entry(PageStatus::Online)
                            << std::optional(check(kNoon, PageStatus::Online, PageStatus::Online,
                                                   u"HTTP/1.1 200 OK", 12345))
                            << "Online" << noon << "200 OK \u2014 12.3 KB in 140 ms";
    // The socket's message comes in two lines; the field shows one.
    QTest::newRow("refused") << entry(PageStatus::Offline)
                             << std::optional(check(kNoon, PageStatus::Offline, PageStatus::Offline,
                                                    u"Socket Error # 10061\r\nConnection refused."))
                             << "Offline" << noon
                             << "Offline \u2014 Socket Error # 10061 Connection refused.";
    QTest::newRow("certificate") << entry(PageStatus::Offline)
                                 << std::optional(check(kNoon, PageStatus::Offline, PageStatus::Offline,
                                                        u"TLS handshake failed: certificate verify failed"))
                                 << "Offline" << noon
                                 << "Offline \u2014 TLS handshake failed: certificate verify failed";
    QTest::newRow("not found") << entry(PageStatus::Offline)
                               << std::optional(check(kNoon, PageStatus::Offline, PageStatus::Offline,
                                                      u"HTTP/1.1 404 Not Found"))
                               << "Offline" << noon << "Offline \u2014 HTTP/1.1 404 Not Found";
    // Tolerated failures: the check found the page offline, the page stays changed.
    QTest::newRow("failure tolerated")
        << entry(PageStatus::Changed)
        << std::optional(check(kNoon, PageStatus::Offline, PageStatus::Changed, u"Read timed out."))
        << "Changed" << noon << "Offline \u2014 Read timed out.";
    // History off or older than the history: the list's stamp (local time) still tells when.
    QTest::newRow("stamp only") << entry(PageStatus::Online, u"1796730588") << std::optional<CheckRecord>()
                                << "Online" << noon << none;
}

void PageCommandsTest::detailsTextForEachResult() {
    QFETCH(PageEntry, page);
    QFETCH(std::optional<CheckRecord>, last);
    PageSummary summary;
    summary.last = last;
    const QList<Row> rows = DetailsWindow::rowsFor(page, summary);
    QCOMPARE(value(rows, "Label:"), QStringLiteral("News"));
    QCOMPARE(value(rows, "Interval:"), QStringLiteral("1 hour"));
    QTEST(value(rows, "Status:"), "status");
    QTEST(value(rows, "Last check:"), "lastCheck");
    QTEST(value(rows, "Result:"), "result");
    QCOMPARE(value(rows, "Last content change:"),
             last ? QStringLiteral("None recorded") : QStringLiteral("\u2014"));
}

void PageCommandsTest::summaryFollowsChecksAsTheyCome() {
    PageSummary summary;
    std::vector<CheckRecord> recent;
    DetailsWindow::addCheck(summary, recent, check(1000, PageStatus::Online, PageStatus::Online, u""));
    DetailsWindow::addCheck(summary, recent, check(2000, PageStatus::Changed, PageStatus::Changed, u""));
    // A tolerated failure keeps the status: the status change stays at the change.
    DetailsWindow::addCheck(summary, recent, check(3000, PageStatus::Offline, PageStatus::Changed, u""));
    QCOMPARE(summary.statusSinceMs, std::optional<int64_t>(2000));
    QCOMPARE(summary.contentChangedMs, std::optional<int64_t>(2000));
    QCOMPARE(summary.last->timeMs, 3000);
    QCOMPARE(recent.front().timeMs, 3000);
    for (int i = 0; i < DetailsWindow::kRecentChecks + 5; ++i)
        DetailsWindow::addCheck(summary, recent,
                                check(4000 + i, PageStatus::Offline, PageStatus::Offline, u""));
    QCOMPARE(recent.size(), size_t(DetailsWindow::kRecentChecks));
    QCOMPARE(summary.statusSinceMs, std::optional<int64_t>(4000));
    QCOMPARE(summary.checkCount, int64_t(3 + DetailsWindow::kRecentChecks + 5));
}

void PageCommandsTest::historyIsPrunedAtStartAndFollowsAnEditedUrl() {
    TMonitorForm& form = open({"Kept", "Edited"}, [](HistoryStore& store) {
        for (const char* label : {"Kept", "Edited", "Deleted"})
            store.record(urlOf(label),
                         check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK"),
                         std::nullopt);
    });
    Monitor& monitor = form.monitor();
    QVERIFY(monitor.history() && !monitor.history()->disabled());
    monitor.history()->flush();
    QVERIFY(monitor.history()->summary(urlOf("Kept")).last);
    QVERIFY(!monitor.history()->summary(urlOf("Deleted")).last);

    monitor.editPage(idAt(1), "Edited", "http://127.0.0.1:1/moved", 4, false, false);
    QSignalSpy recorded(&monitor, &Monitor::checkRecorded);
    monitor.recordCheck(u"http://127.0.0.1:1/moved",
                        check(kNoon + 60000, PageStatus::Offline, PageStatus::Offline, u"Connection refused"),
                        std::nullopt);
    QCOMPARE(recorded.size(), 1);
    monitor.history()->flush();
    QCOMPARE(monitor.history()->recentChecks(u"http://127.0.0.1:1/moved", 10).size(), size_t(2));
    QVERIFY(!monitor.history()->summary(urlOf("Edited")).last);

    // The history is closed with the window and is there at the next start.
    reopen();
    form_->monitor().history()->flush();
    QCOMPARE(form_->monitor().history()->recentChecks(u"http://127.0.0.1:1/moved", 10).size(), size_t(2));
    QVERIFY(form_->monitor().history()->summary(urlOf("Kept")).last);
}

void PageCommandsTest::historyThatCannotBeOpenedIsSaidInTheWindows() {
    open({"News"});
    form_.reset();
    QVERIFY(QFile::remove(historyPath()));
    QVERIFY(QDir().mkdir(historyPath()));
    TMonitorForm& form = reopen();
    QVERIFY(form.monitor().history()->disabled());
    // The list goes on: a user's change is saved, a check is taken without a history.
    form.monitor().checkNow(idAt(0));
    form.monitor().recordCheck(urlOf("News"), check(kNoon, PageStatus::Online, PageStatus::Online, u""), u"text");
    DetailsWindow* details = form.Menu->showDetails(idAt(0));
    QVERIFY(!details->historyOffLabel()->isHidden());
    QVERIFY2(details->historyOffLabel()->text().startsWith("History is off: "),
             qPrintable(details->historyOffLabel()->text()));
    ChangesWindow* changes = form.Menu->showChanges(idAt(0));
    QTRY_VERIFY(changes->diffShown());
    QCOMPARE(changes->view()->toPlainText(), details->historyOffLabel()->text());
}

void PageCommandsTest::pageKeysAndMenuCommandsActOnTheSelectedPage() {
    TMonitorForm& form = open({"First", "Second", "Third"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const LocalMillis now = SystemClock().now();
    const auto due = [&] {
        QList<bool> result;
        for (const PageEntry& e : form.pageList().entries()) result << DecideDue(e, now).due;
        return result;
    };
    QCOMPARE(due(), (QList<bool>{false, false, false}));

    // Check Now: that page alone is due, its status kept, and the list file saved.
    select(1);
    QTest::keyClick(form.ListView, Qt::Key_F5);
    QCOMPARE(due(), (QList<bool>{false, true, false}));
    QCOMPARE(form.pageList().at(1).status, PageStatus::Online);
    QFile file(dir_->filePath("webpages.dat"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("item3=\r\n"), 1);

    // Delete asks the Del button's question; No keeps the page.
    const QString asked =
        answerNextQuestion(QMessageBox::No, [&] { QTest::keyClick(form.ListView, Qt::Key_Delete); });
    QCOMPARE(asked, QStringLiteral("Do you sure to delete the monitor for web pages \"Second\" ?"));
    QCOMPARE(form.pageList().size(), size_t(3));

    // F2 edits the selected page in the dialog.
    QString editedLabel;
    QTimer::singleShot(100, dialog_.get(), [&] {
        editedLabel = dialog_->labelText();
        dialog_->reject();
    });
    QTest::keyClick(form.ListView, Qt::Key_F2);
    QCOMPARE(editedLabel, QStringLiteral("Second"));

    gOpened.clear();
    form.Menu->action(Command::OpenInBrowser)->trigger();
    QCOMPARE(gOpened, QStringList{"http://127.0.0.1:1/Second"});

    QTest::keyClick(form.ListView, Qt::Key_Return, Qt::AltModifier);
    auto* details = form.findChild<DetailsWindow*>();
    QVERIFY(details && details->isVisible());
    QCOMPARE(details->entryId(), idAt(1));
    // Asked again, the same window comes to the front.
    QCOMPARE(form.Menu->showDetails(idAt(1)), details);

    // Without a selection the page commands do nothing; the list's commands still work.
    form.ListView->clearSelection();
    QTest::keyClick(form.ListView, Qt::Key_F5);
    QCOMPARE(due(), (QList<bool>{false, true, false}));
    const QString recheck =
        answerNextQuestion(QMessageBox::No, [&] { form.Menu->action(Command::RecheckAll)->trigger(); });
    QCOMPARE(recheck, QStringLiteral("Do you sure to recheck all web pages ?"));

    // Deleting the page closes its details window.
    select(1);
    QPointer<DetailsWindow> watched(details);
    answerNextQuestion(QMessageBox::Yes, [&] { form.Menu->action(Command::Delete)->trigger(); });
    QCOMPARE(form.pageList().size(), size_t(2));
    QTRY_VERIFY(!watched || !watched->isVisible());
}

void PageCommandsTest::menusOpenForAPageOrTheEmptyList() {
    TMonitorForm& form = open({"First", "Second"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.ListView->visualRect(form.model()->index(1)).isValid());

    form.Menu->popupAt(form.ListView->visualRect(form.model()->index(1)).center());
    QTRY_VERIFY(form.Menu->pageMenu()->isVisible());
    QCOMPARE(form.ListView->currentIndex().row(), 1);
    form.Menu->pageMenu()->close();

    form.Menu->popupAt(
        QPoint(form.ListView->viewport()->width() - 4, form.ListView->viewport()->height() - 4));
    QTRY_VERIFY(form.Menu->listMenu()->isVisible());
    QVERIFY(form.ListView->selectionModel()->selectedIndexes().isEmpty());
    form.Menu->listMenu()->close();

    select(0);
    QTest::keyClick(form.ListView, Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(form.Menu->pageMenu()->isVisible());
    form.Menu->pageMenu()->close();
    QTest::keyClick(form.ListView, Qt::Key_Menu);
    QTRY_VERIFY(form.Menu->pageMenu()->isVisible());
    form.Menu->pageMenu()->close();

    QStringList texts;
    for (QAction* action : form.Menu->pageMenu()->actions())
        if (!action->isSeparator()) texts << action->text().section('\t', 0, 0);
    QCOMPARE(texts, (QStringList{"&Check Now", "&Open in Web Browser", "&Edit\u2026", "&Delete",
                                 "De&tails\u2026", "Show C&hanges\u2026"}));
}

void PageCommandsTest::detailsWindowFollowsNewChecksLive() {
    TMonitorForm& form = open({"News"}, [](HistoryStore& store) {
        store.record(urlOf("News"),
                     check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK", 2000),
                     std::nullopt);
    });
    DetailsWindow* details = form.Menu->showDetails(idAt(0));
    QVERIFY(details);
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
}

void PageCommandsTest::changesWindowShowsTheLineDiffOfTheLatestChange() {
    TMonitorForm& form = open({"News", "Quiet"}, [](HistoryStore& store) {
        store.record(urlOf("News"), check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK"),
                     u"title\nold line\nsame 1\nsame 2\nsame 3\nsame 4\nsame 5\nsame 6\nsame 7\nsame 8\nend");
        store.record(
            urlOf("News"), check(kNoon + 60000, PageStatus::Changed, PageStatus::Changed, u"HTTP/1.1 200 OK"),
            u"title\nnew line\nsame 1\nsame 2\nsame 3\nsame 4\nsame 5\nsame 6\nsame 7\nsame 8\nend\nadded");
    });
    ChangesWindow* changes = form.Menu->showChanges(idAt(0));
    QVERIFY(changes);
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

    ChangesWindow* quiet = form.Menu->showChanges(idAt(1));
    QTRY_VERIFY(quiet->diffShown());
    QCOMPARE(quiet->view()->toPlainText(), QStringLiteral("No change of this page has been recorded yet."));
}

void PageCommandsTest::balloonClickOpensChangesOnlyForAChange() {
    TMonitorForm& form = open({"Same", "Same", "Other"});
    form.monitor().list().setStatus(idAt(1), PageStatus::Changed);
    QSignalSpy shown(form.TrayIcon, &TrayNotifier::clicked);

    form.TrayIcon->announce(PageStatus::Changed, u"Same");
    emit form.TrayIcon->icon()->messageClicked();
    QTRY_VERIFY(form.findChild<ChangesWindow*>());
    auto* changes = form.findChild<ChangesWindow*>();
    QVERIFY(changes->isVisible());
    // Of two pages with the label, the one that is changed.
    QCOMPARE(changes->entryId(), idAt(1));
    QCOMPARE(shown.size(), 0);

    form.TrayIcon->announce(PageStatus::Offline, u"Other");
    emit form.TrayIcon->icon()->messageClicked();
    QTRY_COMPARE(shown.size(), 1);
    // A press on the icon while a balloon is up reports the balloon's click, then the icon's: one
    // click, no changes window.
    form.TrayIcon->announce(PageStatus::Changed, u"Same");
    emit form.TrayIcon->icon()->messageClicked();
    emit form.TrayIcon->icon()->activated(QSystemTrayIcon::Trigger);
    QTest::qWait(50);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(form.findChildren<ChangesWindow*>().size(), 1);
    QTRY_VERIFY(form.isVisible());
}

QTEST_MAIN(PageCommandsTest)
#include "PageCommands_qtest.moc"
