#include "apps/AppImageFile.h"

#include "support/UniqueFd.h"

#include <elf.h>
#include <endian.h>
#include <fcntl.h>
#include <glib.h>
#include <lzma.h>
#include <sqfs/block.h>
#include <sqfs/compressor.h>
#include <sqfs/data_reader.h>
#include <sqfs/dir.h>
#include <sqfs/error.h>
#include <sqfs/inode.h>
#include <sqfs/io.h>
#include <sqfs/meta_reader.h>
#include <sqfs/super.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
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

// Opened without following a link or blocking on a FIFO.
UniqueFd openImage(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
}

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
using DirEntry = std::unique_ptr<sqfs_dir_entry_t, FreeDeleter>;

constexpr uint64_t noTable = ~uint64_t(0);
// The longest link target followed inside an image.
constexpr uint32_t maxLinkTarget = 4096;
// A folder listed in an image: an AppImage's top holds a few dozen entries.
constexpr int maxListed = 1 << 16;

// Locations of tables of `bytes` bytes: one 8-byte pointer per metadata
// block, read whole by the library.
uint64_t indexBytes(uint64_t bytes) { return (bytes + SQFS_META_BLOCK_SIZE - 1) / SQFS_META_BLOCK_SIZE * 8; }

// The library allocates what the header declares (a fragment table of 2^32
// entries is 64 GiB) before it finds out the file holds nothing of the kind.
// So every table's place and count is checked against the image's own size
// first, in the order the format writes them: data and fragments, inodes,
// directories, then the fragment, export, ID and xattr tables' indexes.
bool plausible(const sqfs_super_t& super, uint64_t imageBytes) {
    const uint64_t end = super.bytes_used;
    if (end > imageBytes || super.block_size < SQFS_DEVBLK_SIZE || super.block_size > SQFS_MAX_BLOCK_SIZE) return false;
    if (super.inode_table_start < sizeof(sqfs_super_t) || super.inode_table_start >= super.directory_table_start ||
        super.directory_table_start >= super.id_table_start || super.id_table_start >= end)
        return false;
    // The inode table holds every inode (16 bytes at least) in metadata
    // blocks of at most 8 KiB, each taking 3 bytes or more on disk.
    const uint64_t inodeBytes = super.directory_table_start - super.inode_table_start;
    if (super.inode_count == 0 || super.inode_count > inodeBytes / 3 * (SQFS_META_BLOCK_SIZE / 16) + 1) return false;
    if ((super.root_inode_ref >> 16) >= inodeBytes || (super.root_inode_ref & 0xFFFF) >= SQFS_META_BLOCK_SIZE)
        return false;
    // Tables after the directories end where the next one starts.
    uint64_t idEnd = end;
    if (super.xattr_id_table_start != noTable) {
        if (super.xattr_id_table_start < super.id_table_start || super.xattr_id_table_start >= end) return false;
        idEnd = super.xattr_id_table_start;
    }
    if (indexBytes(uint64_t(super.id_count) * 4) > idEnd - super.id_table_start) return false;
    uint64_t upper = super.id_table_start;
    if (super.export_table_start != noTable) {
        if (super.export_table_start <= super.directory_table_start || super.export_table_start >= upper) return false;
        if (indexBytes(uint64_t(super.inode_count) * 8) > upper - super.export_table_start) return false;
        upper = super.export_table_start;
    }
    if (!(super.flags & SQFS_FLAG_NO_FRAGMENTS) && super.fragment_table_start != noTable &&
        super.fragment_entry_count > 0) {
        if (super.fragment_table_start <= super.directory_table_start || super.fragment_table_start >= upper)
            return false;
        if (indexBytes(uint64_t(super.fragment_entry_count) * 16) > upper - super.fragment_table_start) return false;
        // Each fragment is a block of its own in the data area before the inodes.
        if (super.fragment_entry_count > super.inode_table_start) return false;
    }
    return true;
}

// The xz and lzma decoders allocate the dictionary each compressed block
// declares in its own header, up to the library's 32 MiB whatever the block
// holds. No block of an image needs one larger than the image's block size,
// so those two are decoded with that as their limit; the others need no
// memory beyond their output.
struct BoundedDecoder {
    sqfs_compressor_t base; // first, so the library's calls land here
    sqfs_compressor_t* library = nullptr;
    uint64_t dictionaryLimit = 0;
};

