// The per-page commands of the main window: its actions in the context menus and on the list's
// keys, with their enabled state, and the click on a balloon that announced a change.
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <functional>

#include "PageFormFixture.h"
#include "core/CheckCycle.h"
#include "core/Clock.h"
#include "support/TrayProbe.h"
#include "ui/ChangesWindow.h"
#include "ui/DetailsWindow.h"
#include "ui/MonitorUnit.h"
#include "ui/PageListModel.h"
#include "ui/PageMenu.h"
#include "ui/PageWindows.h"
#include "ui/TrayNotifier.h"
#include "ui/WebPageUnit.h"

using namespace vantrel;

namespace {

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

}  // namespace

class PageCommandsTest : public QObject, test::PageFormFixture {
    Q_OBJECT
  private slots:
    void initTestCase() {
        qApp->setQuitOnLastWindowClosed(false);
        QVERIFY2(trayprobe::waitForNotificationArea(), "these tests need a tray host (trayer under Xvfb)");
        dialog_ = std::make_unique<TWebPageDlg>();
        TWebPageDlg::setOpener(recordOpen);
    }
    void cleanup() { form_.reset(); }

    void menusKeysAndCommandsActOnTheSelectedPage();
    void balloonClickOpensChangesOnlyForAChange();
};

void PageCommandsTest::menusKeysAndCommandsActOnTheSelectedPage() {
    TMonitorForm& form = open({"First", "Second", "Third"});
    form.show();
    // The keys are the list's: they work while it has the focus in the active window. Without a
    // window manager nothing gives the focus back after a dialog: the test does.
    const auto activate = [&form] {
        form.activateWindow();
        form.ListView->setFocus();
        return QTest::qWaitForWindowActive(&form);
    };
    QVERIFY(activate());
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

    // A page's commands wait for a page: without one, their keys do nothing.
    form.ListView->clearSelection();
    QVERIFY(!form.CheckNowAction->isEnabled() && !form.DetailsAction->isEnabled());
    QVERIFY(form.AddAction->isEnabled() && form.RecheckAllAction->isEnabled());
    QTest::keyClick(form.ListView, Qt::Key_F5);
    QCOMPARE(due(), (QList<bool>{false, false, false}));

    // Check Now, by its key and from the menu, is the one action: the page alone is due, its
    // status kept, and the list file saved.
    select(1);
    QVERIFY(form.CheckNowAction->isEnabled());
    QTest::keyClick(form.ListView, Qt::Key_F5);
    QCOMPARE(due(), (QList<bool>{false, true, false}));
    form.Menu->popupAt(form.ListView->visualRect(form.model()->index(2)).center());
    QMenu* menu = form.Menu->pageMenu();
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(form.CheckNowAction->shortcut(), QKeySequence(Qt::Key_F5));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(form.CheckNowAction).center());
    QTRY_VERIFY(!menu->isVisible());
    QCOMPARE(due(), (QList<bool>{false, true, true}));
    select(1);
    QCOMPARE(form.pageList().at(1).status, PageStatus::Online);
    form.monitor().waitForSaves();
    QFile file(dir_->filePath("webpages.dat"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("item3=\r\n"), 2);

    // Delete asks the Del button's question; No keeps the page.
    const QString asked =
        answerNextQuestion(QMessageBox::No, [&] { QTest::keyClick(form.ListView, Qt::Key_Delete); });
    QCOMPARE(asked, QStringLiteral("Do you sure to delete the monitor for web pages \"Second\" ?"));
    QCOMPARE(form.pageList().size(), size_t(3));

    // F2 edits the selected page in the dialog (the question took the focus with it).
    QVERIFY(activate());
    QString editedLabel;
    QTimer::singleShot(100, dialog_.get(), [&] {
        editedLabel = dialog_->labelText();
        dialog_->reject();
    });
    QTest::keyClick(form.ListView, Qt::Key_F2);
    QCOMPARE(editedLabel, QStringLiteral("Second"));

    gOpened.clear();
    form.OpenInBrowserAction->trigger();
    QCOMPARE(gOpened, QStringList{"http://127.0.0.1:1/Second"});

    QVERIFY(activate());
    QTest::keyClick(form.ListView, Qt::Key_Return, Qt::AltModifier);
    auto* details = form.findChild<DetailsWindow*>();
    QVERIFY(details && details->isVisible());
    QCOMPARE(details->entryId(), idAt(1));
    // Asked again, the same window comes to the front.
    QCOMPARE(form.pageWindows().showDetails(idAt(1)), details);

    // The list's commands need no selection.
    form.ListView->clearSelection();
    const QString recheck = answerNextQuestion(QMessageBox::No, [&] { form.RecheckAllAction->trigger(); });
    QCOMPARE(recheck, QStringLiteral("Do you sure to recheck all web pages ?"));

    // Deleting the page closes its details window.
    select(1);
    QPointer<DetailsWindow> watched(details);
    answerNextQuestion(QMessageBox::Yes, [&] { form.DeleteAction->trigger(); });
    QCOMPARE(form.pageList().size(), size_t(2));
    QTRY_VERIFY(!watched || !watched->isVisible());
}

void PageCommandsTest::balloonClickOpensChangesOnlyForAChange() {
    TMonitorForm& form = open({"Same", "Same", "Other"});
    form.monitor().list().setStatus(idAt(1), PageStatus::Changed);
    QSignalSpy shown(form.TrayIcon, &TrayNotifier::clicked);

    // Of two pages with one label, the one the balloon was about, whatever the other's status.
    form.TrayIcon->announce(PageStatus::Changed, idAt(0), u"Same");
    emit form.TrayIcon->icon()->messageClicked();
    QTRY_COMPARE(form.findChildren<ChangesWindow*>().size(), 1);
    auto* first = form.findChild<ChangesWindow*>();
    QVERIFY(first->isVisible());
    QCOMPARE(first->entryId(), idAt(0));
    form.TrayIcon->announce(PageStatus::Changed, idAt(1), u"Same");
    emit form.TrayIcon->icon()->messageClicked();
    QTRY_COMPARE(form.findChildren<ChangesWindow*>().size(), 2);
    QCOMPARE(form.findChildren<ChangesWindow*>().at(1)->entryId(), idAt(1));
    QCOMPARE(shown.size(), 0);

    form.TrayIcon->announce(PageStatus::Offline, idAt(2), u"Other");
    emit form.TrayIcon->icon()->messageClicked();
    QTRY_COMPARE(shown.size(), 1);
    // A press on the icon while a balloon is up reports the balloon's click, then the icon's: one
    // click, no changes window.
    form.TrayIcon->announce(PageStatus::Changed, idAt(0), u"Same");
    emit form.TrayIcon->icon()->messageClicked();
    emit form.TrayIcon->icon()->activated(QSystemTrayIcon::Trigger);
    QTest::qWait(50);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(form.findChildren<ChangesWindow*>().size(), 2);

    // A page deleted since its balloon: the click brings the main window back instead.
    const EntryId gone = idAt(2);
    form.monitor().removePage(gone);
    form.hide();
    form.TrayIcon->announce(PageStatus::Changed, gone, u"Other");
    emit form.TrayIcon->icon()->messageClicked();
    QTRY_VERIFY(form.isVisible());
    QCOMPARE(form.findChildren<ChangesWindow*>().size(), 2);
}

QTEST_MAIN(PageCommandsTest)
#include "PageCommands_qtest.moc"
