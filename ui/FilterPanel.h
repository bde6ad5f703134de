#pragma once
// The "Filters" part of a page's settings: which part of the page is watched (a CSS selector or an
// XPath expression), visible text only, lines to ignore and the failures before offline, with a
// preview of the text a check would judge. Saves to the history store, which keeps them per URL.
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "filter/PageFilter.h"
#include "net/PageFetcher.h"
#include "ui/MessageLabel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace vantrel {

class HistoryStore;
struct DownloadResult;

class FilterPanel : public QWidget {
    Q_OBJECT
  public:
    // Shows the settings the store keeps for `url`. `startAfresh` is called after a save that
    // changed what the check reads (not for the failure count alone): the pages with this URL are
    // to start afresh. `store` must outlive the panel.
    FilterPanel(HistoryStore& store, const QString& url, std::function<void()> startAfresh,
                FetcherOptions fetcher = {}, QWidget* parent = nullptr);
    // Cancels a preview still loading; its result is dropped.
    ~FilterPanel() override;

    // The settings as the fields hold them now.
    PageFilterSettings fieldSettings() const;
    void setFieldSettings(const PageFilterSettings& settings);

    // Refuses settings that do not parse, with the parser's message in the panel (returns false,
    // nothing saved); otherwise saves them and returns true.
    bool save();
    // Whether the fields hold settings other than the saved ones (never while saving is off).
    bool edited() const;
    // Fetches the page once on a thread of its own and shows the text a check would judge, with
    // its checksum. Does nothing while a preview loads; refuses settings that do not parse.
    void preview();
    bool previewing() const { return previewing_; }
    // Completes the page's request settings for a preview (its password, the program's
    // User-Agent), as for a check; without it the preview asks as the stored settings say.
    void setRequestCompletion(std::function<PageFilterSettings(PageFilterSettings)> complete) {
        completeRequest_ = std::move(complete);
    }

  signals:
    void saved();
    void previewShown();

  private:
    // Shows the result the preview's thread left in its job (posted by that thread, by name).
    Q_INVOKABLE void takePreview();

    struct PreviewJob;
    bool refuseInvalid(const PageFilterSettings& settings);
    void showMessage(const QString& text, bool error);
    void showPreview(const DownloadResult& result);
    std::function<PageFilterSettings(PageFilterSettings)> completeRequest_;

    HistoryStore& store_;
    const QString url_;
    std::function<void()> startAfresh_;
    FetcherOptions fetcher_;
    std::shared_ptr<PreviewJob> job_;
    bool previewing_ = false;

    QLineEdit* selector_;
    QComboBox* selectorKind_;
    QCheckBox* visibleOnly_;
    QPlainTextEdit* ignoreLines_;
    QSpinBox* failures_;
    MessageLabel* message_;
    QPushButton* previewButton_;
    QPushButton* saveButton_;
    QLabel* previewResult_;
    QPlainTextEdit* previewText_;
};

}  // namespace vantrel
