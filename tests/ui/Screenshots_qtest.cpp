// Screenshots of the main window with entries in every status, of the web page dialog open for an
// edit, and of the details and changes windows of a page with a history of mixed results, written
// under the build tree's screenshots/ folder for anyone to look at.
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "TrayProbe.h"
#include "store/HistoryStore.h"
#include "ui/ChangesWindow.h"
#include "ui/DetailsWindow.h"
#include "ui/MonitorUnit.h"
#include "ui/PageMenu.h"
#include "ui/WebPageUnit.h"

using vantrel::MonitorSettings;
using vantrel::TMonitorForm;
using vantrel::TWebPageDlg;

namespace {

struct SampleEntry {
    const char* caption;
    int status;
    const char* url;
};

// Statuses 3 and 7 come from files edited by hand: 3 shows the spare globe, 7 no picture.
const SampleEntry kEntries[] = {
    {"Example News", 0, "http://127.0.0.1:9/news"},
    {"Town Council Agenda", 1, "http://127.0.0.1:9/council/agenda.html"},
    {"Office Printer", 2, "http://127.0.0.1:9/printer"},
    {"Spare Globe (status 3)", 3, "http://127.0.0.1:9/three"},
    {"Unknown Status 7", 7, "http://127.0.0.1:9/seven"},
    {"Weather Forecast for the Coast", 0, "http://127.0.0.1:9/weather"},
    {"Release Notes", 1, "http://127.0.0.1:9/releases"},
};

// Every entry was checked just now on a one-day interval, so no check runs while the
// screenshots are taken.
QByteArray pageListFile() {
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 stamp = now.toSecsSinceEpoch() + now.offsetFromUtc();
    QByteArray text = "[main]\r\ncount=" + QByteArray::number(int(std::size(kEntries))) +
                      "\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n";
    int n = 0;
    for (const SampleEntry& e : kEntries) {
        text += "[web" + QByteArray::number(++n) + "]\r\ncaption=" + e.caption +
                "\r\nstatus=" + QByteArray::number(e.status) + "\r\nitem1=" + e.url +
                "\r\nitem2=8\r\nitem3=" + QByteArray::number(stamp) + "\r\nitem4=1A2B3C4D\r\n";
    }
    return text;
}

// "main-window.png"; on a scaled display "main-window@2x.png" and the like, so that a run with
// QT_SCALE_FACTOR=2 shows the pictures on a high-density screen beside the plain ones.
QString screenshotPath(const char* stem, qreal ratio) {
    QString name = QLatin1String(stem);
    if (ratio != 1.0) name += QLatin1Char('@') + QString::number(ratio) + QLatin1Char('x');
    return QStringLiteral(VANTREL_BINARY_DIR "/screenshots/") + name + QStringLiteral(".png");
}

// The agenda page's history: 40 checks every 20 minutes up to now, with slow answers, failures of
// several kinds and one change of its text.
void seedHistory(const QString& path) {
    using namespace vantrel;
    HistoryStore store(path.toStdString());
    const std::u16string url = u"http://127.0.0.1:9/council/agenda.html";
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const std::u16string before =
        u"Town Council\nAgenda for the meeting of 14 December\n1. Opening\n2. Minutes of the last meeting\n"
        u"3. Budget 2027\n4. Road works on Harbour Street\n5. Questions from residents\n6. Any other "
        u"business\nThe meeting starts at 19:00 in the town hall.";
    const std::u16string after =
        u"Town Council\nAgenda for the meeting of 14 December\n1. Opening\n2. Minutes of the last meeting\n"
        u"3. Budget 2027 (second reading)\n4. Road works on Harbour Street\n5. New bus timetable\n6. "
        u"Questions from residents\n7. Any other business\nThe meeting starts at 19:30 in the town hall.";
    for (int i = 0; i < 40; ++i) {
        CheckRecord check;
        check.timeMs = now - int64_t(39 - i) * 20 * 60000;
        check.durationMs = 120 + (i * 37) % 180 + (i % 9 == 4 ? 900 : 0);
        check.outcome = i < 30 ? PageStatus::Online : PageStatus::Changed;
        check.detail = u"HTTP/1.1 200 OK";
        check.textBytes = i < 30 ? 12345 : 12610;
        std::optional<std::u16string> text = i < 30 ? before : after;
        if (i == 12 || i == 13) {
            check.outcome = PageStatus::Offline;
            check.detail = i == 12 ? u"Socket Error # 10061\r\nConnection refused."
                                   : u"HTTP/1.1 503 Service Unavailable";
            check.textBytes = 0;
            text.reset();
        } else if (i == 35) {
            check.outcome = PageStatus::Offline;
            check.detail = u"Read timed out.";
            check.durationMs = 1500;
            check.textBytes = 0;
            text.reset();
        }
        check.status = i >= 30                                ? PageStatus::Changed
                       : check.outcome == PageStatus::Offline ? PageStatus::Offline
                                                              : PageStatus::Online;
        // After the change the page stays changed until the user looks at it.
        if (i > 30 && check.outcome != PageStatus::Offline) check.outcome = PageStatus::Online;
        store.record(url, check, text);
    }
}

void settle() {
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(20);
    }
}

}  // namespace

