#include "update/ArchiveUnpacker.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdlib>
#include <optional>
#include <utility>
#include <memory>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace vessora::ArchiveUnpacker {

namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;

Reader openArchive(const std::string& path) {
    Reader reader(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(reader.get());
    archive_read_support_filter_none(reader.get());
    if (archive_read_open_filename(reader.get(), path.c_str(), 1 << 16) != ARCHIVE_OK) reader.reset();
    return reader;
}

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

// The entry's path relative to the folder, without "." and empty components;
// nothing when it is absolute, climbs with "..", or is empty.
std::optional<std::string> safeName(const char* raw) {
    if (!raw || !*raw || raw[0] == '/') return std::nullopt;
    std::string name;
    for (std::string_view part : components(raw)) {
        if (part == "..") return std::nullopt;
        if (!name.empty()) name += '/';
        name += part;
    }
    if (name.empty()) return std::nullopt;
    return name;
}

// Whether a symbolic link at `name` pointing to `target` resolves inside the
// folder. The target is resolved lexically; since a component that is itself a
// link of the archive could lead anywhere, such targets are refused outright.
bool linkStaysInside(const std::string& name, const std::string& target, const std::set<std::string>& links) {
    if (target.empty() || target[0] == '/') return false;
    auto resolved = components(name);
    resolved.pop_back(); // the link's own folder
    for (std::string_view part : components(target)) {
        if (part == "..") {
            if (resolved.empty()) return false;
            resolved.pop_back();
            continue;
        }
        resolved.push_back(part);
        std::string prefix;
        for (std::string_view piece : resolved) prefix += (prefix.empty() ? "" : "/") + std::string(piece);
        if (links.count(prefix)) return false;
    }
    return true;
}

bool belowLink(const std::string& name, const std::set<std::string>& links) {
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
        if (links.count(name.substr(0, slash))) return true;
    return false;
}

Result refuse(std::string reason) { return {false, std::move(reason)}; }

// libarchive may fail without saying why (a truncated zip does): its message
// is then null, which must not reach a std::string.
std::string errorText(archive* a) {
    const char* text = archive_error_string(a);
    return text && *text ? text : "unknown error";
}

} // namespace

Result unpack(const std::string& archive, const std::string& folder, const Limits& limits) {
    // First pass: headers only. Nothing is written until every entry passed.
    {
        Reader reader = openArchive(archive);
        if (!reader) return refuse("not a readable zip archive");
        std::set<std::string> links;
        std::vector<std::pair<std::string, std::string>> linkTargets;
        std::vector<std::string> names; // every path an entry writes or refers to
        int64_t entries = 0, declared = 0;
        archive_entry* entry = nullptr;
        int status;
        while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK || status == ARCHIVE_WARN) {
            if (++entries > limits.maxEntries) return refuse("too many entries");
            const char* raw = archive_entry_pathname(entry);
            auto name = safeName(raw);
            if (!name) return refuse(std::string("unsafe entry name: ") + (raw ? raw : "(none)"));
            names.push_back(*name);
            const char* hardlink = archive_entry_hardlink(entry);
            if (hardlink) {
                if (!safeName(hardlink)) return refuse("hard link leaves the folder: " + *name);
                names.push_back(*safeName(hardlink));
            }
            mode_t type = archive_entry_filetype(entry);
            if (type == AE_IFLNK) {
                const char* target = archive_entry_symlink(entry);
                linkTargets.emplace_back(*name, target ? target : "");
                links.insert(*name);
            } else if (type != AE_IFREG && type != AE_IFDIR && !hardlink) {
                return refuse("not a file, folder or link: " + *name);
            }
            if (archive_entry_size_is_set(entry)) {
                declared += archive_entry_size(entry);
                if (archive_entry_size(entry) < 0 || declared > limits.maxTotalBytes)
                    return refuse("the archive unpacks to too many bytes");
            }
            if (archive_read_data_skip(reader.get()) != ARCHIVE_OK) return refuse("damaged archive");
        }
        if (status != ARCHIVE_EOF) return refuse(std::string("damaged archive: ") + errorText(reader.get()));
        // Checked once every link is known, so a link declared later cannot
        // turn an earlier target into a way out.
        for (const auto& [name, target] : linkTargets)
            if (!linkStaysInside(name, target, links)) return refuse("link leaves the folder: " + name);
        std::set<std::string> seen;
        for (const std::string& name : names) {
            if (belowLink(name, links)) return refuse("entry below a link: " + name);
            if (!seen.insert(name).second && links.count(name)) return refuse("entry replaces a link: " + name);
        }
    }

    // Second pass: write, with libarchive's own guards as a second line and
    // the byte cap enforced on what is actually produced, whatever the
    // headers claimed.
    Reader reader = openArchive(archive);
    if (!reader) return refuse("not a readable zip archive");
    Writer writer(archive_write_disk_new(), archive_write_free);
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                     ARCHIVE_EXTRACT_TIME);
    int64_t written = 0;
    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK || status == ARCHIVE_WARN) {
        auto name = safeName(archive_entry_pathname(entry));
        if (!name) return refuse("archive changed while unpacking");
        archive_entry_set_pathname(entry, (folder + "/" + *name).c_str());
        if (const char* hardlink = archive_entry_hardlink(entry))
            archive_entry_set_hardlink(entry, (folder + "/" + *safeName(hardlink)).c_str());
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK)
            return refuse(std::string("cannot write ") + *name + ": " + errorText(writer.get()));
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int read;
        while ((read = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            written += static_cast<int64_t>(size);
            if (written > limits.maxTotalBytes) return refuse("the archive unpacks to too many bytes");
            if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK)
                return refuse(std::string("cannot write ") + *name + ": " + errorText(writer.get()));
        }
        if (read != ARCHIVE_EOF) return refuse(std::string("damaged archive: ") + errorText(reader.get()));
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK)
            return refuse(std::string("cannot write ") + *name + ": " + errorText(writer.get()));
    }
    if (status != ARCHIVE_EOF) return refuse(std::string("damaged archive: ") + errorText(reader.get()));
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return refuse(std::string("cannot finish: ") + errorText(writer.get()));
    return {true, {}};
}

} // namespace vessora::ArchiveUnpacker