sqfs_s32 decodeXz(sqfs_compressor_t* compressor, const sqfs_u8* in, sqfs_u32 size, sqfs_u8* out, sqfs_u32 outsize) {
    const auto* self = reinterpret_cast<const BoundedDecoder*>(compressor);
    // The decoder's own tables come on top of the dictionary.
    uint64_t memoryLimit = self->dictionaryLimit + (1 << 20);
    size_t inAt = 0, outAt = 0;
    if (lzma_stream_buffer_decode(&memoryLimit, 0, nullptr, in, &inAt, size, out, &outAt, outsize) != LZMA_OK ||
        inAt != size)
        return SQFS_ERROR_COMPRESSOR;
    return sqfs_s32(outAt);
}

sqfs_s32 decodeLzma(sqfs_compressor_t* compressor, const sqfs_u8* in, sqfs_u32 size, sqfs_u8* out, sqfs_u32 outsize) {
    const auto* self = reinterpret_cast<const BoundedDecoder*>(compressor);
    // The header: properties (lc + 9 lp + 45 pb), then the dictionary size.
    if (size < 13) return SQFS_ERROR_CORRUPTED;
    const unsigned lc = in[0] % 9, lp = in[0] / 9 % 5;
    const uint64_t dictionary = uint64_t(in[1]) | uint64_t(in[2]) << 8 | uint64_t(in[3]) << 16 | uint64_t(in[4]) << 24;
    // Literal tables grow with 2^(lc + lp); 4 is the most any encoder uses.
    if (lc + lp > 4 || dictionary > self->dictionaryLimit) return SQFS_ERROR_COMPRESSOR;
    return self->library->do_block(self->library, in, size, out, outsize);
}

void noDestroy(sqfs_object_t*) {}

// An image opened for reading, all through its own metadata readers.
struct Image {
    sqfs_file_t* io = nullptr;
    sqfs_super_t super{};
    Owned<sqfs_compressor_t> compressor;
    BoundedDecoder bounded;
    // What the readers decode with: the library's compressor, or the bounded
    // decoder in front of it.
    sqfs_compressor_t* decoder = nullptr;
    Owned<sqfs_meta_reader_t> inodes;
    Owned<sqfs_meta_reader_t> directories;
    Owned<sqfs_data_reader_t> data;
};

bool openImage(Image& image, sqfs_file_t* io, uint64_t imageBytes) {
    image.io = io;
    sqfs_super_t& super = image.super;
    if (sqfs_super_read(&super, io) != 0 || !plausible(super, imageBytes)) return false;
    sqfs_compressor_config_t config{};
    if (sqfs_compressor_config_init(&config, SQFS_COMPRESSOR(super.compression_id), super.block_size,
                                    SQFS_COMP_FLAG_UNCOMPRESS) != 0)
        return false;
    sqfs_compressor_t* rawCompressor = nullptr;
    if (sqfs_compressor_create(&config, &rawCompressor) != 0) return false;
    image.compressor.reset(rawCompressor);
    if ((super.flags & SQFS_FLAG_COMPRESSOR_OPTIONS) && image.compressor->read_options(image.compressor.get(), io) != 0)
        return false;
    image.decoder = image.compressor.get();
    if (super.compression_id == SQFS_COMP_XZ || super.compression_id == SQFS_COMP_LZMA) {
        image.bounded.base = *image.compressor;
        image.bounded.base.base.destroy = noDestroy;
        image.bounded.base.base.copy = nullptr;
        image.bounded.base.do_block = super.compression_id == SQFS_COMP_XZ ? decodeXz : decodeLzma;
        image.bounded.library = image.compressor.get();
        image.bounded.dictionaryLimit = super.block_size;
        image.decoder = &image.bounded.base;
    }
    uint64_t directoriesEnd = super.id_table_start;
    for (uint64_t table : {super.fragment_table_start, super.export_table_start})
        if (table != noTable && table > super.directory_table_start) directoriesEnd = std::min(directoriesEnd, table);
    image.inodes.reset(
        sqfs_meta_reader_create(io, image.decoder, super.inode_table_start, super.directory_table_start));
    image.directories.reset(sqfs_meta_reader_create(io, image.decoder, super.directory_table_start, directoriesEnd));
    image.data.reset(sqfs_data_reader_create(io, super.block_size, image.decoder, 0));
    return image.inodes && image.directories && image.data &&
           sqfs_data_reader_load_fragment_table(image.data.get(), &super) == 0;
}

