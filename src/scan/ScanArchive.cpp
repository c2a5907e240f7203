#include "scan/ScanArchive.h"

#include "support/Paths.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

namespace vessora::ScanArchive {

namespace {

// "\x89VSC\r\n\x1a\n": a high byte first so no text tool takes it for text,
// then line endings that a text-mode transfer would mangle visibly.
constexpr char kMagic[8] = {'\x89', 'V', 'S', 'C', '\r', '\n', '\x1a', '\n'};
constexpr size_t kMagicSize = sizeof kMagic;
// A header longer than this is damage, not a long root path.
constexpr uint64_t kMaxHeader = 1 << 20;
// The node stream of the largest tree we accept: 4 GiB.
constexpr uint64_t kMaxBody = uint64_t(1) << 32;
constexpr int kLevel = 3;

enum Kind : uint8_t { kFile = 0, kDirectory = 1, kLump = 2 };
enum Flag : uint8_t { kUnreadable = 4, kNotDescended = 8, kCloud = 16, kHasModified = 32 };

void putVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out += char(value | 0x80);
        value >>= 7;
    }
    out += char(value);
}

void putSigned(std::string& out, int64_t value) { putVarint(out, (uint64_t(value) << 1) ^ uint64_t(value >> 63)); }

void putText(std::string& out, std::string_view text) {
    putVarint(out, text.size());
    out += text;
}

uint64_t nonNegative(int64_t value) { return value < 0 ? 0 : uint64_t(value); }

// Reads what the writer above wrote; every read is bounds-checked and a
// failure sticks, so callers check once at the end of a record.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return at_ == bytes_.size(); }
    size_t offset() const { return at_; }

    uint64_t varint() {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at_ >= bytes_.size()) return fail();
            const uint8_t byte = uint8_t(bytes_[at_++]);
            if (shift == 63 && byte > 1) return fail();
            value |= uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80)) return value;
        }
        return fail();
    }
    // A count or size that must fit a signed 64-bit field.
    int64_t size() {
        const uint64_t value = varint();
        if (value > uint64_t(std::numeric_limits<int64_t>::max())) return int64_t(fail());
        return int64_t(value);
    }
    int64_t signedValue() {
        const uint64_t value = varint();
        return int64_t(value >> 1) ^ -int64_t(value & 1);
    }
    uint8_t byte() {
        if (at_ >= bytes_.size()) return uint8_t(fail());
        return uint8_t(bytes_[at_++]);
    }
    std::string_view text(size_t limit) {
        const uint64_t length = varint();
        if (!ok_ || length > limit || length > bytes_.size() - at_) {
            fail();
            return {};
        }
        std::string_view out = bytes_.substr(at_, size_t(length));
        at_ += size_t(length);
        return out;
    }

private:
    uint64_t fail() {
        ok_ = false;
        at_ = bytes_.size();
        return 0;
    }
    std::string_view bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

// A name a tree node can carry: one path component.
bool validName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

struct Header {
    SavedScanInfo info;
    std::string rootName;
    bool rootIsDirectory = true;
    uint64_t bodyLength = 0;
    size_t bodyOffset = 0; // where the compressed stream starts in the file
};

