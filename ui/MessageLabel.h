#pragma once
// The message line of a settings section: what was refused and why, or what was done ("Saved.").
// An error is drawn in the designed warning red, lightened on a dark theme as far as reading it
// on the window's ground needs, and again when the theme changes while it shows.
#include <QLabel>

namespace vantrel {

class MessageLabel : public QLabel {
    Q_OBJECT
  public:
    explicit MessageLabel(QWidget* parent = nullptr);

    // Shows `text`, as an error or as plain information; an empty text clears the line.
    void setMessage(const QString& text, bool error);
    bool isError() const { return error_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void recolour();

    bool error_ = false;
    bool recolouring_ = false;
};

}  // namespace vantrel
