// The add/edit dialog: its checks and their messages, the typing limits, the keys, the browser
// button and what it remembers between runs.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <utility>

#include "ui/WebPageUnit.h"

using vantrel::DesignRect;
using vantrel::TWebPageDlg;

namespace {

QStringList gOpened;
void recordOpen(const QString& url) {
    gOpened.append(url);
}

// Answers every modal message box with OK and records what it showed. Polls for at most 30 s.
class BoxAnswerer : public QObject {
  public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    QList<Seen> seen;

    BoxAnswerer() {
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start(10);
    }

  private:
    void poll() {
        if (++polls_ > 3000) {
            timer_.stop();
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        seen.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    }
    QTimer timer_;
    int polls_ = 0;
};

struct RunOutcome {
    int result = -1;
    bool openAfterActions = false;
};

// Runs the dialog modally and performs `actions` inside its event loop, once the dialog is
// active. A dialog the actions left open is cancelled afterwards, and that is reported.
RunOutcome runWith(TWebPageDlg& dlg, const std::function<void()>& actions) {
    RunOutcome outcome;
    QTimer::singleShot(0, &dlg, [&] {
        if (!QTest::qWaitForWindowActive(&dlg)) qWarning("the dialog did not become active");
        actions();
        if (dlg.isVisible()) {
            outcome.openAfterActions = true;
            dlg.reject();
        }
    });
    outcome.result = dlg.run();
    return outcome;
}

// Sends a key the way the window system does: to the window that has the keyboard (an open
// list's popup, or the dialog), which passes it to its focused control.
void pressKey(TWebPageDlg& dlg, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWindow* target = QGuiApplication::focusWindow();
    QTest::keyClick(target ? target : dlg.windowHandle(), key, modifiers);
}

// Drops the interval list down and waits until its popup has the keyboard.
bool openList(TWebPageDlg& dlg) {
    dlg.IntervalComboBox->setFocus();
    dlg.IntervalComboBox->showPopup();
    QWidget* popup = QApplication::activePopupWidget();
    return popup &&
           QTest::qWaitFor([popup] { return QGuiApplication::focusWindow() == popup->windowHandle(); }, 5000);
}

// Waits until the list has closed and the window system has given the keyboard back to the
// dialog: a key sent before then goes to the closing list.
bool listClosed(TWebPageDlg& dlg) {
    return QTest::qWaitFor(
        [&dlg] {
            return QApplication::activePopupWidget() == nullptr &&
                   QGuiApplication::focusWindow() == dlg.windowHandle();
        },
        5000);
}

}  // namespace

class WebPageDlgTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        gOpened.clear();
        TWebPageDlg::setOpener(&recordOpen);
    }

    void createdWithItsControlsTextsAndFrame() {
        TWebPageDlg dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Web Page"));
        const double scale = std::max(1, dlg.logicalDpiY()) / 96.0;
        auto px = [scale](int v) { return static_cast<int>(std::lround(v * scale)); };
        QCOMPARE(dlg.size(),
                 QSize(px(TWebPageDlg::kDesignSize.width()), px(TWebPageDlg::kDesignSize.height())));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        const Qt::WindowFlags flags = dlg.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(dlg.font().pointSize(), 8);
        QCOMPARE(dlg.palette().color(QPalette::Window), QColor(Qt::white));

        QCOMPARE(dlg.findChild<QLineEdit*>("LabelLabeledEdit"), dlg.LabelLabeledEdit);
        // In place before the first show. Texts may take room up to their neighbour.
        for (const DesignRect& c : TWebPageDlg::kDesign) {
            QWidget* control = dlg.findChild<QWidget*>(c.name);
            QVERIFY2(control, c.name);
            const QRect expected(px(c.rect.x()), px(c.rect.y()), px(c.rect.width()), px(c.rect.height()));
            QCOMPARE(control->pos(), expected.topLeft());
            QCOMPARE(control->height(), expected.height());
            QVERIFY2(control->width() >= expected.width() &&
                         control->width() <= px(std::max(c.room, c.rect.width())),
                     c.name);
            QVERIFY2(control->width() >= control->sizeHint().width() || !c.room, c.name);
        }
        auto* labelCaption = dlg.findChild<QLabel*>("LabelLabeledEditCaption");
        QCOMPARE(labelCaption->text(), QStringLiteral("Label:"));
        QCOMPARE(labelCaption->geometry().bottom() + 1 + px(3), dlg.LabelLabeledEdit->y());
        QCOMPARE(dlg.findChild<QLabel*>("WebPageLabeledEditCaption")->text(), QStringLiteral("Web Page:"));
        QCOMPARE(dlg.IntervalLabel->text(), QStringLiteral("Interval:"));

        QCOMPARE(dlg.urlText(), QStringLiteral("http://"));
        QCOMPARE(dlg.labelText(), QString());
        QCOMPARE(dlg.OKBitBtn->text(), QStringLiteral("OK"));
        QVERIFY(dlg.OKBitBtn->isDefault());
        QVERIFY(!dlg.OKBitBtn->icon().isNull());
        QCOMPARE(dlg.CancelBitBtn2->text(), QStringLiteral("Cancel"));
        QVERIFY(!dlg.CancelBitBtn2->icon().isNull());
        QCOMPARE(dlg.OpenSpeedButton->focusPolicy(), Qt::NoFocus);
        QCOMPARE(dlg.OpenSpeedButton->toolTip(), QString());
        QVERIFY(!dlg.OpenSpeedButton->icon().isNull());
        QCOMPARE(dlg.ChangeCheckBox->text(), QStringLiteral("Web Page is Changed"));
        QVERIFY(!dlg.changedBoxShown());

        QVERIFY(!dlg.IntervalComboBox->isEditable());
        QStringList items;
        for (int i = 0; i < dlg.IntervalComboBox->count(); ++i) items << dlg.IntervalComboBox->itemText(i);
        QCOMPARE(items, QStringList({"1 minute", "5 minutes", "10 minutes", "30 minutes", "1 hour", "3 hour",
                                     "6 hours", "12 hours", "1 day"}));
        QCOMPARE(dlg.intervalIndex(), 2);

        // Tab order: label, URL, interval, changed box, OK, Cancel.
        dlg.setChangedBox(true, false);
        QList<QWidget*> order;
        QWidget* w = dlg.LabelLabeledEdit;
        for (int i = 0; i < 20 && (order.isEmpty() || w != order.first()); ++i, w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus) order << w;
        }
        QCOMPARE(order, QList<QWidget*>({dlg.LabelLabeledEdit, dlg.WebPageLabeledEdit, dlg.IntervalComboBox,
                                         dlg.ChangeCheckBox, dlg.OKBitBtn, dlg.CancelBitBtn2}));
    }

    void okRejectsMissingInputWithItsMessageAndFocus() {
        BoxAnswerer boxes;
        TWebPageDlg dlg;

        // Blanks only: rejected as empty, the field left empty, the focus back in it.
        dlg.setLabelText(QStringLiteral(" \t  "));
        dlg.setUrlText(QStringLiteral("http://example.org/"));
        RunOutcome run = runWith(dlg, [&] {
            dlg.OKBitBtn->click();
            QCOMPARE(dlg.focusWidget(), dlg.LabelLabeledEdit);
        });
        QVERIFY(run.openAfterActions);
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("INFORMATION"));
        QCOMPARE(boxes.seen[0].text, QStringLiteral("Please input the Label."));
        QCOMPARE(boxes.seen[0].icon, QMessageBox::Information);
        QCOMPARE(boxes.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(dlg.labelText(), QString());

        // Trimming is written back also when the check then fails; "http://" with blanks is
        // trimmed to the bare prefix and rejected.
        boxes.seen.clear();
        dlg.setLabelText(QStringLiteral("  News\r\n"));
        dlg.setUrlText(QStringLiteral("\thttp://  "));
        run = runWith(dlg, [&] {
            dlg.OKBitBtn->click();
            QCOMPARE(dlg.focusWidget(), dlg.WebPageLabeledEdit);
        });
        QVERIFY(run.openAfterActions);
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("INFORMATION"));
        QCOMPARE(boxes.seen[0].text, QStringLiteral("Please input the Web Page."));
        QCOMPARE(dlg.labelText(), QStringLiteral("News"));
        QCOMPARE(dlg.urlText(), QStringLiteral("http://"));

        // Both wrong: only the label's message; once the label is fixed, the URL's.
        boxes.seen.clear();
        dlg.setLabelText(QString());
        dlg.setUrlText(QString());
        dlg.OKBtnClick();
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].text, QStringLiteral("Please input the Label."));
        dlg.setLabelText(QStringLiteral("News"));
        dlg.OKBtnClick();
        QCOMPARE(boxes.seen.size(), 2);
        QCOMPARE(boxes.seen[1].text, QStringLiteral("Please input the Web Page."));
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    // A whole URL pasted behind the starting "http://" loses that start; nothing else changes.
    void okAcceptsAnyOtherUrlAndTrimsOnlyControlsAndBlanks() {
        BoxAnswerer boxes;
        TWebPageDlg dlg;
        const QString nbsp(QChar(0x00A0));
        const std::pair<const char*, const char*> kUrls[] = {
            {"HTTP://", "HTTP://"},
            {"intranet", "intranet"},
            {"http://x", "http://x"},
            {"http://https://example.org/", "https://example.org/"},
            {"http://http://x", "http://x"},
            {"http://svn+ssh://host/a", "svn+ssh://host/a"},
            {"HTTP://http://x", "HTTP://http://x"},
            {"http://x.org/?u=http://y", "http://x.org/?u=http://y"},
            {"http://1a://x", "http://1a://x"},
        };
        for (const auto& [typed, kept] : kUrls) {
            dlg.setLabelText(nbsp + QStringLiteral(" Page "));
            dlg.setUrlText(QStringLiteral(" ") + QLatin1String(typed) + QStringLiteral("\x1f"));
            RunOutcome run = runWith(dlg, [&] { dlg.OKBitBtn->click(); });
            QCOMPARE(run.result, int(QDialog::Accepted));
            QVERIFY(!run.openAfterActions);
            QCOMPARE(dlg.urlText(), QLatin1String(kept));
            // A no-break space is not a blank.
            QCOMPARE(dlg.labelText(), nbsp + QStringLiteral(" Page"));
        }
        QCOMPARE(boxes.seen.size(), 0);
    }

    void typingStopsAtTheLimitsButCodeMaySetLongerText() {
        BoxAnswerer boxes;
        TWebPageDlg dlg;
        QTest::keyClicks(dlg.LabelLabeledEdit, QString(45, QLatin1Char('a')));
        QCOMPARE(dlg.labelText(), QString(TWebPageDlg::kLabelMaxTyped, QLatin1Char('a')));
        dlg.WebPageLabeledEdit->end(false);
        QTest::keyClicks(dlg.WebPageLabeledEdit, QString(210, QLatin1Char('b')));
        QCOMPARE(dlg.urlText().size(), TWebPageDlg::kUrlMaxTyped);
        QVERIFY(dlg.urlText().startsWith(QStringLiteral("http://bbb")));

        // A stored label longer than the limit is shown whole; typing cannot lengthen it, and
        // once shortened below the limit typing goes up to the limit again.
        const QString stored = QString(50, QLatin1Char('L'));
        dlg.setLabelText(stored);
        QCOMPARE(dlg.labelText(), stored);
        dlg.LabelLabeledEdit->end(false);
        QTest::keyClicks(dlg.LabelLabeledEdit, QStringLiteral("xyz"));
        QCOMPARE(dlg.labelText(), stored);
        for (int i = 0; i < 15; ++i) QTest::keyClick(dlg.LabelLabeledEdit, Qt::Key_Backspace);
        QTest::keyClicks(dlg.LabelLabeledEdit, QString(10, QLatin1Char('y')));
        QCOMPARE(dlg.labelText(), QString(35, QLatin1Char('L')) + QString(5, QLatin1Char('y')));

        const QString storedUrl = QStringLiteral("http://example.org/") + QString(250, QLatin1Char('p'));
        dlg.setLabelText(stored);
        dlg.setUrlText(storedUrl);
        RunOutcome run = runWith(dlg, [&] { dlg.OKBitBtn->click(); });
        QCOMPARE(run.result, int(QDialog::Accepted));
        QCOMPARE(dlg.labelText(), stored);
        QCOMPARE(dlg.urlText(), storedUrl);
        QCOMPARE(boxes.seen.size(), 0);
    }

    void enterRunsTheChecksExceptOnCancelOrAnOpenList() {
        BoxAnswerer boxes;
        TWebPageDlg dlg;
        dlg.setLabelText(QString());
        RunOutcome run = runWith(dlg, [&] {
            dlg.LabelLabeledEdit->setFocus();
            pressKey(dlg, Qt::Key_Return);
        });
        QVERIFY(run.openAfterActions);
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].text, QStringLiteral("Please input the Label."));

        // The dropped-down list takes Enter as its choice; the dialog stays open, no message.
        boxes.seen.clear();
        dlg.setLabelText(QStringLiteral("Label"));
        dlg.setUrlText(QStringLiteral("example.org"));
        run = runWith(dlg, [&] {
            QVERIFY(openList(dlg));
            pressKey(dlg, Qt::Key_Down);
            pressKey(dlg, Qt::Key_Return);
            QVERIFY(listClosed(dlg));
            QVERIFY(dlg.isVisible());
            QCOMPARE(dlg.intervalIndex(), 3);
            // Closed again, Enter on the list runs OK.
            pressKey(dlg, Qt::Key_Return);
        });
        QCOMPARE(run.result, int(QDialog::Accepted));
        QVERIFY(!run.openAfterActions);
        QCOMPARE(boxes.seen.size(), 0);

        // Enter on Cancel cancels, without any check.
        dlg.setLabelText(QString());
        run = runWith(dlg, [&] {
            dlg.CancelBitBtn2->setFocus();
            pressKey(dlg, Qt::Key_Return);
        });
        QCOMPARE(run.result, int(QDialog::Rejected));
        QVERIFY(!run.openAfterActions);
        QCOMPARE(boxes.seen.size(), 0);

        // Once the focus has left Cancel, Enter runs OK's checks again (on the changed box too).
        dlg.setChangedBox(true, true);
        run = runWith(dlg, [&] {
            dlg.CancelBitBtn2->setFocus();
            dlg.ChangeCheckBox->setFocus();
            pressKey(dlg, Qt::Key_Enter);
        });
        QVERIFY(run.openAfterActions);
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].text, QStringLiteral("Please input the Label."));
        QVERIFY(dlg.changedBoxTicked());
    }

    void escapeCancelsButFirstClosesAnOpenList() {
        BoxAnswerer boxes;
        TWebPageDlg dlg;
        bool stayedOpen = false;
        RunOutcome run = runWith(dlg, [&] {
            QVERIFY(openList(dlg));
            pressKey(dlg, Qt::Key_Escape);
            QVERIFY(listClosed(dlg));
            stayedOpen = dlg.isVisible();
            pressKey(dlg, Qt::Key_Escape);
        });
        QVERIFY(stayedOpen);
        QCOMPARE(run.result, int(QDialog::Rejected));
        QVERIFY(!run.openAfterActions);

        // Shift+Escape is not the cancel key.
        run = runWith(dlg, [&] { pressKey(dlg, Qt::Key_Escape, Qt::ShiftModifier); });
        QVERIFY(run.openAfterActions);

        // The title bar's close button cancels too, keeping what was typed.
        dlg.setLabelText(QStringLiteral("typed"));
        run = runWith(dlg, [&] { dlg.close(); });
        QCOMPARE(run.result, int(QDialog::Rejected));
        QCOMPARE(dlg.labelText(), QStringLiteral("typed"));
        QCOMPARE(boxes.seen.size(), 0);
    }

    void changedBoxAndIntervalChoice() {
        TWebPageDlg dlg;
        dlg.setChangedBox(true, true);
        QVERIFY(dlg.changedBoxShown());
        QVERIFY(dlg.changedBoxTicked());
        bool visibleInRun = false;
        runWith(dlg, [&] {
            visibleInRun = dlg.ChangeCheckBox->isVisible() && dlg.ChangeCheckBox->isChecked();
            QTest::mouseClick(dlg.ChangeCheckBox, Qt::LeftButton);
        });
        QVERIFY(visibleInRun);
        QVERIFY(!dlg.changedBoxTicked());
        dlg.setChangedBox(false, false);
        QVERIFY(!dlg.changedBoxShown());
        runWith(dlg, [&] { visibleInRun = dlg.ChangeCheckBox->isVisible(); });
        QVERIFY(!visibleInRun);

        dlg.setIntervalIndex(8);
        QCOMPARE(dlg.intervalIndex(), 8);
        QCOMPARE(dlg.IntervalComboBox->currentText(), QStringLiteral("1 day"));
        for (int outside : {12, 9, -1, -5}) {
            dlg.setIntervalIndex(outside);
            QCOMPARE(dlg.intervalIndex(), -1);
            QCOMPARE(dlg.IntervalComboBox->currentText(), QString());
        }
        // No interval chosen is accepted as it is.
        dlg.setLabelText(QStringLiteral("a"));
        dlg.setUrlText(QStringLiteral("b"));
        dlg.OKBtnClick();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.intervalIndex(), -1);
    }

    void browserButtonHandsOverTheUntrimmedText() {
        TWebPageDlg dlg;
        for (const QString& nothing : {QString(), QStringLiteral("http://")}) {
            dlg.setUrlText(nothing);
            QTest::mouseClick(dlg.OpenSpeedButton, Qt::LeftButton);
        }
        QCOMPARE(gOpened, QStringList());
        const QStringList handed = {QStringLiteral(" http://example.org/a b?q=%7e#x "),
                                    QStringLiteral("http:// "), QStringLiteral("HTTP://"),
                                    QStringLiteral("file name")};
        for (const QString& text : handed) {
            dlg.setUrlText(text);
            QTest::mouseClick(dlg.OpenSpeedButton, Qt::LeftButton);
        }
        QCOMPARE(gOpened, handed);
        QCOMPARE(dlg.urlText(), QStringLiteral("file name"));
        QVERIFY(!dlg.isVisible());
    }

    void firstRunCentredLaterRunsWhereLeftWithTheFocusAsLeft() {
        TWebPageDlg dlg;
        QPoint firstPos;
        QWidget* firstFocus = nullptr;
        runWith(dlg, [&] {
            firstPos = dlg.pos();
            firstFocus = dlg.focusWidget();
            dlg.move(40, 50);
            dlg.IntervalComboBox->setFocus();
        });
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(firstPos, area.center() - QPoint(dlg.width() / 2, dlg.height() / 2));
        QCOMPARE(firstFocus, dlg.LabelLabeledEdit);

        QPoint secondPos;
        QWidget* secondFocus = nullptr;
        runWith(dlg, [&] {
            secondPos = dlg.pos();
            secondFocus = dlg.focusWidget();
        });
        QCOMPARE(secondPos, QPoint(40, 50));
        QCOMPARE(secondFocus, dlg.IntervalComboBox);
    }

    void aPlaceNoScreenShowsAnyMoreIsNotUsed() {
        TWebPageDlg dlg;
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint centred = area.center() - QPoint(dlg.width() / 2, dlg.height() / 2);
        QCOMPARE(QGuiApplication::screens().size(), 1);
        auto placeOfNextRun = [&dlg](QPoint leftAt) {
            runWith(dlg, [&] { dlg.move(leftAt); });
            QPoint shownAt;
            runWith(dlg, [&] { shownAt = dlg.pos(); });
            return shownAt;
        };
        const int limit = TWebPageDlg::kMinReachable;
        // Just enough of the top strip left on the screen, at the right and at the bottom.
        const QPoint rightEdge(area.right() + 1 - limit, area.top() + 10);
        QCOMPARE(placeOfNextRun(rightEdge), rightEdge);
        const QPoint bottomEdge(area.left() + 10, area.bottom() + 1 - limit / 2);
        QCOMPARE(placeOfNextRun(bottomEdge), bottomEdge);
        // One pixel less, or far away: centred again.
        QCOMPARE(placeOfNextRun(rightEdge + QPoint(1, 0)), centred);
        QCOMPARE(placeOfNextRun(bottomEdge + QPoint(0, 1)), centred);
        QCOMPARE(placeOfNextRun(QPoint(-5000, -5000)), centred);
    }
};

QTEST_MAIN(WebPageDlgTest)
#include "WebPageDlg_qtest.moc"