std::optional<Header> parseHeader(std::string_view bytes, std::string& error) {
    if (bytes.size() < kMagicSize || std::memcmp(bytes.data(), kMagic, kMagicSize) != 0) {
        error = "not a saved Vessora scan";
        return std::nullopt;
    }
    Reader reader(bytes.substr(kMagicSize));
    const uint64_t version = reader.varint();
    if (!reader.ok()) {
        error = "the file ends inside its header";
        return std::nullopt;
    }
    if (version != kVersion) {
        error = "saved by a version of Vessora that writes format " + std::to_string(version) +
                " (this one reads format " + std::to_string(kVersion) + ")";
        return std::nullopt;
    }
    const uint64_t headerLength = reader.varint();
    if (!reader.ok() || headerLength > kMaxHeader || headerLength > bytes.size() - kMagicSize - reader.offset()) {
        error = reader.ok() && headerLength <= kMaxHeader ? "the file ends inside its header" : "its header is damaged";
        return std::nullopt;
    }
    const size_t headerStart = kMagicSize + reader.offset();
    Reader fields(bytes.substr(headerStart, size_t(headerLength)));
    Header header;
    SavedScanInfo& info = header.info;
    info.time = fields.signedValue();
    info.root = std::string(fields.text(kMaxHeader));
    info.source = std::string(fields.text(kMaxHeader));
    header.rootName = std::string(fields.text(kMaxHeader));
    header.rootIsDirectory = fields.byte() != 0;
    info.size = fields.size();
    info.logicalSize = fields.size();
    info.fileCount = fields.size();
    info.dirCount = fields.size();
    info.nodes = fields.size();
    header.bodyLength = fields.varint();
    // Fields a later version appends are skipped: they come after these.
    if (!fields.ok() || info.root.empty() || info.root[0] != '/' || info.nodes < 1 || header.bodyLength > kMaxBody ||
        uint64_t(info.nodes) > header.bodyLength) {
        error = "its header is damaged";
        return std::nullopt;
    }
    header.bodyOffset = headerStart + size_t(headerLength);
    return header;
}

// Rebuilds the tree from the node stream. Iterative: the stored tree may be
// as deep as the folders it was made of.
FSNode::Ptr parseBody(const Header& header, std::string_view body, std::string& error) {
    Reader reader(body);
    struct Open {
        FSNode* node;
        uint64_t remaining;
    };
    std::vector<Open> stack;
    FSNode::Ptr root;
    int64_t nodes = 0;
    const int64_t scanTime = header.info.time;
    auto damaged = [&](const char* what) {
        error = std::string("its tree is damaged (") + what + ")";
        return nullptr;
    };
    while (nodes < header.info.nodes) {
        const uint8_t flags = reader.byte();
        const uint8_t kind = flags & 3;
        if (!reader.ok() || kind > kLump || (flags & ~uint8_t(63)) != 0) return damaged("an unknown kind of node");
        if (!stack.empty() && stack.back().remaining == 0) return damaged("a folder with more children than it says");
        std::string_view name;
        if (nodes > 0 && kind != kLump) {
            name = reader.text(body.size());
            if (!reader.ok() || !validName(name)) return damaged("a name that is no file name");
        }
        const int64_t size = reader.size();
        const int64_t logicalSize = reader.size();
        const int64_t fileCount = kind == kFile ? 1 : reader.size();
        const int64_t dirCount = kind == kDirectory ? reader.size() : 0;
        const uint64_t children = kind == kDirectory ? reader.varint() : 0;
        // Wrapping arithmetic, as the writer's: any stored value reads back.
        const int64_t modified =
            (flags & kHasModified) ? int64_t(uint64_t(scanTime) - uint64_t(reader.signedValue())) : 0;
        if (!reader.ok()) return damaged("it ends early");
        if (children > uint64_t(header.info.nodes - nodes - 1)) return damaged("more children than nodes");

        FSNode::Ptr node;
        FSNode* parent = stack.empty() ? nullptr : stack.back().node;
        if (!parent) {
            if (nodes > 0) return damaged("a second root");
            node = FSNode::make(header.rootName, header.info.root, header.rootIsDirectory);
            root = node;
        } else if (kind == kLump) {
            if (!parent->children().empty() && parent->children().back()->isAggregate)
                return damaged("two lumps in one folder");
            node = FSNode::makeLump(*parent, fileCount, size, logicalSize);
        } else {
            node = FSNode::makeChild(*parent, name, kind == kDirectory);
        }
        if (parent) --stack.back().remaining;
        node->size = size;
        node->logicalSize = logicalSize;
        node->fileCount = fileCount;
        node->dirCount = int32_t(std::min<int64_t>(dirCount, std::numeric_limits<int32_t>::max()));
        node->unreadable = flags & kUnreadable;
        node->isNotDescended = flags & kNotDescended;
        node->isCloudProvider = flags & kCloud;
        node->modified = modified;
        ++nodes;
        if (children > 0) stack.push_back({node.get(), children});
        while (!stack.empty() && stack.back().remaining == 0) {
            stack.back().node->compactChildren();
            stack.pop_back();
        }
    }
    if (!stack.empty() || !reader.atEnd() || !root) return damaged("its node count is wrong");
    if (root->size != header.info.size || root->fileCount != header.info.fileCount)
        return damaged("its totals disagree with its header");
    return root;
}

} // namespace