class ScreenshotsTest : public QObject {
    Q_OBJECT
  private slots:
    void mainWindowAndDialog() {
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            QSKIP("screenshots need a display with a notification area (run under Xvfb with a tray host)");
        }
        QVERIFY2(trayprobe::waitForNotificationArea(), "no notification area on this display");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath(QStringLiteral("webpages.dat")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(pageListFile());
        file.close();
        QVERIFY(QDir().mkpath(QStringLiteral(VANTREL_BINARY_DIR "/screenshots")));

        MonitorSettings settings;
        settings.exeDir = dir.path() + QLatin1Char('/');
        settings.exePath = dir.filePath(QStringLiteral("vantrel"));
        settings.autostartDir = dir.filePath(QStringLiteral("no-autostart"));
        settings.trayWaitMs = 0;
        TMonitorForm form(settings);
        TWebPageDlg dialog(&form);
        form.setDialog(&dialog);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        settle();
        QCOMPARE(form.ListView->model()->rowCount(), int(std::size(kEntries)));

        const QString mainShot = screenshotPath("main-window", form.devicePixelRatioF());
        QVERIFY(form.grab().save(mainShot));

        // Edit the changed entry: the dialog shows its fields and the ticked changed box.
        const QModelIndex changed = form.ListView->model()->index(1, 0);
        form.ListView->setFocus();
        form.ListView->selectionModel()->setCurrentIndex(changed, QItemSelectionModel::ClearAndSelect);
        const QString dialogShot = screenshotPath("web-page-dialog", form.devicePixelRatioF());
        bool saved = false;
        bool changedBoxShown = false;
        QString label;
        QTimer::singleShot(0, &dialog, [&] {
            if (QTest::qWaitForWindowExposed(&dialog)) settle();
            label = dialog.labelText();
            changedBoxShown = dialog.ChangeCheckBox->isVisible() && dialog.ChangeCheckBox->isChecked();
            saved = dialog.grab().save(dialogShot);
            dialog.reject();
        });
        form.ListViewDblClick();
        QVERIFY(saved);
        QCOMPARE(label, QStringLiteral("Town Council Agenda"));
        QVERIFY(changedBoxShown);

        for (const QString& shot : {mainShot, dialogShot}) {
            QVERIFY2(QFileInfo(shot).size() > 0, qPrintable(shot));
        }
        qInfo("screenshots: %s %s", qPrintable(mainShot), qPrintable(dialogShot));
    }

    void detailsAndChangesWindows() {
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            QSKIP("screenshots need a display with a notification area (run under Xvfb with a tray host)");
        }
        QVERIFY2(trayprobe::waitForNotificationArea(), "no notification area on this display");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath(QStringLiteral("webpages.dat")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(pageListFile());
        file.close();
        seedHistory(dir.filePath(QStringLiteral("history.db")));
        QVERIFY(QDir().mkpath(QStringLiteral(VANTREL_BINARY_DIR "/screenshots")));

        MonitorSettings settings;
        settings.exeDir = dir.path() + QLatin1Char('/');
        settings.exePath = dir.filePath(QStringLiteral("vantrel"));
        settings.autostartDir = dir.filePath(QStringLiteral("no-autostart"));
        settings.trayWaitMs = 0;
        TMonitorForm form(settings);
        form.Timer->stop();
        const vantrel::EntryId agenda = form.pageList().at(1).id;

        vantrel::DetailsWindow* details = form.Menu->showDetails(agenda);
        QVERIFY(details && QTest::qWaitForWindowExposed(details));
        settle();
        const QString detailsShot = screenshotPath("details-window", details->devicePixelRatioF());
        QVERIFY(details->grab().save(detailsShot));

        vantrel::ChangesWindow* changes = form.Menu->showChanges(agenda);
        QVERIFY(changes && QTest::qWaitForWindowExposed(changes));
        QTRY_VERIFY(changes->diffShown());
        settle();
        const QString changesShot = screenshotPath("changes-window", changes->devicePixelRatioF());
        QVERIFY(changes->grab().save(changesShot));
        qInfo("screenshots: %s %s", qPrintable(detailsShot), qPrintable(changesShot));
    }
};

QTEST_MAIN(ScreenshotsTest)
#include "Screenshots_qtest.moc"
