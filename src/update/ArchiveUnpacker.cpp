#include "update/ArchiveUnpacker.h"

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace vessora::ArchiveUnpacker {

namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;

// libarchive may report a failure without setting a message.
std::string errorText(archive* a) {
    const char* text = a ? archive_error_string(a) : nullptr;
    return text && *text ? text : "no detail given";
}

Result refuse(std::string reason) { return {false, std::move(reason)}; }

// ---- The central directory, read independently of libarchive ----------------

uint64_t little(const unsigned char* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

bool readAt(int fd, uint64_t offset, size_t size, std::vector<unsigned char>& out) {
    out.resize(size);
    size_t done = 0;
    while (done < size) {
        ssize_t got = ::pread(fd, out.data() + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

// The entry names the central directory lists, as a multiset; nothing when
// the file has no well-formed central directory. libarchive reads names from
// the local headers, so comparing the two views catches an archive that
// shows one set of names to a tool reading the directory and another to one
// reading the entries.
std::optional<std::multiset<std::string>> centralNames(const std::string& path, std::string& reason) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = "cannot open the archive";
        return std::nullopt;
    }
    std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_size < 22) {
        reason = "no central directory";
        return std::nullopt;
    }
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    const uint64_t tail = std::min<uint64_t>(size, 22 + 65535);
    std::vector<unsigned char> end;
    if (!readAt(fd, size - tail, tail, end)) return reason = "cannot read the archive", std::nullopt;
    std::optional<uint64_t> eocd; // offset of the end record
    for (uint64_t i = tail - 22 + 1; i-- > 0;) {
        const unsigned char* p = end.data() + i;
        if (little(p, 4) == 0x06054b50 && i + 22 + little(p + 20, 2) <= tail) {
            eocd = size - tail + i;
            break;
        }
    }
    if (!eocd) return reason = "no central directory", std::nullopt;
    const unsigned char* record = end.data() + (*eocd - (size - tail));
    uint64_t count = little(record + 10, 2), cdSize = little(record + 12, 4);
    uint64_t cdEnd = *eocd;
    if (count == 0xffff || cdSize == 0xffffffff || little(record + 16, 4) == 0xffffffff) {
        std::vector<unsigned char> locator, zip64;
        if (*eocd < 20 || !readAt(fd, *eocd - 20, 20, locator) || little(locator.data(), 4) != 0x07064b50)
            return reason = "damaged zip64 central directory", std::nullopt;
        uint64_t at = little(locator.data() + 8, 8);
        if (at + 56 > *eocd || !readAt(fd, at, 56, zip64) || little(zip64.data(), 4) != 0x06064b50)
            return reason = "damaged zip64 central directory", std::nullopt;
        count = little(zip64.data() + 32, 8);
        cdSize = little(zip64.data() + 40, 8);
        cdEnd = at;
    }
    // Located from where it ends, so a prefix before the archive (as in a
    // self-extracting one) does not matter.
    if (cdSize > cdEnd || cdSize > (uint64_t{256} << 20)) return reason = "damaged central directory", std::nullopt;
    std::vector<unsigned char> cd;
    if (!readAt(fd, cdEnd - cdSize, cdSize, cd)) return reason = "cannot read the central directory", std::nullopt;
    std::multiset<std::string> names;
    size_t at = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (at + 46 > cd.size() || little(cd.data() + at, 4) != 0x02014b50)
            return reason = "damaged central directory", std::nullopt;
        size_t nameLength = little(cd.data() + at + 28, 2);
        size_t rest = nameLength + little(cd.data() + at + 30, 2) + little(cd.data() + at + 32, 2);
        if (at + 46 + rest > cd.size()) return reason = "damaged central directory", std::nullopt;
        names.emplace(reinterpret_cast<const char*>(cd.data() + at + 46), nameLength);
        at += 46 + rest;
    }
    return names;
}

// ---- Entry checks ----------------------------------------------------------------

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".") parts.push_back(part);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

std::string joined(const std::vector<std::string_view>& parts, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) path += (i ? "/" : "") + std::string(parts[i]);
    return path;
}

// The entry's path relative to the folder, without "." and empty components;
// nothing when it is absolute, climbs with "..", or is empty.
std::optional<std::string> safeName(const char* raw) {
    if (!raw || !*raw || raw[0] == '/') return std::nullopt;
    auto parts = components(raw);
    for (std::string_view part : parts)
        if (part == "..") return std::nullopt;
    if (parts.empty()) return std::nullopt;
    return joined(parts, parts.size());
}

// What the entries seen so far have made of the folder.
struct Tree {
    std::set<std::string> entries; // named by an entry
    std::set<std::string> folders; // folders, named or implied by a deeper entry
    std::set<std::string> links;
    std::set<std::string> linkWays; // every path a link target resolves through

