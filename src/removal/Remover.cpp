// The user's removal: each item resolved, judged by the guard and acted on
// through its descriptor, to the Trash or deleted at once.

#include "removal/Remover.h"

#include "platform/ItemHandle.h"
#include "platform/SafeDelete.h"
#include "platform/Trash.h"
#include "removal/GuardRules.h"
#include "removal/RemovalTexts.h"
#include "removal/ResolvedItem.h"
#include "scan/DiskScanner.h"
#include "support/Paths.h"

#include <algorithm>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace vessora::Remover {

GuardResult check(const std::string& url) { return resolve(url, false, GuardRules::Guard()).verdict; }

GuardResult checkDestination(const std::string& path) {
    const std::string p = Paths::standardize(path);
    GuardResult verdict = GuardResult::allow();
    if (auto why = GuardRules::Guard().refusal(p, p)) verdict = GuardResult::refuse(*why);
    verdict.path = p;
    return verdict;
}

RemovalResult remove(const std::vector<std::string>& urls, RemovalMode mode, const RemovalOptions& options) {
    std::vector<RemovalItem> items;
    items.reserve(urls.size());
    for (const std::string& url : urls) items.push_back({url, {}});
    return removeItems(items, mode, options);
}

namespace {

// Moves the entry to the Trash only while it is `expected`: checked before
// the move and, since the name may be swapped in between, on what arrived in
// the Trash, which goes back when it is something else.
Trash::Outcome trashExpected(const ItemHandle& item, const ItemIdentity& expected, const std::string& p,
                             bool& changed) {
    Trash::Outcome outcome;
    changed = false;
    int error = 0;
    const ItemIdentity now = identityAt(item.folder(), item.name(), &error);
    if (now.known() && now != expected) {
        changed = true;
        return outcome;
    }
    outcome = Trash::moveToTrash(item.folder(), item.name(), item.folderPath());
    if (!outcome.ok() || !expected.known()) return outcome;
    // The trash records the entry's identity as it reached it, through the trash folder's descriptor.
    const ItemIdentity arrived = outcome.entry.inode != 0 ? ItemIdentity(outcome.entry.device, outcome.entry.inode)
                                                          : identityAt(AT_FDCWD, outcome.location);
    if (!arrived.known() || arrived == expected) return outcome;
    changed = true;
    if (::renameat2(AT_FDCWD, outcome.location.c_str(), item.folder(), item.name().c_str(), RENAME_NOREPLACE) == 0) {
        ::unlink(outcome.infoPath.c_str());
        return {};
    }
    outcome.reason = RemovalTexts::changedAndTrashed(p, outcome.location);
    return outcome;
}

} // namespace

RemovalResult removeItems(const std::vector<RemovalItem>& items, RemovalMode mode, const RemovalOptions& options) {
    RemovalResult result;
    result.trashRequested = mode == RemovalMode::trash;
    const GuardRules::Guard guard;
    for (const RemovalItem& given : items) {
        const std::string& url = given.url;
        const bool bound = given.identity.known();
        ResolvedItem r = bound ? resolve(withoutTrailingSeparator(url), true, guard, true)
                               : resolve(url, options.pathsAreReal, guard);
        const std::string& p = r.verdict.path;
        if (!r.verdict.allowed) {
            result.failed.push_back({url, r.verdict.reason});
            continue;
        }
        if (!r.item.ok()) {
            // The folder is closed to this user: only the administrator can go further.
            result.needsAdmin.push_back(url);
            continue;
        }
        if (bound && r.verdict.identity.known() && r.verdict.identity != given.identity) {
            result.failed.push_back({url, RemovalTexts::changed(p)});
            continue;
        }
        // What is acted on from here: the object shown, else the one found now.
        const ItemIdentity expected = bound ? given.identity : r.verdict.identity;
        const std::string real = r.item.path();
        if (auto refusal = guard.actingRefusal(real, p, mode == RemovalMode::trash)) {
            result.failed.push_back({url, *refusal});
            continue;
        }
        if (options.afterResolving) options.afterResolving(url);

        int error = 0;
        std::string reason;
        bool changed = false;
        SafeDelete::Outcome deleted;
        if (mode == RemovalMode::trash) {
            Trash::Outcome outcome = trashExpected(r.item, expected, p, changed);
            error = outcome.error;
            reason = outcome.reason;
            if (!changed && outcome.ok()) {
                // Measured where it now lies: exactly what went, and still all there.
                const int64_t bytes = DiskScanner::freedSize(outcome.location);
                result.succeeded.push_back(url);
                result.bytesMovedToTrash += bytes;
                result.movedToTrash[url] = bytes;
                result.trashed.push_back(std::move(outcome.entry));
                continue;
            }
        } else {
            deleted = SafeDelete::removeAt(r.item.folder(), r.item.name(), p, {}, expected);
            error = deleted.error;
            reason = deleted.reason;
            changed = deleted.changed;
            // What went is freed, even when the removal stopped midway.
            result.bytesFreed += deleted.bytesRemoved;
            if (error == 0 && reason.empty()) {
                result.succeeded.push_back(url);
                continue;
            }
        }
        if (changed) {
            result.failed.push_back({url, reason.empty() ? RemovalTexts::changed(p) : reason});
        } else if (deleted.partial() && reason.empty() && permissionDenied(error)) {
            result.needsAdmin.push_back(url);
            result.partlyRemoved.push_back(url);
        } else if (deleted.partial()) {
            result.failed.push_back(
                {url, RemovalTexts::partlyRemoved(p, reason.empty() ? RemovalTexts::notRemoved(p, error) : reason)});
        } else if (!reason.empty()) {
            result.failed.push_back({url, reason});
        } else if (permissionDenied(error)) {
            result.needsAdmin.push_back(url);
        } else {
            result.failed.push_back({url, RemovalTexts::notRemoved(p, error)});
        }
    }
    return result;
}

} // namespace vessora::Remover
