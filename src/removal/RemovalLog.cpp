#include "removal/RemovalLog.h"

#include "support/Fmt.h"
#include "support/Json.h"
#include "support/JsonReader.h"
#include "support/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
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

// A temporary file beside the record, synced, then renamed over it: a crash
// leaves either the old record or the new one, never half of one.
bool writeAtomically(const std::string& target, const std::string& contents) {
    if (ensureDirectories(Paths::parent(target)) != 0) return false;
    std::string temporary = target + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    bool written = ::write(fd, contents.data(), contents.size()) == ssize_t(contents.size());
    written = ::fsync(fd) == 0 && written;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool write(const Batch& batch) {
    std::string out;
    JsonWriter json(out);
    json.beginObject();
    json.field("version", 1);
    json.field("removedAt", Dates::iso8601(batch.removedAt));
    json.field("removedAtSeconds",
               int64_t(std::chrono::duration_cast<std::chrono::seconds>(batch.removedAt.time_since_epoch()).count()));
    json.field("succeeded", int64_t(batch.succeeded));
    json.key("items").beginArray();
    for (const auto& item : batch.items) {
        json.beginObject();
        json.field("original", item.original);
        json.field("location", item.location);
        json.field("info", item.infoPath);
        json.endObject();
    }
    json.endArray();
    json.endObject();
    out += '\n';
    return writeAtomically(path(), out);
}

std::string plural(size_t count, const char* noun) { return Fmt::counted(int64_t(count), noun); }

} // namespace

std::string path() { return Paths::join(Paths::stateFolder(), "last-removal.json"); }

bool record(const RemovalResult& result, RemovalMode mode) {
    if (mode != RemovalMode::trash || result.succeeded.empty()) return true;
    Batch batch;
    batch.removedAt = std::chrono::system_clock::now();
    batch.succeeded = result.succeeded.size();
    // Right after the move the item just trashed is the newest one recorded
    // for its path: older namesakes in the Trash were trashed before it.
    for (const std::string& url : result.succeeded)
        if (auto item = TrashRestore::findNewest(url)) batch.items.push_back(std::move(*item));
    if (batch.items.empty()) return true;
    return write(batch);
}

std::optional<Batch> last() {
    std::ifstream in(path(), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    auto document = parseJson(buffer.str());
    if (!document || document->kind != JsonValue::Kind::object) return std::nullopt;
    Batch batch;
    const JsonValue* seconds = document->member("removedAtSeconds");
    const JsonValue* succeeded = document->member("succeeded");
    const JsonValue* items = document->member("items");
    if (!seconds || seconds->kind != JsonValue::Kind::number || !items || items->kind != JsonValue::Kind::array)
        return std::nullopt;
    batch.removedAt = Date(std::chrono::seconds(int64_t(seconds->number)));
    if (succeeded && succeeded->kind == JsonValue::Kind::number && succeeded->number >= 0)
        batch.succeeded = size_t(succeeded->number);
    for (const JsonValue& item : items->array) {
        auto original = item.text("original"), location = item.text("location"), info = item.text("info");
        if (!original || !location || !info || !original->starts_with('/')) return std::nullopt;
        batch.items.push_back({*original, *location, *info});
    }
    return batch;
}

bool isLastBatch(const RemovalResult& result) {
    auto batch = last();
    if (!batch || batch->items.empty() || batch->succeeded != result.succeeded.size()) return false;
    std::set<std::string> removed(result.succeeded.begin(), result.succeeded.end());
    for (const auto& item : batch->items)
        if (!removed.count(item.original) && !removed.count(Paths::standardize(item.original))) return false;
    return true;
}

TrashRestore::Outcome restoreLast() {
    auto batch = last();
    if (!batch) return {};
    TrashRestore::Outcome outcome = TrashRestore::restore(batch->items);
    std::set<std::string> restored(outcome.restored.begin(), outcome.restored.end());
    std::erase_if(batch->items, [&](const auto& item) { return restored.count(item.original) > 0; });
    if (batch->items.empty())
        ::unlink(path().c_str());
    else
        write(*batch);
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