Prepared prepare(const SavedScan& scan) {
    Prepared prepared;
    SavedScanInfo& info = prepared.info;
    const FSNode& root = *scan.tree;
    info.root = scan.root;
    info.time = scan.time;
    info.source = scan.source;
    info.size = root.size;
    info.logicalSize = root.logicalSize;
    info.fileCount = root.fileCount;
    info.dirCount = root.dirCount;
    prepared.rootName = root.name();
    prepared.rootIsDirectory = root.isDirectory();
    std::string& out = prepared.body;
    out.reserve(4096);
    // Pre-order, without recursion: each node, then its children.
    std::vector<const FSNode*> work{&root};
    while (!work.empty()) {
        const FSNode& node = *work.back();
        work.pop_back();
        const uint8_t kind = node.isAggregate ? kLump : node.isDirectory() ? kDirectory : kFile;
        uint8_t flags = kind;
        if (node.unreadable) flags |= kUnreadable;
        if (node.isNotDescended) flags |= kNotDescended;
        if (node.isCloudProvider) flags |= kCloud;
        if (node.modified != 0) flags |= kHasModified;
        out += char(flags);
        if (&node != &root && kind != kLump) putText(out, node.name());
        putVarint(out, nonNegative(node.size));
        putVarint(out, nonNegative(node.logicalSize));
        if (kind != kFile) putVarint(out, nonNegative(node.fileCount));
        if (kind == kDirectory) {
            putVarint(out, nonNegative(node.dirCount));
            putVarint(out, node.children().size());
        }
        // Relative to the scan's time, most modification times are small numbers.
        if (node.modified != 0) putSigned(out, int64_t(uint64_t(scan.time) - uint64_t(node.modified)));
        ++info.nodes;
        if (kind == kDirectory)
            for (size_t i = node.children().size(); i-- > 0;) work.push_back(node.children()[i].get());
    }
    return prepared;
}

std::string finish(const Prepared& prepared) {
    const SavedScanInfo& info = prepared.info;
    std::string header;
    putSigned(header, info.time);
    putText(header, info.root);
    putText(header, info.source);
    putText(header, prepared.rootName);
    header += char(prepared.rootIsDirectory ? 1 : 0);
    putVarint(header, nonNegative(info.size));
    putVarint(header, nonNegative(info.logicalSize));
    putVarint(header, nonNegative(info.fileCount));
    putVarint(header, nonNegative(info.dirCount));
    putVarint(header, nonNegative(info.nodes));
    putVarint(header, prepared.body.size());

    std::string out(kMagic, kMagicSize);
    putVarint(out, kVersion);
    putVarint(out, header.size());
    out += header;
    const size_t start = out.size();
    out.resize(start + ZSTD_compressBound(prepared.body.size()));
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, kLevel);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    const size_t written =
        ZSTD_compress2(context, out.data() + start, out.size() - start, prepared.body.data(), prepared.body.size());
    ZSTD_freeCCtx(context);
    // The bound above makes this impossible; a failure leaves an empty
    // stream, which the reader refuses rather than misreads.
    out.resize(ZSTD_isError(written) ? start : start + written);
    return out;
}

