#pragma once
// Copies a selection into a dated backup folder and checks every copy before
// anything may be deleted. The archiver itself never deletes or changes an
// original: it only reads them.

#include "support/Date.h"
#include "support/Result.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

// One copied and verified item.
struct ArchivedItem {
    std::string source;      // the original; also the record's identity
    std::string destination; // the copy inside the backup folder
    int64_t originalBytes = 0;
    int64_t copiedBytes = 0;

    const std::string& id() const { return source; }
};

// The outcome of one archive call.
struct ArchiveResult {
    std::string destination;         // the dated folder made for this call
    std::vector<std::string> copied; // originals whose copy verified, in input order
    std::vector<Failure> failed;
    int64_t bytes = 0;                         // sum of copiedBytes over items
    std::vector<ArchivedItem> items;           // one per entry of copied, same order
    std::optional<std::string> readableExport; // the HTML transcript, when made
};

namespace Archiver {

// Told before each item is copied (index counts from 0), so a caller can show
// progress; it runs on the archiving thread.
using Progress = std::function<void(size_t index, size_t count, const std::string& source)>;

// "<Documents>/Vessora Backups".
std::string defaultDestination();

// The label, a space and the local date and time as "yyyy-MM-dd HHmm"
// (en_US_POSIX). A "/" in the label becomes "-", so the name stays one folder.
// `timeZone` names an Olson zone; empty means the user's.
std::string folderName(const std::string& label, Date date, const std::string& timeZone = {});

// Copies each original into a new dated folder below `root` and verifies each
// copy by size. Slow; never throws; every problem ends up in `failed`.
ArchiveResult archive(const std::vector<std::string>& originals, const std::string& label, const std::string& root,
                      const Progress& progress = {});

// True when both paths can be examined and lie on the same file system.
bool sameVolume(const std::string& a, const std::string& b);

// The size rule of verification: a copy passes unless the original measures
// at least 1 byte and 98 % of it is more than the copy.
bool copyIsLargeEnough(int64_t originalBytes, int64_t copiedBytes);

} // namespace Archiver
} // namespace vessora
