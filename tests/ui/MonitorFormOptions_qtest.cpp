// The main window's sorting and option boxes, saving after every user change, and the way to the
// notification area and back.
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
#include "MonitorFormFixture.h"

using namespace vantrel;
using namespace vantrel::test;

class MonitorFormOptionsTest : public QObject, MonitorFormFixture {
    Q_OBJECT
  private slots:
    void initTestCase() { QVERIFY2(setUpWindows(), "these tests need a tray host (trayer under Xvfb)"); }
    void init() { gErrors.clear(); }
    void cleanup() { form_.reset(); }
    void sortingIsLinguisticAndFollowsLabelChangesOnly();
    void optionBoxesRunTheirActionsAndSaveAtOnce();
    void loadingSetsTheBoxesWithoutRewritingTheFile();
    void failedSaveAfterAUserChangeIsShown();
    void trayClickBringsBackAMinimizedOrHiddenWindow();
    void exitClosesTheWindowAndTheListIsSaved();
};

void MonitorFormOptionsTest::sortingIsLinguisticAndFollowsLabelChangesOnly() {
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

void MonitorFormOptionsTest::optionBoxesRunTheirActionsAndSaveAtOnce() {
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

void MonitorFormOptionsTest::loadingSetsTheBoxesWithoutRewritingTheFile() {
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

void MonitorFormOptionsTest::failedSaveAfterAUserChangeIsShown() {
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

void MonitorFormOptionsTest::trayClickBringsBackAMinimizedOrHiddenWindow() {
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
void MonitorFormOptionsTest::exitClosesTheWindowAndTheListIsSaved() {
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
QTEST_MAIN(MonitorFormOptionsTest)
#include "MonitorFormOptions_qtest.moc"