template <typename T> bool readRaw(sqfs_meta_reader_t* reader, T& out) {
    return sqfs_meta_reader_read(reader, &out, sizeof out) == 0;
}

// The inode at `ref`. Its fixed part is read first, and an inode whose
// declared sizes would have the library allocate more than a desktop entry
// needs is refused: a file over maxEntryBytes (its block list is allocated
// from its size), a link target over maxLinkTarget, a directory index name
// over SQFS_MAX_DIR_ENT bytes.
Inode readInode(Image& image, sqfs_u64 ref) {
    sqfs_meta_reader_t* reader = image.inodes.get();
    const sqfs_u64 block = ref >> 16;
    const size_t offset = ref & 0xFFFF;
    if (offset >= SQFS_META_BLOCK_SIZE ||
        sqfs_meta_reader_seek(reader, image.super.inode_table_start + block, offset) != 0)
        return nullptr;
    sqfs_inode_t base{};
    if (!readRaw(reader, base)) return nullptr;
    switch (le16toh(base.type)) {
    case SQFS_INODE_FILE: {
        sqfs_inode_file_t file{};
        if (!readRaw(reader, file) || le32toh(file.file_size) > maxEntryBytes) return nullptr;
        break;
    }
    case SQFS_INODE_EXT_FILE: {
        sqfs_inode_file_ext_t file{};
        if (!readRaw(reader, file) || le64toh(file.file_size) > maxEntryBytes) return nullptr;
        break;
    }
    case SQFS_INODE_SLINK:
    case SQFS_INODE_EXT_SLINK: {
        sqfs_inode_slink_t link{};
        if (!readRaw(reader, link) || le32toh(link.target_size) > maxLinkTarget) return nullptr;
        break;
    }
    case SQFS_INODE_EXT_DIR: {
        sqfs_inode_dir_ext_t dir{};
        if (!readRaw(reader, dir)) return nullptr;
        if (le32toh(dir.size) == 0) break;
        for (unsigned i = 0; i < le16toh(dir.inodex_count); ++i) {
            sqfs_dir_index_t index{};
            unsigned char name[SQFS_MAX_DIR_ENT];
            if (!readRaw(reader, index)) return nullptr;
            const uint32_t size = le32toh(index.size);
            if (size >= SQFS_MAX_DIR_ENT || sqfs_meta_reader_read(reader, name, size + 1) != 0) return nullptr;
        }
        break;
    }
    default: break;
    }
    sqfs_inode_generic_t* raw = nullptr;
    if (sqfs_meta_reader_read_inode(reader, &image.super, block, offset, &raw) != 0) return nullptr;
    return Inode(raw);
}

bool isDirectory(const sqfs_inode_generic_t* inode) {
    return inode->base.type == SQFS_INODE_DIR || inode->base.type == SQFS_INODE_EXT_DIR;
}
bool isFile(const sqfs_inode_generic_t* inode) {
    return inode->base.type == SQFS_INODE_FILE || inode->base.type == SQFS_INODE_EXT_FILE;
}
bool isLink(const sqfs_inode_generic_t* inode) {
    return inode->base.type == SQFS_INODE_SLINK || inode->base.type == SQFS_INODE_EXT_SLINK;
}

// Calls visit(name, inode reference) for each entry of a folder, in the
// image's (name) order, until it returns true. False when the folder cannot
// be read or nothing was chosen.
template <typename Visit> bool eachEntry(Image& image, const sqfs_inode_generic_t* folder, Visit visit) {
    if (!isDirectory(folder)) return false;
    sqfs_readdir_state_t state{};
    if (sqfs_readdir_state_init(&state, &image.super, folder) != 0) return false;
    for (int listed = 0; listed < maxListed; ++listed) {
        sqfs_dir_entry_t* raw = nullptr;
        sqfs_u64 ref = 0;
        if (sqfs_meta_reader_readdir(image.directories.get(), &state, &raw, nullptr, &ref) != 0) return false;
        DirEntry entry(raw);
        std::string name(reinterpret_cast<const char*>(entry->name), size_t(entry->size) + 1);
        if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) continue;
        if (visit(name, ref)) return true;
    }
    return false;
}

