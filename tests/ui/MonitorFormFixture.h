#pragma once
// The main window under a real tray host over a page list file in a fresh folder of its own, and
// the means to drive its questions and its dialog, for the tests of the window. The timer is
// stopped: no check changes an entry behind the test's back.
#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/Clock.h"
#include "core/PageList.h"
#include "support/TrayProbe.h"
#include "ui/ErrorDisplay.h"
#include "ui/MonitorUnit.h"
#include "ui/PageListModel.h"
#include "ui/WebPageUnit.h"

namespace vantrel::test {

inline QStringList gErrors;
inline void recordError(const QString& text) {
    gErrors << text;
}

// Acts on the next modal window once it is up (bounded to 5 s); stops when destroyed.
class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        started_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible()) {
                timer_.stop();
                ++seen;
                act_(modal);
            } else if (started_.elapsed() > 5000) {
                timer_.stop();
            }
        });
        timer_.start(20);
    }
    int seen = 0;

  private:
    std::function<void(QWidget*)> act_;
    QTimer timer_;
    QElapsedTimer started_;
};

struct Question {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Answers the next message box with `reply`, noting what it asked.
inline std::unique_ptr<ModalWatcher> answer(QMessageBox::StandardButton reply, Question* asked) {
    return std::make_unique<ModalWatcher>([=](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) return;
        *asked = {box->windowTitle(), box->text(), box->icon(), box->standardButton(box->defaultButton())};
        box->button(reply)->click();
    });
}

struct DialogSeen {
    QString label, url;
    int interval = -2;
    bool boxShown = false, boxTicked = false;
};

// Drives the next web page dialog: notes how it was prepared, lets `fill` change it, then OK.
inline std::unique_ptr<ModalWatcher> runDialog(DialogSeen* seen, std::function<void(TWebPageDlg*)> fill,
                                               bool ok = true) {
    return std::make_unique<ModalWatcher>([=](QWidget* modal) {
        auto* dialog = qobject_cast<TWebPageDlg*>(modal);
        if (!dialog) return;
        *seen = {dialog->labelText(), dialog->urlText(), dialog->intervalIndex(), dialog->changedBoxShown(),
                 dialog->changedBoxTicked()};
        if (fill) fill(dialog);
        (ok ? dialog->OKBitBtn : dialog->CancelBitBtn2)->click();
    });
}

// Fills the dialog with a label and a URL that pass its checks.
inline std::function<void(TWebPageDlg*)> named(const QString& label) {
    return [label](TWebPageDlg* dialog) {
        dialog->LabelLabeledEdit->setText(label);
        dialog->WebPageLabeledEdit->setText("http://127.0.0.1:1/" + label);
    };
}

// A user's double-click: the first click, then the second one that the system reports as double.
inline void doubleClick(QWidget* widget, QPoint at) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

inline QByteArray nowStamp() {
    return QByteArray::number(qlonglong(LastCheckStamp(SystemClock().now())));
}

struct Row {
    QByteArray label, status = "0", url = "http://127.0.0.1:1/", interval = "8", stamp = nowStamp(),
                      checksum = "CRC of a text above is: 00000001";
};

inline QByteArray pageFile(const QList<Row>& rows,
                           const QByteArray& options = "start=0\r\nsort=0\r\nrecheck=0\r\n") {
    QByteArray bytes = "[main]\r\ncount=" + QByteArray::number(rows.size()) + "\r\n" + options;
    for (int i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        bytes += "[web" + QByteArray::number(i + 1) + "]\r\ncaption=" + r.label + "\r\nstatus=" + r.status +
                 "\r\nitem1=" + r.url + "\r\nitem2=" + r.interval + "\r\nitem3=" + r.stamp +
                 "\r\nitem4=" + r.checksum + "\r\n";
    }
    return bytes;
}

// The value of `key` in `[section]` of an INI text, or a null string.
inline QString iniValue(const QByteArray& bytes, const QString& section, const QString& key) {
    QString current;
    for (const QString& line : QString::fromUtf8(bytes).split(QRegularExpression("\r?\n"))) {
        if (line.startsWith('['))
            current = line.mid(1, line.indexOf(']') - 1);
        else if (current == section && line.section('=', 0, 0) == key)
            return line.section('=', 1);
    }
    return {};
}

inline QStringList labels(const TMonitorForm& form) {
    QStringList result;
    for (const PageEntry& entry : form.pageList().entries()) result << QString::fromStdU16String(entry.label);
    return result;
}

class MonitorFormFixture {
  protected:
    std::unique_ptr<QTemporaryDir> exeDir_, autostartDir_;
    std::unique_ptr<TWebPageDlg> dialog_;
    std::unique_ptr<TMonitorForm> form_;

    QString filePath() const { return exeDir_->filePath("webpages.dat"); }
    // The file once the saves asked for so far are written.
    QByteArray fileBytes() const {
        if (form_) form_->monitor().waitForSaves();
        QFile file(filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString saved(const QString& section, const QString& key) const {
        return iniValue(fileBytes(), section, key);
    }
    // A window over a fresh directory holding `file` (none when null); the timer is stopped so
    // that no check changes an entry behind the test's back.
    TMonitorForm& open(const QByteArray& file = {}, const QStringList& args = {}) {
        form_.reset();
        exeDir_ = std::make_unique<QTemporaryDir>();
        autostartDir_ = std::make_unique<QTemporaryDir>();
        if (!file.isNull()) {
            QFile out(filePath());
            out.open(QIODevice::WriteOnly);
            out.write(file);
        }
        MonitorSettings settings;
        settings.args = args;
        settings.exeDir = exeDir_->path() + "/";
        settings.exePath = exeDir_->path() + "/vantrel";
        settings.autostartDir = autostartDir_->path();
        settings.trayWaitMs = trayprobe::kTrayWaitMs;
        settings.fetcher.readTimeoutMs = 500;
        form_ = std::make_unique<TMonitorForm>(settings);
        form_->Timer->stop();
        form_->setDialog(dialog_.get());
        return *form_;
    }
    void showForm() {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    QRect scaled(const QRect& r) const {
        const qreal s = form_->designScale();
        return QRect(qRound(r.x() * s), qRound(r.y() * s), qRound(r.width() * s), qRound(r.height() * s));
    }
    void select(int row) {
        form_->ListView->setCurrentIndex(form_->model()->index(row));
        QCOMPARE(form_->ListView->selectionModel()->selectedIndexes().size(), 1);
    }
    // The test case's start: errors are recorded, not shown, and the tray host is up.
    bool setUpWindows() {
        ErrorDisplay::setSink(recordError);
        // Labels must sort linguistically even in the C locale.
        QLocale::setDefault(QLocale::c());
        qApp->setQuitOnLastWindowClosed(false);
        dialog_ = std::make_unique<TWebPageDlg>();
        return trayprobe::waitForNotificationArea();
    }
};

}  // namespace vantrel::test