    // Empty when the entry may be written, else why not.
    std::string admit(const std::string& name, mode_t type, const char* target) {
        if (!entries.insert(name).second) return "entry appears twice: " + name;
        auto parts = components(name);
        for (size_t i = 1; i < parts.size(); ++i) {
            std::string above = joined(parts, i);
            if (links.count(above)) return "entry below a link: " + name;
            if (entries.count(above) && !folders.count(above)) return "entry below a file: " + name;
            folders.insert(above);
        }
        if (type == AE_IFDIR) {
            folders.insert(name);
            return {};
        }
        if (folders.count(name)) return "entry replaces a folder: " + name;
        if (type != AE_IFLNK) return {};
        // Resolved lexically; a component that is itself a link of the archive
        // could lead anywhere, so no target may pass through one, whichever of
        // the two comes first in the archive.
        if (linkWays.count(name)) return "link on the way of another link: " + name;
        std::string text = target ? target : "";
        if (text.empty() || text[0] == '/') return "link leaves the folder: " + name;
        auto resolved = parts;
        resolved.pop_back(); // the link's own folder
        std::vector<std::string> ways;
        for (std::string_view part : components(text)) {
            if (part == "..") {
                if (resolved.empty()) return "link leaves the folder: " + name;
                resolved.pop_back();
                continue;
            }
            resolved.push_back(part);
            ways.push_back(joined(resolved, resolved.size()));
            if (links.count(ways.back()) || ways.back() == name) return "link passes through a link: " + name;
        }
        links.insert(name);
        linkWays.insert(ways.begin(), ways.end());
        return {};
    }
};

} // namespace

Result unpack(const std::string& archivePath, const std::string& folder, const Limits& limits) {
    std::string reason;
    auto listed = centralNames(archivePath, reason);
    if (!listed) return refuse(reason);
    if (static_cast<int64_t>(listed->size()) > limits.maxEntries) return refuse("too many entries");

    Reader reader(archive_read_new(), archive_read_free);
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), 1 << 16) != ARCHIVE_OK)
        return refuse("not a readable zip archive: " + errorText(reader.get()));
    // libarchive's own guards stay as a second line; permissions are written
    // exactly (the checks below keep out setuid, setgid and sticky bits).
    Writer writer(archive_write_disk_new(), archive_write_free);
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                     ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME);
    Tree tree;
    int64_t entries = 0, declared = 0, written = 0;
    archive_entry* entry = nullptr;
    int status;
    // A warning here is the local header contradicting the central directory
    // (size, checksum): refused like any other disagreement.
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        if (++entries > limits.maxEntries) return refuse("too many entries");
        const char* raw = archive_entry_pathname(entry);
        auto listedName = raw ? listed->find(raw) : listed->end();
        if (listedName == listed->end())
            return refuse(std::string("entry missing from the central directory: ") + (raw ? raw : "(none)"));
        listed->erase(listedName);
        auto name = safeName(raw);
        if (!name) return refuse(std::string("unsafe entry name: ") + raw);
        const mode_t type = archive_entry_filetype(entry);
        if (archive_entry_hardlink(entry)) return refuse("hard link: " + *name);
        if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK)
            return refuse("not a file, folder or link: " + *name);
        const mode_t perm = archive_entry_perm(entry);
        if (perm & 07000) return refuse("setuid, setgid or sticky bit: " + *name);
        if (type == AE_IFDIR && (perm & 0700) != 0700) return refuse("folder closed to its owner: " + *name);
        std::string refused = tree.admit(*name, type, archive_entry_symlink(entry));
        if (!refused.empty()) return refuse(refused);
        if (archive_entry_size_is_set(entry)) {
            declared += archive_entry_size(entry);
            if (archive_entry_size(entry) < 0 || declared > limits.maxTotalBytes)
                return refuse("the archive unpacks to too many bytes");
        }

        archive_entry_set_pathname(entry, (folder + "/" + *name).c_str());
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK)
            return refuse("cannot write " + *name + ": " + errorText(writer.get()));
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int read;
        // The byte cap holds for what is actually produced, whatever the
        // headers claimed.
        while ((read = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            written += static_cast<int64_t>(size);
            if (written > limits.maxTotalBytes) return refuse("the archive unpacks to too many bytes");
            if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK)
                return refuse("cannot write " + *name + ": " + errorText(writer.get()));
        }
        if (read != ARCHIVE_EOF) return refuse("damaged archive at " + *name + ": " + errorText(reader.get()));
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK)
            return refuse("cannot write " + *name + ": " + errorText(writer.get()));
    }
    if (status != ARCHIVE_EOF) return refuse("damaged archive: " + errorText(reader.get()));
    if (!listed->empty()) return refuse("entry listed but not found: " + *listed->begin());
    if (archive_write_close(writer.get()) != ARCHIVE_OK) return refuse("cannot finish: " + errorText(writer.get()));
    return {true, {}};
}

} // namespace vessora::ArchiveUnpacker
