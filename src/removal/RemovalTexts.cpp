#include "removal/RemovalTexts.h"

#include "support/Fmt.h"

#include <cerrno>
#include <cstring>

namespace vessora {

std::string_view displayText(RemovalMode mode) {
    return mode == RemovalMode::trash ? "Move to Trash" : "Delete immediately";
}

namespace RemovalTexts {

std::string needsAdminLine(const RemovalResult& result) {
    const size_t count = result.needsAdmin.size();
    if (count == 0) return {};
    std::string line = Fmt::counted(int64_t(count), "item") + " " +
                       std::string(Fmt::agree(int64_t(count), "needs", "need")) + " administrator rights.";
    if (!result.partlyRemoved.empty())
        line += result.partlyRemoved.size() == count
                    ? (count == 1 ? " It was partly removed already." : " They were partly removed already.")
                    : " " + Fmt::count(int64_t(result.partlyRemoved.size())) + " of them " +
                          std::string(Fmt::agree(int64_t(result.partlyRemoved.size()), "was", "were")) +
                          " partly removed already.";
    if (result.trashRequested) line += " " + adminDeletesImmediately(count);
    return line;
}

std::string_view buttonText(RemovalMode mode) {
    return mode == RemovalMode::trash ? "Move to Trash" : "Delete Immediately";
}

std::string question(RemovalMode mode, const std::string& what) {
    return mode == RemovalMode::trash ? "Move " + what + " to the Trash?"
                                      : "Delete " + what + " immediately? This cannot be undone.";
}

std::string adminDeletesImmediately(size_t count) {
    return std::string("With administrator rights ") + (count == 1 ? "it is" : "they are") +
           " deleted immediately and cannot go to the Trash.";
}

std::string changed(const std::string& path) { return path + " changed since it was shown; scan again."; }

std::string changedAndTrashed(const std::string& path, const std::string& location) {
    return changed(path) + " What stood there instead was moved to the Trash: " + location;
}

std::string replacedByLink(const std::string& path) {
    return path + " was moved or replaced by a link while it was being removed; nothing was removed.";
}

std::string notRealPath(const std::string& path) { return path + " is not a real path."; }

std::string missing(const std::string& path) { return path + " does not exist."; }

std::string unreachable(const std::string& path, int error) {
    return path + " cannot be reached: " + std::strerror(error) + ".";
}

std::string notRemoved(const std::string& path, int error) {
    switch (error) {
    case EROFS: return path + " is on a read-only file system.";
    case ENOENT: return path + " no longer exists.";
    case EBUSY: return path + " is a mount point in use and cannot be removed.";
    default: return path + " could not be removed: " + std::strerror(error) + ".";
    }
}

std::string partlyRemoved(const std::string& path, const std::string& why) {
    return path + " was only partly removed: " + why;
}

std::string notRemovedWithAdmin(const std::string& path, bool partly) {
    return path + (partly ? " was only partly removed; it" : "") +
           " could not be removed even with administrator rights.";
}

std::string helperMissing() {
    return "The administrator helper " + std::string(Remover::privilegedHelperName) +
           " is missing beside this program, so nothing was removed.";
}

} // namespace RemovalTexts

} // namespace vessora
