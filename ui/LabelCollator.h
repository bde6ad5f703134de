#pragma once
// Orders page labels the way a user reads them: linguistic and case-sensitive ("alpha" before
// "Beta"), in the user's locale, or in English when the process runs in the C/POSIX locale, whose
// collation would be plain code-point order.
#include <QCollator>
#include <QLocale>
#include <string>

#include "core/PageList.h"

namespace vantrel {

class LabelCollator {
  public:
    // Collates for the process locale (QLocale()).
    LabelCollator();
    explicit LabelCollator(const QLocale& locale);

    // <0, 0 or >0 as `a` sorts before, equal to or after `b`.
    int compare(const std::u16string& a, const std::u16string& b) const;

    // A comparison for PageList that keeps its own copy of this collator.
    LabelCompare function() const;
    // A comparison for PageList that makes its collator at its first use: the collation tables
    // (over a megabyte) are loaded only once labels are actually compared, i.e. sorting is on.
    static LabelCompare lazyFunction(const QLocale& locale = QLocale());

    // The locale actually used for `locale`: English in place of C/POSIX.
    static QLocale effectiveLocale(const QLocale& locale);

  private:
    QCollator collator_;
};

}  // namespace vantrel
