#pragma once
// A sidebar entry: overview, browse, cleanup, or a storage category by id.

#include <QMetaType>
#include <QString>

#include <optional>
#include <string>

namespace vessora {

struct Section {
    enum class Kind { overview, browse, cleanup, category };
    Kind kind = Kind::overview;
    std::string categoryId; // only for Kind::category

    static Section overview() { return {Kind::overview, {}}; }
    static Section browse() { return {Kind::browse, {}}; }
    static Section cleanup() { return {Kind::cleanup, {}}; }
    static Section category(std::string id) { return {Kind::category, std::move(id)}; }

    // "overview", "browse", "cleanup", "category." + id.
    std::string id() const;
    // "Overview" ...; a category's title, or its id when no category has it.
    QString title() const;
    // "chart.pie" ...; a category's symbol, or "folder" when none.
    QString symbol() const;
    // The inverse of id(); nothing for any other text.
    static std::optional<Section> fromId(const std::string& id);

    friend bool operator==(const Section&, const Section&) = default;
};

} // namespace vessora

Q_DECLARE_METATYPE(vessora::Section)
