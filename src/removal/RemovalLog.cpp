#include "removal/RemovalLog.h"

#include "support/Fmt.h"
#include "support/Json.h"
#include "support/JsonReader.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::RemovalLog {

namespace {

int ensureDirectories(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (path == "/" || path.empty()) return ENOENT;
    if (int e = ensureDirectories(Paths::parent(path))) return e;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

Reason notWritten(const std::string& target, int error) {
    return {"The record of the removal could not be written to " + target + ": " + std::strerror(error) + "."};
}

// A temporary file beside the record, synced, then renamed over it: a crash
// leaves either the old record or the new one, never half of one.
Result<void> writeAtomically(const std::string& target, const std::string& contents) {
    if (int error = ensureDirectories(Paths::parent(target))) return notWritten(target, error);
    std::string temporary = target + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return notWritten(target, errno);
    const ssize_t wrote = ::write(fd, contents.data(), contents.size());
    int error = wrote < 0 ? errno : wrote != ssize_t(contents.size()) ? ENOSPC : 0;
    if (::fsync(fd) != 0 && error == 0) error = errno;
    ::close(fd);
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return notWritten(target, error);
    }
    return {};
}

// Version 2: each item with its trash folder and entry by identity. Device
// and inode numbers are whole JSON numbers, read back exactly.
Result<void> write(const Batch& batch) {
    std::string out;
    JsonWriter json(out);
    json.beginObject();
    json.field("version", 2);
    json.field("removedAt", Dates::iso8601(batch.removedAt));
    json.field("removedAtSeconds",
               int64_t(std::chrono::duration_cast<std::chrono::seconds>(batch.removedAt.time_since_epoch()).count()));
    json.field("succeeded", int64_t(batch.succeeded));
    json.key("items").beginArray();
    for (const Trash::Entry& item : batch.items) {
        json.beginObject();
        json.field("original", item.original);
        json.field("trash", item.trash);
        json.field("trashDevice", item.trashDevice);
        json.field("trashInode", item.trashInode);
        json.field("name", item.name);
        json.field("device", item.device);
        json.field("inode", item.inode);
        json.endObject();
    }
    json.endArray();
    json.endObject();
    out += '\n';
    return writeAtomically(path(), out);
}

bool isAbsolutePath(const std::string& path) {
    return path.starts_with('/') && path != "/" && path.find('\0') == std::string::npos &&
           Paths::standardize(path) == path;
}

bool isSingleName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool sameEntry(const Trash::Entry& a, const Trash::Entry& b) {
    return a.trashDevice == b.trashDevice && a.trashInode == b.trashInode && a.name == b.name && a.device == b.device &&
           a.inode == b.inode && a.trash == b.trash;
}

std::string plural(size_t count, const char* noun) { return Fmt::counted(int64_t(count), noun); }

} // namespace

std::string path() { return Paths::join(Paths::stateFolder(), "last-removal.json"); }

Result<void> record(const RemovalResult& result, RemovalMode mode) {
    if (mode != RemovalMode::trash || result.succeeded.empty() || result.trashed.empty()) return {};
    Batch batch;
    batch.removedAt = std::chrono::system_clock::now();
    batch.succeeded = result.succeeded.size();
    batch.items = result.trashed;
    return write(batch);
}

std::optional<Batch> parse(std::string_view text) {
    auto document = parseJson(text);
    if (!document || document->kind != JsonValue::Kind::object) return std::nullopt;
    const JsonValue* version = document->member("version");
    const JsonValue* seconds = document->member("removedAtSeconds");
    const JsonValue* succeeded = document->member("succeeded");
    const JsonValue* items = document->member("items");
    if (!version || version->integer(2, 2) != 2 || !seconds || !items || items->kind != JsonValue::Kind::array)
        return std::nullopt;
    Batch batch;
    // Whole seconds that a date can hold; anything else is not a record of ours.
    auto secondsValue = seconds->integer(0, std::numeric_limits<int64_t>::max());
    if (!secondsValue) return std::nullopt;
    auto date = Dates::checkedFromTimespec(long(*secondsValue));
    if (!date) return std::nullopt;
    batch.removedAt = *date;
    if (succeeded) {
        auto count = succeeded->integer(0, int64_t(std::numeric_limits<int32_t>::max()));
        if (!count) return std::nullopt;
        batch.succeeded = size_t(*count);
    }
    for (const JsonValue& item : items->array) {
        Trash::Entry entry;
        auto original = item.text("original"), trash = item.text("trash"), name = item.text("name");
        if (!original || !trash || !name || !isAbsolutePath(*original) || !isAbsolutePath(*trash) ||
            !isSingleName(*name))
            return std::nullopt;
        entry.original = *original;
        entry.trash = *trash;
        entry.name = *name;
        for (auto [key, field] :
             {std::pair{"trashDevice", &entry.trashDevice}, std::pair{"trashInode", &entry.trashInode},
              std::pair{"device", &entry.device}, std::pair{"inode", &entry.inode}}) {
            const JsonValue* number = item.member(key);
            auto value = number ? number->unsignedInteger() : std::nullopt;
            if (!value) return std::nullopt;
            *field = *value;
        }
        batch.items.push_back(std::move(entry));
    }
    return batch;
}

std::optional<Batch> last() {
    std::optional<std::string> text = WholeFile::read(path());
    if (!text) return std::nullopt;
    return parse(*text);
}

bool isLastBatch(const RemovalResult& result) {
    auto batch = last();
    if (!batch || batch->items.empty() || batch->succeeded != result.succeeded.size()) return false;
    for (const Trash::Entry& item : batch->items)
        if (std::none_of(result.trashed.begin(), result.trashed.end(),
                         [&](const Trash::Entry& moved) { return sameEntry(item, moved); }))
            return false;
    return true;
}

TrashRestore::Outcome restoreLast() {
    auto batch = last();
    if (!batch) return {};
    TrashRestore::Outcome outcome = TrashRestore::restore(batch->items, [](const std::string& destination) {
        GuardResult verdict = Remover::checkDestination(destination);
        return verdict.allowed ? Result<void>() : Reason{verdict.reason};
    });
    std::set<std::string> restored(outcome.restored.begin(), outcome.restored.end());
    std::erase_if(batch->items, [&](const auto& item) { return restored.count(item.original) > 0; });
    // What is left stays findable for a later try; when that cannot be
    // written, the older record still names it.
    if (batch->items.empty())
        ::unlink(path().c_str());
    else
        (void)write(*batch);
    return outcome;
}

std::vector<std::string> describe(const TrashRestore::Outcome& outcome) {
    std::vector<std::string> lines;
    if (!outcome.restored.empty()) lines.push_back("Put back " + plural(outcome.restored.size(), "item") + ".");
    for (const auto& refusal : outcome.refused)
        lines.push_back(Paths::lastComponent(refusal.path) + ": " + refusal.reason);
    if (lines.empty()) lines.push_back("Nothing was put back.");
    return lines;
}

} // namespace vessora::RemovalLog
