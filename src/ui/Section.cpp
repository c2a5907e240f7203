#include "ui/Section.h"

#include "catalog/StorageCategories.h"
#include "ui/kit/Text.h"

namespace vessora {

namespace {
std::optional<StorageCategory> definition(const std::string& id) {
    for (auto& category : StorageCategories::all())
        if (category.id == id) return category;
    return std::nullopt;
}
} // namespace

std::string Section::id() const {
    switch (kind) {
    case Kind::overview: return "overview";
    case Kind::browse: return "browse";
    case Kind::cleanup: return "cleanup";
    case Kind::category: return "category." + categoryId;
    }
    return {};
}

QString Section::title() const {
    switch (kind) {
    case Kind::overview: return QStringLiteral("Overview");
    case Kind::browse: return QStringLiteral("Browse");
    case Kind::cleanup: return QStringLiteral("Cleanup");
    case Kind::category:
        if (auto found = definition(categoryId)) return Text::fromUtf8(found->title);
        return Text::fromUtf8(categoryId);
    }
    return {};
}

QString Section::symbol() const {
    switch (kind) {
    case Kind::overview: return QStringLiteral("chart.pie");
    case Kind::browse: return QStringLiteral("list.bullet.indent");
    case Kind::cleanup: return QStringLiteral("sparkles");
    case Kind::category:
        if (auto found = definition(categoryId)) return Text::fromUtf8(found->symbol);
        return QStringLiteral("folder");
    }
    return {};
}

std::optional<Section> Section::fromId(const std::string& id) {
    if (id == "overview") return overview();
    if (id == "browse") return browse();
    if (id == "cleanup") return cleanup();
    if (id.rfind("category.", 0) == 0 && id.size() > 9) return category(id.substr(9));
    return std::nullopt;
}

} // namespace vessora
