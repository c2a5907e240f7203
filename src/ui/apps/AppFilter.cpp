#include "ui/apps/AppFilter.h"

#include "ui/apps/AppList.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stsearch.h>
#include <unicode/tblcoll.h>
#include <unicode/uchar.h>

namespace vessora {

namespace {
icu::UnicodeString toIcu(const QString& text) {
    return icu::UnicodeString(reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()));
}
} // namespace

struct LocalizedMatcher::Search {
    std::unique_ptr<icu::RuleBasedCollator> collator;
    std::unique_ptr<icu::StringSearch> search;
    // StringSearch::setText searches the buffer of the string it is given,
    // not its own copy, so the text must outlive the search through it.
    icu::UnicodeString text;
    uint32_t foldOptions = U_FOLD_CASE_DEFAULT;
};

LocalizedMatcher::LocalizedMatcher(const QString& pattern, const std::string& locale) : pattern_(pattern) {
    if (pattern_.isEmpty()) return;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale where = locale.empty() ? icu::Locale::getDefault() : icu::Locale(locale.c_str());
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(where, status));
    if (U_FAILURE(status) || !collator) return;
    auto* rules = dynamic_cast<icu::RuleBasedCollator*>(collator.get());
    if (!rules) return;
    collator.release();
    auto search = std::make_unique<Search>();
    // Collation keeps "ß" apart from "ss" even at secondary strength, so both
    // sides are case-folded in full first; Turkish and Azerbaijani fold their
    // dotted and dotless i by their own rules.
    const std::string language = where.getLanguage();
    if (language == "tr" || language == "az") search->foldOptions = U_FOLD_CASE_EXCLUDE_SPECIAL_I;
    search->collator.reset(rules);
    search->collator->setStrength(icu::Collator::SECONDARY);
    // The search needs some text to start from; each match sets its own.
    search->search =
        std::make_unique<icu::StringSearch>(toIcu(pattern_).foldCase(search->foldOptions), icu::UnicodeString(u" "),
                                            search->collator.get(), nullptr, status);
    if (U_SUCCESS(status)) search_ = std::move(search);
}

LocalizedMatcher::~LocalizedMatcher() = default;

bool LocalizedMatcher::matches(const QString& text) const {
    if (pattern_.isEmpty()) return true;
    if (text.isEmpty()) return false;
    if (!search_) return text.contains(pattern_, Qt::CaseInsensitive);
    UErrorCode status = U_ZERO_ERROR;
    search_->text = toIcu(text).foldCase(search_->foldOptions);
    search_->search->setText(search_->text, status);
    if (U_FAILURE(status)) return false;
    const int32_t at = search_->search->first(status);
    return U_SUCCESS(status) && at != USEARCH_DONE;
}

AppFilterProxy::AppFilterProxy(QObject* parent)
    : QSortFilterProxyModel(parent), matcher_(std::make_unique<LocalizedMatcher>()) {}

void AppFilterProxy::setSearch(const QString& text) {
    if (text == matcher_->pattern()) return;
    matcher_ = std::make_unique<LocalizedMatcher>(text, locale_);
    invalidateFilter();
}

void AppFilterProxy::setLocale(const std::string& locale) {
    locale_ = locale;
    matcher_ = std::make_unique<LocalizedMatcher>(matcher_->pattern(), locale_);
    invalidateFilter();
}

bool AppFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (matcher_->pattern().isEmpty()) return true;
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    return matcher_->matches(index.data(Qt::DisplayRole).toString()) ||
           matcher_->matches(index.data(AppListModel::IdentifierRole).toString());
}

} // namespace vessora
