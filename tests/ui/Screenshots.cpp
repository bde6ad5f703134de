// Screenshots of the main window with entries in every status and of the web page dialog open
// for an edit, written under the build tree's screenshots/ folder for anyone to look at.
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
#include "ui/MonitorUnit.h"
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
};

QTEST_MAIN(ScreenshotsTest)
#include "Screenshots_qtest.moc"
