#pragma once
// A main window over a page list file of given labels, in a fresh folder of its own, for the tests
// of the page commands and of the page windows. The timer is stopped: no check runs behind the
// test's back.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QListView>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "core/Clock.h"
#include "store/HistoryStore.h"
#include "support/TrayProbe.h"
#include "ui/MonitorUnit.h"
#include "ui/PageListModel.h"
#include "ui/WebPageUnit.h"

namespace vantrel::test {

// A page list file with one page per label, each checked just now and online.
inline QByteArray pageFile(const QList<QByteArray>& labels) {
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

class PageFormFixture {
  protected:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TWebPageDlg> dialog_;
    std::unique_ptr<TMonitorForm> form_;

    QString historyPath() const { return dir_->filePath("history.db"); }
    // A window over a fresh folder with pages of these labels; `seed` writes to the history
    // before the window opens it.
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
    // The next start in the same folder.
    TMonitorForm& reopen() {
        form_.reset();
        MonitorSettings settings;
        settings.exeDir = dir_->path() + "/";
        settings.autostartDir = dir_->filePath("autostart");
        settings.trayWaitMs = trayprobe::kTrayWaitMs;
        form_ = std::make_unique<TMonitorForm>(settings);
        form_->Timer->stop();
        form_->setDialog(dialog_.get());
        return *form_;
    }
    void select(int row) { form_->ListView->setCurrentIndex(form_->model()->index(row)); }
    EntryId idAt(int row) const { return form_->pageList().at(size_t(row)).id; }
};

}  // namespace vantrel::test
