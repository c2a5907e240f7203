#pragma once
// A screen's chosen paths, shared by the lists that show ticks for them (the
// Cleanup cards, a category's entries, an app's leftover groups). Paths of
// items that disappear stay here; every derived value looks only at paths of
// items still listed. `changed` is emitted only when the set really changes.

#include <QObject>

#include <set>
#include <string>

namespace vessora {

class PathSelection : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    const std::set<std::string>& urls() const { return urls_; }
    bool contains(const std::string& url) const { return urls_.count(url) > 0; }
    bool empty() const { return urls_.empty(); }
    void set(const std::string& url, bool on);
    void assign(std::set<std::string> urls);
    void clear() { assign({}); }

    // Any list of items with a `url` (cleanup entries, leftovers).
    template <typename Items> void insert(const Items& items) {
        bool any = false;
        for (const auto& item : items) any |= urls_.insert(item.url).second;
        if (any) emit changed();
    }
    template <typename Items> void remove(const Items& items) {
        bool any = false;
        for (const auto& item : items) any |= urls_.erase(item.url) > 0;
        if (any) emit changed();
    }
    template <typename Items> bool containsAll(const Items& items) const {
        for (const auto& item : items)
            if (!contains(item.url)) return false;
        return true;
    }

signals:
    void changed();

private:
    std::set<std::string> urls_;
};

} // namespace vessora
