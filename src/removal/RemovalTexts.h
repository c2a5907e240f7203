#pragma once
// The words of removal: the two modes, and each line a removal's result says
// about its items, written once here for the window, the tool and the
// privileged helper alike. What the guard refuses is worded by GuardRules.

#include "removal/Remover.h"

#include <string>
#include <string_view>

namespace vessora {

// "Move to Trash" or "Delete immediately": the mode as one choice among others.
std::string_view displayText(RemovalMode mode);

namespace RemovalTexts {

// "Move to Trash" or "Delete Immediately": the mode as a button.
std::string_view buttonText(RemovalMode mode);

// The tool's question before removing `what` (such as "2 items (1 MB)"):
// "Move 2 items (1 MB) to the Trash?" or "Delete 2 items (1 MB) immediately?
// This cannot be undone."
std::string question(RemovalMode mode, const std::string& what);

// What administrator rights mean for `count` items the user meant for the
// Trash: "With administrator rights it is deleted immediately and cannot go
// to the Trash." (or "they are").
std::string adminDeletesImmediately(size_t count);

// The administrator line of the result alert: "N items need administrator
// rights." and, when some were partly removed or the user chose the Trash, so.
std::string needsAdminLine(const RemovalResult& result);

// The item is no longer the object the user was shown.
std::string changed(const std::string& path);
// Changed, and what stood there instead went to the Trash, at `location`, and stays there.
std::string changedAndTrashed(const std::string& path, const std::string& location);
// A folder on the way to it was replaced by a link while it was being removed.
std::string replacedByLink(const std::string& path);
std::string notRealPath(const std::string& path);
std::string missing(const std::string& path);
// `error` is an errno value.
std::string unreachable(const std::string& path, int error);
// Why removing failed with `error`, an errno value.
std::string notRemoved(const std::string& path, int error);
std::string partlyRemoved(const std::string& path, const std::string& why);
// Even the privileged helper could not remove it.
std::string notRemovedWithAdmin(const std::string& path, bool partly);
std::string helperMissing();
inline constexpr std::string_view authorizationFailed = "Authorization failed.";
inline constexpr std::string_view stillPresent = "Still present after removal.";
// The note of a removal whose record could not be written.
inline constexpr std::string_view putBackUnavailable = "Put Back will not be available for this removal.";

} // namespace RemovalTexts

} // namespace vessora
