#pragma once
// The Apps list's filter: a row stays when its name or identifier contains
// the typed text, compared the way the user's language compares letters
// (case and width ignored, accents kept: ICU collation at secondary strength),
// so "STRASSE" finds "Straße" and Turkish dotted and dotless i follow the
// Turkish rules. The text is used exactly as typed, spaces included.

#include <QSortFilterProxyModel>
#include <QString>

#include <memory>
#include <string>

namespace vessora {

class LocalizedMatcher {
public:
    // `locale` is an ICU locale id ("tr_TR"); empty means the user's default.
    explicit LocalizedMatcher(const QString& pattern = {}, const std::string& locale = {});
    ~LocalizedMatcher();
    LocalizedMatcher(const LocalizedMatcher&) = delete;
    LocalizedMatcher& operator=(const LocalizedMatcher&) = delete;

    const QString& pattern() const { return pattern_; }
    // True for every text when the pattern is empty.
    bool matches(const QString& text) const;

private:
    QString pattern_;
    struct Search; // the ICU collator and search, kept out of this header
    std::unique_ptr<Search> search_;
};

// Filters an AppListModel by LocalizedMatcher over the name (DisplayRole) and
// the identifier (AppListModel::IdentifierRole); the order is the source's.
class AppFilterProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit AppFilterProxy(QObject* parent = nullptr);
    void setSearch(const QString& text);
    const QString& search() const { return matcher_->pattern(); }
    // For tests: the locale the comparison follows (empty: the user's).
    void setLocale(const std::string& locale);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    std::string locale_;
    std::unique_ptr<LocalizedMatcher> matcher_;
};

} // namespace vessora
