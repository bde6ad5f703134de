#include "ui/ListTransfer.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QWidget>

#include "store/FileIo.h"
#include "store/ListExport.h"
#include "text/Error.h"
#include "ui/ErrorDisplay.h"
#include "ui/ImportDialog.h"
#include "ui/Monitor.h"

namespace vantrel {

ListTransfer::ListTransfer(QWidget& window, Monitor& monitor)
    : QObject(&window), window_(window), monitor_(monitor) {
    import_ = new QAction(QStringLiteral("&Import Web Pages\u2026"), this);
    export_ = new QAction(QStringLiteral("E&xport Web Pages\u2026"), this);
    connect(import_, &QAction::triggered, this, &ListTransfer::importPages);
    connect(export_, &QAction::triggered, this, &ListTransfer::exportPages);
}

void ListTransfer::importPages() {
    ErrorDisplay::guarded(&window_, [this] {
        ImportDialog dialog(monitor_.list(), &window_);
        if (dialog.exec() != QDialog::Accepted) return;
        monitor_.addPages(dialog.pages(), dialog.intervalIndex());
    });
}

void ListTransfer::exportPages() {
    ErrorDisplay::guarded(&window_, [this] {
        QString filter;
        QString path = QFileDialog::getSaveFileName(
            &window_, QStringLiteral("Export Web Pages"), QStringLiteral("web-pages.opml"),
            QStringLiteral("OPML (*.opml);;CSV (*.csv);;Text (*.txt)"), &filter);
        if (path.isEmpty()) return;
        // The name tells the format: one chosen by its filter only gets the filter's suffix.
        if (QFileInfo(path).suffix().isEmpty())
            path += QLatin1Char('.') + filter.section(QStringLiteral("*."), 1).chopped(1);
        exportTo(path);
    });
}

void ListTransfer::exportTo(const QString& path) const {
    const std::string name = QFile::encodeName(path).toStdString();
    const std::string bytes = ExportList(ListFormatFor(name), ExportedPagesOf(monitor_.list()));
    ReplaceOptions options;
    options.keepUmaskMode = true;
    if (!ReplaceFileAtomically(name, bytes, options)) throw Error("Unable to write to " + path.toStdString());
}

}  // namespace vantrel
