#pragma once
// An item to remove, found where it really is and judged there by the guard:
// the step the user's removal and the administrator's share before either
// acts. Internal to the removal engine.

#include "platform/ItemHandle.h"
#include "removal/GuardRules.h"
#include "removal/Remover.h"

#include <string>

namespace vessora::Remover {

struct ResolvedItem {
    GuardResult verdict;
    ItemHandle item;     // open when the item's folder could be reached
    int unreachable = 0; // errno when the guard allowed an item whose folder this user cannot reach
};

// Resolves `url` (see physicalPath in the source) and judges it as given and
// where it really is. `pathsAreReal`: a link on the way fails the item.
// `bound`: the item carries the identity it was shown with, so a path that no
// longer leads to it the way it was measured means it changed since.
ResolvedItem resolve(const std::string& url, bool pathsAreReal, const GuardRules::Guard& guard, bool bound = false);

bool missing(int error);
bool permissionDenied(int error);
std::string withoutTrailingSeparator(std::string path);

} // namespace vessora::Remover
