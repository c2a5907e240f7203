#include "ui/kit/PathSelection.h"

namespace vessora {

void PathSelection::set(const std::string& url, bool on) {
    const bool changedNow = on ? urls_.insert(url).second : urls_.erase(url) > 0;
    if (changedNow) emit changed();
}

void PathSelection::assign(std::set<std::string> urls) {
    if (urls == urls_) return;
    urls_ = std::move(urls);
    emit changed();
}

} // namespace vessora
