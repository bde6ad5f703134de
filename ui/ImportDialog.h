#pragma once
// The dialog that adds many pages at once: pasted text or a file (text, OPML, urlwatch jobs),
// a preview of the pages it will add with one interval for all, and what it leaves out (pages
// already in the list, entries that are no web pages). Malformed input names its line and adds
// nothing.
#include <QDialog>
#include <vector>

#include "core/PageImport.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace vantrel {

class PageList;

class ImportDialog : public QDialog {
    Q_OBJECT
  public:
    ImportDialog(const PageList& list, QWidget* parent = nullptr);

    // Shows `bytes` as if read from the file `fileName` (its name tells the format).
    void setInput(const QByteArray& bytes, const QString& fileName = {});
    // The pages the dialog will add (not in the list yet), in input order.
    const std::vector<NewPage>& pages() const { return fresh_; }
    int intervalIndex() const;

    QPlainTextEdit* input() const { return input_; }
    QTreeWidget* preview() const { return preview_; }
    QLabel* summary() const { return summary_; }
    QPushButton* addButton() const { return add_; }

  private:
    void openFile();
    void readInput();

    const PageList& list_;
    QString fileName_;
    bool settingInput_ = false;
    std::vector<NewPage> fresh_;
    QPlainTextEdit* input_ = nullptr;
    QComboBox* interval_ = nullptr;
    QTreeWidget* preview_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* add_ = nullptr;
};

}  // namespace vantrel
