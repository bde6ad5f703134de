#include "ui/LabelCollator.h"

#include <QStringView>
#include <memory>
#include <optional>

namespace vantrel {

namespace {
QStringView view(const std::u16string& text) {
    return QStringView(text.data(), qsizetype(text.size()));
}
}  // namespace

LabelCollator::LabelCollator() : LabelCollator(QLocale()) {}

LabelCollator::LabelCollator(const QLocale& locale) : collator_(effectiveLocale(locale)) {
    collator_.setCaseSensitivity(Qt::CaseSensitive);
    collator_.setNumericMode(false);
    collator_.setIgnorePunctuation(false);
}

QLocale LabelCollator::effectiveLocale(const QLocale& locale) {
    // The C locale collates by code point, which puts every capital before every small letter.
    if (locale.language() == QLocale::C) return QLocale(QLocale::English);
    return locale;
}

int LabelCollator::compare(const std::u16string& a, const std::u16string& b) const {
    return collator_.compare(view(a), view(b));
}

LabelCompare LabelCollator::function() const {
    auto shared = std::make_shared<LabelCollator>(*this);
    return [shared](const std::u16string& a, const std::u16string& b) { return shared->compare(a, b); };
}

LabelCompare LabelCollator::lazyFunction(const QLocale& locale) {
    auto collator = std::make_shared<std::optional<LabelCollator>>();
    return [collator, locale](const std::u16string& a, const std::u16string& b) {
        if (!*collator) collator->emplace(locale);
        return (*collator)->compare(a, b);
    };
}

}  // namespace vantrel
