#pragma once
// The last batch of items moved to the Trash, kept in the app's state folder
// so that it can be put back: from the result alert right after the removal,
// or later with `vessora restore --last`. Only removals to the Trash are
// recorded; a permanent deletion leaves the record as it was. Each item is
// recorded with the trash folder and the entry it went to, by identity, so
// putting it back acts on exactly what was moved.

#include "platform/TrashRestore.h"
#include "removal/Remover.h"
#include "support/Date.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::RemovalLog {

struct Batch {
    Date removedAt;
    size_t succeeded = 0;                        // items the removal reported removed
    std::vector<Trash::Entry> items;             // those of them that went to a Trash
};

// $XDG_STATE_HOME/vessora/last-removal.json.
std::string path();

// Records the items of `result` that went to the Trash as the last batch,
// replacing the file atomically. Does nothing for a deletion or when no item
// can be found in the Trash; false only when writing failed.
bool record(const RemovalResult& result, RemovalMode mode);

// The recorded batch; nothing when there is none or the file is unreadable.
std::optional<Batch> last();

// The batch the text of a record holds; nothing when it is not a valid one
// (a path with a NUL or not absolute, a name that is not a single name, a
// number that is not a whole number in its range).
std::optional<Batch> parse(std::string_view text);

// True when the recorded batch is the one `result` reports: the result the
// alert shows can then be put back.
bool isLastBatch(const RemovalResult& result);

// Puts the last batch back, each item only from this user's own trash folders
// and only to a place the removal guard allows. Items that could not be put
// back stay recorded, so a later try can still find them; the record goes
// when nothing is left.
TrashRestore::Outcome restoreLast();

// "Put back 3 items." and one line per refusal, for the alert and the tool.
std::vector<std::string> describe(const TrashRestore::Outcome& outcome);

} // namespace vessora::RemovalLog
