#include "ui/ImportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/PageList.h"
#include "store/ListImport.h"
#include "store/StoreLimits.h"

namespace vantrel {

namespace {

QString toQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

QString count(size_t n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

}  // namespace

ImportDialog::ImportDialog(const PageList& list, QWidget* parent) : QDialog(parent), list_(list) {
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Import Web Pages"));
    auto* column = new QVBoxLayout(this);
    column->addWidget(
        new QLabel(QStringLiteral("Paste one URL per line (a label may follow after a tab), or open "
                                  "a list: text, OPML or a urlwatch jobs file."),
                   this));
    input_ = new QPlainTextEdit(this);
    input_->setObjectName(QStringLiteral("ImportInput"));
    input_->setLineWrapMode(QPlainTextEdit::NoWrap);
    column->addWidget(input_, 1);
    auto* open = new QPushButton(QStringLiteral("&Open File\u2026"), this);
    open->setObjectName(QStringLiteral("OpenFileButton"));
    column->addWidget(open, 0, Qt::AlignLeft);

    preview_ = new QTreeWidget(this);
    preview_->setObjectName(QStringLiteral("ImportPreview"));
    preview_->setRootIsDecorated(false);
    preview_->setUniformRowHeights(true);
    preview_->setHeaderLabels({QStringLiteral("Label"), QStringLiteral("URL")});
    preview_->setColumnWidth(0, 240);
    column->addWidget(preview_, 2);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("ImportSummary"));
    summary_->setWordWrap(true);
    column->addWidget(summary_);

    auto* form = new QFormLayout;
    interval_ = new QComboBox(this);
    interval_->setObjectName(QStringLiteral("ImportInterval"));
    for (const IntervalChoice& choice : kIntervals)
        interval_->addItem(toQString(std::u16string(choice.text)));
    interval_->setCurrentIndex(kDefaultIntervalIndex);
    form->addRow(QStringLiteral("&Interval for all:"), interval_);
    column->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    add_ = buttons->addButton(QStringLiteral("Add"), QDialogButtonBox::AcceptRole);
    add_->setObjectName(QStringLiteral("AddPagesButton"));
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(open, &QPushButton::clicked, this, &ImportDialog::openFile);
    connect(input_, &QPlainTextEdit::textChanged, this, [this] {
        // A hand edit of what a file brought in is text now, whatever the file's name said.
        if (!settingInput_) fileName_.clear();
        readInput();
    });
    resize(640, 520);
    readInput();
}

int ImportDialog::intervalIndex() const {
    return interval_->currentIndex();
}

void ImportDialog::setInput(const QByteArray& bytes, const QString& fileName) {
    settingInput_ = true;
    fileName_ = fileName;
    input_->setPlainText(QString::fromUtf8(bytes));
    settingInput_ = false;
    readInput();
}

void ImportDialog::openFile() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open a List of Web Pages"), QString(),
        QStringLiteral("Lists of pages (*.txt *.opml *.xml *.yaml *.yml);;All files (*)"));
    if (path.isEmpty()) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > limits::kMaxImportFileBytes) {
        summary_->setText(QStringLiteral("Cannot read ") + path);
        return;
    }
    setInput(file.readAll(), path);
}

void ImportDialog::readInput() {
    const QByteArray bytes = input_->toPlainText().toUtf8();
    const std::string name = QFile::encodeName(fileName_).toStdString();
    const std::string_view view(bytes.constData(), static_cast<size_t>(bytes.size()));
    const ImportResult read = ImportList(ListFormatFor(name, view), view);
    preview_->clear();
    fresh_.clear();
    if (!read.error.empty()) {
        summary_->setText(QString::fromUtf8(read.error.c_str()) + QStringLiteral(". Nothing will be added."));
        add_->setText(QStringLiteral("Add"));
        add_->setEnabled(false);
        return;
    }
    ImportSelection selection = SelectNewPages(list_, read.pages);
    fresh_ = std::move(selection.fresh);
    QList<QTreeWidgetItem*> items;
    for (const NewPage& page : fresh_)
        items.append(new QTreeWidgetItem({toQString(page.label), toQString(page.url)}));
    preview_->addTopLevelItems(items);
    QStringList parts{count(fresh_.size(), "page to add", "pages to add")};
    if (selection.duplicates > 0)
        parts << count(size_t(selection.duplicates), "already in the list (skipped)",
                       "already in the list (skipped)");
    if (read.skipped > 0)
        parts << count(size_t(read.skipped), "entry that is no web page", "entries that are no web pages");
    summary_->setText(parts.join(QStringLiteral("; ")) + QLatin1Char('.'));
    add_->setText(fresh_.empty() ? QStringLiteral("Add")
                                 : QStringLiteral("Add ") + count(fresh_.size(), "Page", "Pages"));
    add_->setEnabled(!fresh_.empty());
}

}  // namespace vantrel
