#include "apps/AppImageFile.h"

#include <elf.h>
#include <fcntl.h>
#include <glib.h>
#include <sqfs/compressor.h>
#include <sqfs/data_reader.h>
#include <sqfs/dir.h>
#include <sqfs/dir_reader.h>
#include <sqfs/error.h>
#include <sqfs/inode.h>
#include <sqfs/io.h>
#include <sqfs/super.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <utility>

namespace vessora::AppImageFile {
namespace {

// An embedded desktop entry is small; refuse to unpack anything larger.
constexpr uint64_t maxEntryBytes = 1 << 20;

bool readAt(int fd, uint64_t offset, void* buffer, size_t size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t got = ::pread(fd, out, size, off_t(offset));
        if (got <= 0) return false;
        out += got;
        offset += uint64_t(got);
        size -= size_t(got);
    }
    return true;
}

struct Fd {
    int fd;
    explicit Fd(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// A read-only view of the file from the image's offset on, so the library
// sees a SquashFS image starting at 0.
struct OffsetFile {
    sqfs_file_t base;
    int fd;
    uint64_t offset;
    uint64_t size;
};

int offsetRead(sqfs_file_t* file, sqfs_u64 at, void* buffer, size_t size) {
    auto* self = reinterpret_cast<OffsetFile*>(file);
    if (at > self->size || size > self->size - at) return SQFS_ERROR_OUT_OF_BOUNDS;
    return readAt(self->fd, self->offset + at, buffer, size) ? 0 : SQFS_ERROR_IO;
}
int offsetWrite(sqfs_file_t*, sqfs_u64, const void*, size_t) { return SQFS_ERROR_UNSUPPORTED; }
sqfs_u64 offsetSize(const sqfs_file_t* file) { return reinterpret_cast<const OffsetFile*>(file)->size; }
int offsetTruncate(sqfs_file_t*, sqfs_u64) { return SQFS_ERROR_UNSUPPORTED; }
// The object lives on the caller's stack; the library never copies it.
void offsetDestroy(sqfs_object_t*) {}

template <typename T> struct SqfsDeleter {
    void operator()(T* object) const { sqfs_destroy(object); }
};
template <typename T> using Owned = std::unique_ptr<T, SqfsDeleter<T>>;
struct FreeDeleter {
    void operator()(void* p) const { sqfs_free(p); }
};
using Inode = std::unique_ptr<sqfs_inode_generic_t, FreeDeleter>;

std::optional<std::string> readFile(sqfs_data_reader_t* data, const sqfs_inode_generic_t* inode) {
    sqfs_u64 size = 0;
    if (sqfs_inode_get_file_size(inode, &size) != 0 || size > maxEntryBytes) return std::nullopt;
    std::string bytes(size, '\0');
    sqfs_s32 got = sqfs_data_reader_read(data, inode, 0, bytes.data(), sqfs_u32(size));
    if (got < 0 || sqfs_u64(got) != size) return std::nullopt;
    return bytes;
}

std::string linkTarget(const sqfs_inode_generic_t* inode) {
    uint32_t size =
        inode->base.type == SQFS_INODE_SLINK ? inode->data.slink.target_size : inode->data.slink_ext.target_size;
    if (size > inode->payload_bytes_used) return {};
    return std::string(reinterpret_cast<const char*>(inode->extra), size);
}

bool isFile(const sqfs_inode_generic_t* inode) {
    return inode->base.type == SQFS_INODE_FILE || inode->base.type == SQFS_INODE_EXT_FILE;
}
bool isLink(const sqfs_inode_generic_t* inode) {
    return inode->base.type == SQFS_INODE_SLINK || inode->base.type == SQFS_INODE_EXT_SLINK;
}

// The entry's bytes and its file name at the top of the image.
std::optional<std::pair<std::string, std::string>> entryBytes(int fd, uint64_t offset, uint64_t fileSize) {
    OffsetFile file{};
    file.base.base.destroy = offsetDestroy;
    file.base.read_at = offsetRead;
    file.base.write_at = offsetWrite;
    file.base.get_size = offsetSize;
    file.base.truncate = offsetTruncate;
    file.fd = fd;
    file.offset = offset;
    file.size = fileSize - offset;
    sqfs_file_t* io = &file.base;

    sqfs_super_t super{};
    if (sqfs_super_read(&super, io) != 0) return std::nullopt;
    sqfs_compressor_config_t config{};
    if (sqfs_compressor_config_init(&config, SQFS_COMPRESSOR(super.compression_id), super.block_size,
                                    SQFS_COMP_FLAG_UNCOMPRESS) != 0)
        return std::nullopt;
    sqfs_compressor_t* rawCompressor = nullptr;
    if (sqfs_compressor_create(&config, &rawCompressor) != 0) return std::nullopt;
    Owned<sqfs_compressor_t> compressor(rawCompressor);
    if ((super.flags & SQFS_FLAG_COMPRESSOR_OPTIONS) && compressor->read_options(compressor.get(), io) != 0)
        return std::nullopt;
    Owned<sqfs_dir_reader_t> dirs(sqfs_dir_reader_create(&super, compressor.get(), io, 0));
    Owned<sqfs_data_reader_t> data(sqfs_data_reader_create(io, super.block_size, compressor.get(), 0));
    if (!dirs || !data || sqfs_data_reader_load_fragment_table(data.get(), &super) != 0) return std::nullopt;

    sqfs_inode_generic_t* rawRoot = nullptr;
    if (sqfs_dir_reader_get_root_inode(dirs.get(), &rawRoot) != 0) return std::nullopt;
    Inode root(rawRoot);
    if (sqfs_dir_reader_open_dir(dirs.get(), root.get(), 0) != 0) return std::nullopt;
    // The first "*.desktop" at the top, in listing order (sorted by name).
    std::string name;
    for (;;) {
        sqfs_dir_entry_t* rawEntry = nullptr;
        if (sqfs_dir_reader_read(dirs.get(), &rawEntry) != 0) break;
        std::unique_ptr<sqfs_dir_entry_t, FreeDeleter> entry(rawEntry);
        std::string candidate(reinterpret_cast<const char*>(entry->name), size_t(entry->size) + 1);
        if (candidate.size() > 8 && candidate.ends_with(".desktop")) {
            name = std::move(candidate);
            break;
        }
    }
    if (name.empty()) return std::nullopt;
    sqfs_inode_generic_t* rawInode = nullptr;
    if (sqfs_dir_reader_find_by_path(dirs.get(), root.get(), name.c_str(), &rawInode) != 0) return std::nullopt;
    Inode inode(rawInode);
    if (isLink(inode.get())) {
        // Usually "usr/share/applications/x.desktop"; only paths inside the
        // image are followed, and only once.
        std::string target = linkTarget(inode.get());
        while (target.starts_with("./")) target.erase(0, 2);
        if (target.empty() || target.starts_with('/') || target.find("..") != std::string::npos) return std::nullopt;
        rawInode = nullptr;
        if (sqfs_dir_reader_find_by_path(dirs.get(), root.get(), target.c_str(), &rawInode) != 0) return std::nullopt;
        inode.reset(rawInode);
    }
    if (!isFile(inode.get())) return std::nullopt;
    std::optional<std::string> bytes = readFile(data.get(), inode.get());
    if (!bytes) return std::nullopt;
    return std::pair{std::move(*bytes), std::move(name)};
}

} // namespace

bool isAppImage(const std::string& path) {
    Fd file(path);
    unsigned char head[11];
    if (file.fd < 0 || !readAt(file.fd, 0, head, sizeof head)) return false;
    return std::memcmp(head, ELFMAG, SELFMAG) == 0 && head[8] == 'A' && head[9] == 'I' && head[10] == 0x02;
}

std::optional<uint64_t> imageOffset(const std::string& path) {
    Fd file(path);
    if (file.fd < 0) return std::nullopt;
    unsigned char ident[EI_NIDENT];
    if (!readAt(file.fd, 0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
    // The runtime is built for the machine it runs on: little-endian here.
    if (ident[EI_DATA] != ELFDATA2LSB) return std::nullopt;
    if (ident[EI_CLASS] == ELFCLASS64) {
        Elf64_Ehdr header;
        if (!readAt(file.fd, 0, &header, sizeof header)) return std::nullopt;
        return uint64_t(header.e_shoff) + uint64_t(header.e_shnum) * header.e_shentsize;
    }
    if (ident[EI_CLASS] == ELFCLASS32) {
        Elf32_Ehdr header;
        if (!readAt(file.fd, 0, &header, sizeof header)) return std::nullopt;
        return uint64_t(header.e_shoff) + uint64_t(header.e_shnum) * header.e_shentsize;
    }
    return std::nullopt;
}

std::optional<DesktopEntry> embeddedEntry(const std::string& path) {
    std::optional<uint64_t> offset = imageOffset(path);
    if (!offset) return std::nullopt;
    Fd file(path);
    if (file.fd < 0) return std::nullopt;
    off_t end = ::lseek(file.fd, 0, SEEK_END);
    if (end <= 0 || uint64_t(end) <= *offset) return std::nullopt;
    auto bytes = entryBytes(file.fd, *offset, uint64_t(end));
    if (!bytes) return std::nullopt;
    std::optional<DesktopEntry> entry = DesktopEntries::parse(bytes->first);
    if (entry) entry->id = bytes->second;
    return entry;
}

std::string integrationPrefix(const std::string& path) {
    // The URI escapes what a URI must; GLib's escaping is the one the
    // desktop integration tools use.
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string text = uri ? uri : "file://" + path;
    g_free(uri);
    gchar* digest = g_compute_checksum_for_string(G_CHECKSUM_MD5, text.c_str(), gssize(text.size()));
    std::string out = std::string("appimagekit_") + digest;
    g_free(digest);
    return out;
}

} // namespace vessora::AppImageFile