std::string encode(const SavedScan& scan) { return finish(prepare(scan)); }

bool looksLike(std::string_view bytes) {
    return bytes.size() >= kMagicSize && std::memcmp(bytes.data(), kMagic, kMagicSize) == 0;
}

std::optional<SavedScanInfo> decodeInfo(std::string_view bytes, std::string& error) {
    std::optional<Header> header = parseHeader(bytes, error);
    if (!header) return std::nullopt;
    return header->info;
}

std::optional<SavedScan> decode(std::string_view bytes, std::string& error) {
    std::optional<Header> header = parseHeader(bytes, error);
    if (!header) return std::nullopt;
    const std::string_view stream = bytes.substr(header->bodyOffset);
    const unsigned long long content = ZSTD_getFrameContentSize(stream.data(), stream.size());
    if (content != header->bodyLength) {
        error = content == ZSTD_CONTENTSIZE_ERROR || content == ZSTD_CONTENTSIZE_UNKNOWN
                    ? "its tree is damaged (not a compressed stream)"
                    : "its tree is damaged (its length disagrees with its header)";
        return std::nullopt;
    }
    std::string body(size_t(header->bodyLength), '\0');
    const size_t got = ZSTD_decompress(body.data(), body.size(), stream.data(), stream.size());
    if (ZSTD_isError(got) || got != body.size()) {
        error = std::string("its tree is damaged (") + (ZSTD_isError(got) ? ZSTD_getErrorName(got) : "short") + ")";
        return std::nullopt;
    }
    FSNode::Ptr tree = parseBody(*header, body, error);
    if (!tree) return std::nullopt;
    return SavedScan{header->info.root, header->info.time, header->info.source, std::move(tree)};
}

namespace {

bool readWhole(const std::string& path, std::string& out, size_t limit, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        ::close(fd);
        return false;
    }
    out.resize(std::min<size_t>(size_t(st.st_size), limit));
    size_t have = 0;
    while (have < out.size()) {
        const ssize_t n = ::read(fd, out.data() + have, out.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += size_t(n);
    }
    out.resize(have);
    ::close(fd);
    return true;
}

std::string fileId(const std::string& path) { return Paths::deletingExtension(Paths::lastComponent(path)); }

} // namespace

std::optional<SavedScan> read(const std::string& path, std::string& error) {
    std::string bytes;
    if (!readWhole(path, bytes, std::numeric_limits<size_t>::max(), error)) return std::nullopt;
    return decode(bytes, error);
}

std::optional<SavedScanInfo> readInfo(const std::string& path, std::string& error) {
    std::string bytes;
    // The header sits in the first bytes; a long root path needs more.
    if (!readWhole(path, bytes, 64 * 1024, error)) return std::nullopt;
    std::optional<SavedScanInfo> info = decodeInfo(bytes, error);
    if (!info && error == "the file ends inside its header" && bytes.size() == 64 * 1024) {
        if (!readWhole(path, bytes, kMaxHeader + 64, error)) return std::nullopt;
        info = decodeInfo(bytes, error);
    }
    if (!info) return std::nullopt;
    struct stat st;
    info->file = path;
    info->id = fileId(path);
    info->fileBytes = ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : 0;
    return info;
}

bool writeFile(const std::string& path, std::string_view bytes, std::string& error, bool replace, int* errorNumber) {
    std::string temporary = Paths::parent(path) + "/." + Paths::lastComponent(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    const int writeErrno = errno;
    ::fchmod(fd, 0600);
    const bool closed = ::close(fd) == 0;
    if (done != bytes.size() || !closed) {
        error = std::strerror(done != bytes.size() ? writeErrno : errno);
        ::unlink(temporary.c_str());
        return false;
    }
    const int renamed = replace ? ::rename(temporary.c_str(), path.c_str())
                                : ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (renamed != 0) {
        if (errorNumber) *errorNumber = errno;
        error = std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace vessora::ScanArchive