Inode child(Image& image, const sqfs_inode_generic_t* folder, std::string_view wanted) {
    sqfs_u64 found = 0;
    if (!eachEntry(image, folder, [&](const std::string& name, sqfs_u64 ref) {
            found = ref;
            return name == wanted;
        }))
        return nullptr;
    return readInode(image, found);
}

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

    Image image;
    if (!openImage(image, &file.base, file.size)) return std::nullopt;
    Inode root = readInode(image, image.super.root_inode_ref);
    if (!root) return std::nullopt;
    // The first "*.desktop" at the top, in listing order (sorted by name).
    std::string name;
    sqfs_u64 ref = 0;
    if (!eachEntry(image, root.get(), [&](const std::string& entry, sqfs_u64 at) {
            if (entry.size() <= 8 || !entry.ends_with(".desktop")) return false;
            name = entry;
            ref = at;
            return true;
        }))
        return std::nullopt;
    Inode inode = readInode(image, ref);
    if (!inode) return std::nullopt;
    if (isLink(inode.get())) {
        // Usually "usr/share/applications/x.desktop"; only paths inside the
        // image are followed, and only once.
        std::string target = linkTarget(inode.get());
        if (target.empty() || target.starts_with('/')) return std::nullopt;
        Inode at = readInode(image, image.super.root_inode_ref);
        std::string_view rest = target;
        while (at && !rest.empty()) {
            const size_t slash = rest.find('/');
            const std::string_view part = rest.substr(0, slash);
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
            if (part.empty() || part == ".") continue;
            if (part == "..") return std::nullopt;
            at = child(image, at.get(), part);
        }
        inode = std::move(at);
        if (!inode) return std::nullopt;
    }
    if (!isFile(inode.get())) return std::nullopt;
    std::optional<std::string> bytes = readFile(image.data.get(), inode.get());
    if (!bytes) return std::nullopt;
    return std::pair{std::move(*bytes), std::move(name)};
}

} // namespace

bool isAppImage(const std::string& path) {
    UniqueFd file = openImage(path);
    unsigned char head[11];
    if (file.get() < 0 || !readAt(file.get(), 0, head, sizeof head)) return false;
    return std::memcmp(head, ELFMAG, SELFMAG) == 0 && head[8] == 'A' && head[9] == 'I' && head[10] == 0x02;
}

std::optional<uint64_t> imageOffset(const std::string& path) {
    UniqueFd file = openImage(path);
    if (file.get() < 0) return std::nullopt;
    unsigned char ident[EI_NIDENT];
    if (!readAt(file.get(), 0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
    // The runtime is built for the machine it runs on: little-endian here.
    if (ident[EI_DATA] != ELFDATA2LSB) return std::nullopt;
    if (ident[EI_CLASS] == ELFCLASS64) {
        Elf64_Ehdr header;
        if (!readAt(file.get(), 0, &header, sizeof header)) return std::nullopt;
        return uint64_t(header.e_shoff) + uint64_t(header.e_shnum) * header.e_shentsize;
    }
    if (ident[EI_CLASS] == ELFCLASS32) {
        Elf32_Ehdr header;
        if (!readAt(file.get(), 0, &header, sizeof header)) return std::nullopt;
        return uint64_t(header.e_shoff) + uint64_t(header.e_shnum) * header.e_shentsize;
    }
    return std::nullopt;
}

std::optional<DesktopEntry> embeddedEntry(const std::string& path) {
    std::optional<uint64_t> offset = imageOffset(path);
    if (!offset) return std::nullopt;
    UniqueFd file = openImage(path);
    if (file.get() < 0) return std::nullopt;
    off_t end = ::lseek(file.get(), 0, SEEK_END);
    if (end <= 0 || uint64_t(end) <= *offset) return std::nullopt;
    auto bytes = entryBytes(file.get(), *offset, uint64_t(end));
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
