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

#include "core/CheckCycle.h"
#include "core/Clock.h"
#include "store/HistoryStore.h"
#include "support/TrayProbe.h"
#include "ui/ChangesWindow.h"
#include "ui/DetailsWindow.h"
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
                  int64_t bytes = 0) {
    return CheckRecord{timeMs, 140, outcome, status, std::move(detail), bytes};
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
        if (QFile out(dir_->filePath("webpages.dat")); out.open(QIODevice::WriteOnly))
            out.write(pageFile(labels));
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
        settings.trayWaitMs = trayprobe::kTrayWaitMs;
        form_ = std::make_unique<TMonitorForm>(settings);
        form_->Timer->stop();
        form_->setDialog(dialog_.get());
        return *form_;
    }
    void select(int row) { form_->ListView->setCurrentIndex(form_->model()->index(row)); }
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

    void detailsTextForEachResult();
    void historyIsPrunedAtFirstUseAndFollowsAnEditedUrl();
    void historyThatCannotBeOpenedIsSaidInTheWindows();
    void menusKeysAndCommandsActOnTheSelectedPage();
    void detailsWindowFollowsNewChecksLive();
    void changesWindowShowsTheLineDiffOfTheLatestChange();
    void balloonClickOpensChangesOnlyForAChange();
};

void PageCommandsTest::detailsTextForEachResult() {
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

void PageCommandsTest::historyIsPrunedAtFirstUseAndFollowsAnEditedUrl() {
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

void PageCommandsTest::historyThatCannotBeOpenedIsSaidInTheWindows() {
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
    DetailsWindow* details = form.Menu->showDetails(idAt(0));
    QVERIFY(!details->historyOffLabel()->isHidden());
    QVERIFY2(details->historyOffLabel()->text().startsWith("History is off: "),
             qPrintable(details->historyOffLabel()->text()));
    ChangesWindow* changes = form.Menu->showChanges(idAt(0));
    QTRY_VERIFY(changes->diffShown());
    QCOMPARE(changes->view()->toPlainText(), details->historyOffLabel()->text());
}

void PageCommandsTest::menusKeysAndCommandsActOnTheSelectedPage() {
    TMonitorForm& form = open({"First", "Second", "Third"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.ListView->visualRect(form.model()->index(2)).isValid());
    // A right click on an icon selects its page for the page menu; one on empty space selects none.
    form.Menu->popupAt(form.ListView->visualRect(form.model()->index(0)).center());
    QTRY_VERIFY(form.Menu->pageMenu()->isVisible());
    QCOMPARE(form.ListView->currentIndex().row(), 0);
    form.Menu->pageMenu()->close();
    const QWidget* viewport = form.ListView->viewport();
    form.Menu->popupAt(QPoint(viewport->width() - 4, viewport->height() - 4));
    QTRY_VERIFY(form.Menu->listMenu()->isVisible());
    QVERIFY(form.ListView->selectionModel()->selectedIndexes().isEmpty());
    form.Menu->listMenu()->close();
    for (const QKeyCombination key : {Qt::Key_Menu | Qt::NoModifier, Qt::Key_F10 | Qt::ShiftModifier}) {
        select(0);
        QTest::keyClick(form.ListView, key.key(), key.keyboardModifiers());
        QTRY_VERIFY(form.Menu->pageMenu()->isVisible());
        form.Menu->pageMenu()->close();
    }

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
    form.monitor().waitForSaves();
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

    // The list's commands need no selection.
    form.ListView->clearSelection();
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

void PageCommandsTest::detailsWindowFollowsNewChecksLive() {
    TMonitorForm& form = open({"News"}, [](HistoryStore& store) {
        store.record(urlOf("News"),
                     check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK", 2000),
                     std::nullopt);
    });
    DetailsWindow* details = form.Menu->showDetails(idAt(0));
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

void PageCommandsTest::changesWindowShowsTheLineDiffOfTheLatestChange() {
    TMonitorForm& form = open({"News", "Quiet"}, [](HistoryStore& store) {
        store.record(urlOf("News"), check(kNoon, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK"),
                     u"title\nold line\nsame 1\nsame 2\nsame 3\nsame 4\nsame 5\nsame 6\nsame 7\nsame 8\nend");
        store.record(
            urlOf("News"), check(kNoon + 60000, PageStatus::Changed, PageStatus::Changed, u"HTTP/1.1 200 OK"),
            u"title\nnew line\nsame 1\nsame 2\nsame 3\nsame 4\nsame 5\nsame 6\nsame 7\nsame 8\nend\nadded");
    });
    ChangesWindow* changes = form.Menu->showChanges(idAt(0));
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
}

QTEST_MAIN(PageCommandsTest)
#include "PageCommands_qtest.moc"
