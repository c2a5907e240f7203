#include "backup/Archiver.h"

#include "backup/MessagesExport.h"
#include "support/FolderListing.h"
#include "scan/DiskScanner.h"
#include "support/FolderListing.h"
#include "support/Fmt.h"
#include "support/Icu.h"
#include "support/Paths.h"
#include "support/Shell.h"

#include <unicode/udat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::Archiver {
namespace {

constexpr const char* kCopier = "/bin/cp";
constexpr const char* kTranscriptName = "index.html";
constexpr size_t kMessagesPerConversation = 5000;

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A name in `folder` that holds nothing yet: "name", then "name 2.ext",
// "name 3.ext"... Copying onto an existing item would merge into it or replace
// it, and an earlier item's verified copy (or an earlier backup sharing this
// folder) would silently stop holding its data. The transcript's name is kept
// for the transcript.
std::string freeTarget(const std::string& folder, const std::string& name) {
    std::string target = Paths::join(folder, name);
    if (!pathExists(target) && name != kTranscriptName) return target;
    const std::string stem = Paths::deletingExtension(name), extension = Paths::extension(name);
    for (int n = 2;; ++n) {
        std::string candidate = stem + " " + std::to_string(n) + (extension.empty() ? "" : "." + extension);
        target = Paths::join(folder, candidate);
        if (!pathExists(target)) return target;
    }
}

// Pre-order walk in listing order, links not followed; the first entry
// named `name` at or below `path`.
std::optional<std::string> findFirstNamed(const std::string& path, const std::string& name) {
    if (Paths::lastComponent(path) == name) return path;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    for (const std::string& child : FolderListing::namesOrEmpty(path))
        if (auto found = findFirstNamed(Paths::join(path, child), name)) return found;
    return std::nullopt;
}

// Writes through a temporary file in the same folder and renames it into
// place, so a reader never sees half a document.
bool writeAtomically(const std::string& path, const std::string& contents) {
    std::string temporary = Paths::join(Paths::parent(path), "." + Paths::lastComponent(path) + ".XXXXXX");
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    bool ok = true;
    for (size_t written = 0; ok && written < contents.size();) {
        ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            written += size_t(n);
    }
    ok = ::fchmod(fd, 0644) == 0 && ok;
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

struct CopyOutcome {
    bool finished = false; // the copier ran and reported success
    std::string diagnostics;
};

CopyOutcome copyItem(const std::string& source, const std::string& target) {
    // "--" keeps a name that starts with "-" from being read as an option.
    auto outcome =
        Shell::execute(kCopier, {"--archive", "--no-target-directory", "--reflink=auto", "--", source, target});
    return {outcome.launched && outcome.exitStatus == 0, trimmed(outcome.combined)};
}

void makeTranscript(ArchiveResult& result) {
    // Only this call's copies are searched: an earlier backup with the same
    // label in the same minute shares the folder and may hold its own database.
    std::optional<std::string> database;
    for (const auto& item : result.items)
        if ((database = findFirstNamed(item.destination, "chat.db"))) break;
    if (!database) return;
    auto conversations = MessagesExport::read(*database, kMessagesPerConversation);
    if (!conversations) return;
    std::string target = Paths::join(result.destination, kTranscriptName);
    if (writeAtomically(target, MessagesExport::html(*conversations))) result.readableExport = target;
}

// Copies one original into the backup folder and verifies the copy.
Result<ArchivedItem> copyVerified(const std::string& source, const std::string& destination) {
    // Copying a folder into a place inside itself would copy the growing
    // copy again and again until the disk is full.
    if (Paths::isInside(destination, source)) return Reason{"The backup folder lies inside the original."};
    const std::string target = freeTarget(destination, Paths::lastComponent(source));
    CopyOutcome copy = copyItem(source, target);
    if (!pathExists(target))
        return Reason{copy.diagnostics.empty() ? "The copy did not appear at the destination." : copy.diagnostics};
    // A copier that reports an error left an incomplete copy, however
    // large it measures (a full disk may stop it at the last small file).
    if (!copy.finished) return Reason{copy.diagnostics.empty() ? "The copy could not be completed." : copy.diagnostics};
    const int64_t original = DiskScanner::quickSize(source, ScanOptions{});
    const int64_t copied = DiskScanner::quickSize(target, ScanOptions{});
    if (!copyIsLargeEnough(original, copied))
        return Reason{"The copy is " + Fmt::bytes(copied) + " against an original of " + Fmt::bytes(original) + "."};
    return ArchivedItem{source, target, original, copied};
}

} // namespace

std::string defaultDestination() { return Paths::join(Paths::documentsFolder(), "Vessora Backups"); }

std::string folderName(const std::string& label, Date date, const std::string& timeZone) {
    static constexpr std::u16string_view pattern = u"yyyy-MM-dd HHmm";
    // No zone ID is the default time zone.
    const std::u16string zone = Icu::fromUtf8(timeZone);
    UErrorCode status = U_ZERO_ERROR;
    Icu::Owned<UDateFormat, udat_close> formatter(
        udat_open(UDAT_PATTERN, UDAT_PATTERN, "en_US_POSIX", timeZone.empty() ? nullptr : zone.data(),
                  int32_t(zone.size()), pattern.data(), int32_t(pattern.size()), &status));
    std::optional<std::string> text;
    if (U_SUCCESS(status)) text = Icu::formatDate(formatter.get(), date);
    // Without ICU's date formats, the same stamp in UTC.
    std::string stamp;
    if (text) {
        stamp = *text;
    } else {
        // "2023-03-08T20:26:40Z" to "2023-03-08 2026".
        stamp = Dates::iso8601(date).substr(0, 16);
        stamp[10] = ' ';
        stamp.erase(13, 1);
    }
    std::string name = label;
    for (char& c : name)
        if (c == '/') c = '-';
    return name + " " + stamp;
}

bool copyIsLargeEnough(int64_t originalBytes, int64_t copiedBytes) {
    return !(originalBytes >= 1 && double(originalBytes) * 0.98 > double(copiedBytes));
}

bool sameVolume(const std::string& a, const std::string& b) {
    struct stat first, second;
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev;
}

ArchiveResult archive(const std::vector<std::string>& originals, const std::string& label, const std::string& root,
                      const Progress& progress) {
    ArchiveResult result;
    result.destination = Paths::join(root, folderName(label, std::chrono::system_clock::now()));

    std::error_code error;
    std::filesystem::create_directories(result.destination, error);
    if (!error && !std::filesystem::is_directory(result.destination, error) && !error)
        error = std::make_error_code(std::errc::not_a_directory);
    if (error) {
        for (const auto& url : originals)
            result.failed.push_back({url, "Could not create " + result.destination + ": " + error.message()});
        return result;
    }

    for (size_t i = 0; i < originals.size(); ++i) {
        const std::string& source = originals[i];
        if (progress) progress(i, originals.size(), source);
        Result<ArchivedItem> item = copyVerified(source, result.destination);
        if (!item) {
            result.failed.push_back({source, item.reason()});
            continue;
        }
        result.copied.push_back(source);
        result.bytes += item->copiedBytes;
        result.items.push_back(std::move(item).value());
    }

    if (result.failed.empty() && !result.copied.empty()) makeTranscript(result);
    return result;
}

} // namespace vessora::Archiver
