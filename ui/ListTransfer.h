#pragma once
// The window's commands that bring lists of pages in and write the list out: "Import Web
// Pages…" (the import dialog, then one batch and one save) and "Export Web Pages…" (text, OPML or
// CSV, by the name chosen).
#include <QObject>

class QAction;
class QWidget;

namespace vantrel {

class Monitor;

class ListTransfer : public QObject {
    Q_OBJECT
  public:
    ListTransfer(QWidget& window, Monitor& monitor);

    QAction* importAction() const { return import_; }
    QAction* exportAction() const { return export_; }

    void importPages();
    void exportPages();
    // Writes the list to `path` in the format its name tells; throws Error("Unable to write to
    // <path>") when it cannot.
    void exportTo(const QString& path) const;

  private:
    QWidget& window_;
    Monitor& monitor_;
    QAction* import_ = nullptr;
    QAction* export_ = nullptr;
};

}  // namespace vantrel
