#include "scan/ScanExport.h"

#include "scan/InodeSet.h"
#include "scan/TreeWalk.h"
#include "support/Json.h"
#include "support/JsonReader.h"
#include "support/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vessora::ScanExport {

namespace {

constexpr size_t kChunk = 1 << 20;
// Objects nested inside the metadata or an unknown key: nothing we read
// needs more; deeper is refused.
constexpr int kMaxValueDepth = 64;
// Modification times beyond some 35,000 years either way are damage.
constexpr int64_t kMaxTime = int64_t(1) << 40;
// A string of the metadata or of a key we do not read.
constexpr size_t kMaxSkippedString = 1 << 20;

struct Failure {
    std::string reason;
};

// Where the parser's bytes come from: one buffer, or a file read (and
// decompressed) a chunk at a time.
class Source {
public:
    virtual ~Source() = default;
    // The next bytes; empty at the end. Throws Failure when the input breaks.
    virtual std::string_view next() = 0;
};

class BufferSource final : public Source {
public:
    explicit BufferSource(std::string_view bytes) : bytes_(bytes) {}
    std::string_view next() override { return std::exchange(bytes_, {}); }

private:
    std::string_view bytes_;
};

class FileSource final : public Source {
public:
    explicit FileSource(int fd) : fd_(fd), in_(kChunk), out_(kChunk) {}
    ~FileSource() override {
        if (zlibOpen_) inflateEnd(&zlib_);
        if (zstd_) ZSTD_freeDStream(zstd_);
    }

    std::string_view next() override {
        if (kind_ == Kind::unknown) detect();
        if (kind_ == Kind::plain) {
            if (pending_ == inLength_) readIn();
            std::string_view chunk(in_.data() + pending_, inLength_ - pending_);
            pending_ = inLength_;
            return chunk;
        }
        return kind_ == Kind::gzip ? inflateNext() : zstdNext();
    }

private:
    enum class Kind { unknown, plain, gzip, zstd };

    size_t readIn() {
        for (;;) {
            const ssize_t n = ::read(fd_, in_.data(), in_.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw Failure{std::string("it could not be read: ") + std::strerror(errno)};
            inLength_ = size_t(n);
            pending_ = 0;
            return size_t(n);
        }
    }

    void detect() {
        // Enough bytes to see a compressed stream's magic number.
        readIn();
        while (inLength_ < 4) {
            const ssize_t n = ::read(fd_, in_.data() + inLength_, in_.size() - inLength_);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            inLength_ += size_t(n);
        }
        const auto* b = reinterpret_cast<const unsigned char*>(in_.data());
        if (inLength_ >= 2 && b[0] == 0x1f && b[1] == 0x8b) {
            kind_ = Kind::gzip;
            std::memset(&zlib_, 0, sizeof zlib_);
            if (inflateInit2(&zlib_, 15 + 16) != Z_OK) throw Failure{"its gzip stream could not be opened"};
            zlibOpen_ = true;
        } else if (inLength_ >= 4 && b[0] == 0x28 && b[1] == 0xb5 && b[2] == 0x2f && b[3] == 0xfd) {
            kind_ = Kind::zstd;
            zstd_ = ZSTD_createDStream();
            if (!zstd_) throw Failure{"its zstd stream could not be opened"};
            ZSTD_initDStream(zstd_);
        } else {
            kind_ = Kind::plain;
        }
    }

    std::string_view inflateNext() {
        for (;;) {
            if (pending_ == inLength_) {
                if (readIn() == 0) {
                    if (!streamEnded_) throw Failure{"its gzip stream ends early (the file is truncated)"};
                    return {};
                }
            }
            if (streamEnded_) {
                // Another gzip member follows (concatenated files).
                inflateReset(&zlib_);
                streamEnded_ = false;
            }
            zlib_.next_in = reinterpret_cast<Bytef*>(in_.data() + pending_);
            zlib_.avail_in = uInt(inLength_ - pending_);
            zlib_.next_out = reinterpret_cast<Bytef*>(out_.data());
            zlib_.avail_out = uInt(out_.size());
            const int status = inflate(&zlib_, Z_NO_FLUSH);
            pending_ = inLength_ - zlib_.avail_in;
            if (status == Z_STREAM_END)
                streamEnded_ = true;
            else if (status != Z_OK && status != Z_BUF_ERROR)
                throw Failure{"its gzip stream is damaged"};
            const size_t produced = out_.size() - zlib_.avail_out;
            if (produced > 0) return {out_.data(), produced};
        }
    }

    std::string_view zstdNext() {
        for (;;) {
            if (pending_ == inLength_ && readIn() == 0) {
                if (lastHint_ != 0) throw Failure{"its zstd stream ends early (the file is truncated)"};
                return {};
            }
            ZSTD_inBuffer input{in_.data(), inLength_, pending_};
            ZSTD_outBuffer output{out_.data(), out_.size(), 0};
            lastHint_ = ZSTD_decompressStream(zstd_, &output, &input);
            if (ZSTD_isError(lastHint_)) throw Failure{"its zstd stream is damaged"};
            pending_ = input.pos;
            if (output.pos > 0) return {out_.data(), output.pos};
        }
    }

    int fd_;
    std::vector<char> in_, out_;
    size_t inLength_ = 0, pending_ = 0;
    Kind kind_ = Kind::unknown;
    z_stream zlib_{};
    bool zlibOpen_ = false, streamEnded_ = false;
    ZSTD_DStream* zstd_ = nullptr;
    size_t lastHint_ = 0;
};

// What one entry of the export says about itself.
struct Info {
    std::string name;
    int64_t asize = 0, dsize = 0, mtime = 0, lump = -1;
    uint64_t dev = 0, ino = 0, nlink = 0;
    bool hasDev = false, hasIno = false, hasName = false;
    bool hlnkc = false, readError = false, notreg = false, excluded = false, cloud = false;
    void clear() {
        name.clear();
        asize = dsize = mtime = 0;
        lump = -1;
        dev = ino = nlink = 0;
        hasDev = hasIno = hasName = false;
        hlnkc = readError = notreg = excluded = cloud = false;
    }
};

class Parser {
public:
    Parser(Source& source, const Limits& limits) : source_(source), limits_(limits) {}

    SavedScan run() {
        ws();
        if (peek() != '[') fail("it is not a scan export (it does not start with '[')");
        get();
        ws();
        const int64_t major = integer();
        expectComma();
        const int64_t minor = integer();
        if (major != 1) fail("it is written in version " + std::to_string(major) + " of the format, not 1");
        if (minor < 0 || minor > 10000) fail("its minor version is out of range");
        expectComma();
        metadata();
        expectComma();
        if (peek() != '[') fail("its top folder is missing");
        get();
        tree();
        ws();
        expect(']');
        ws();
        if (peek() != kEnd) fail("it goes on after its end");
        scan_.root = rootPath_;
        return std::move(scan_);
    }

private:
    static constexpr int kEnd = -1;

    struct Frame {
        FSNode* node;
        uint64_t dev;
        int64_t size = 0, logical = 0, files = 0, dirs = 0;
        int64_t smallBytes = 0, smallLogical = 0, smallCount = 0;
        int64_t smallNewest = INT64_MIN; // none yet
    };

    [[noreturn]] void fail(const std::string& reason) {
        throw Failure{reason + " (at byte " + std::to_string(consumed()) + ")"};
    }

    size_t consumed() const { return base_ + size_t(at_ - chunk_.data()); }

    bool refill() {
        base_ += chunk_.size();
        chunk_ = source_.next();
        at_ = chunk_.data();
        end_ = at_ + chunk_.size();
        return !chunk_.empty();
    }
    int peek() {
        if (at_ == end_ && !refill()) return kEnd;
        return static_cast<unsigned char>(*at_);
    }
    int get() {
        const int c = peek();
        if (c != kEnd) ++at_;
        return c;
    }
    void ws() {
        for (;;) {
            while (at_ < end_ && (*at_ == ' ' || *at_ == '\n' || *at_ == '\r' || *at_ == '\t')) ++at_;
            if (at_ < end_ || !refill()) return;
        }
    }
    void expect(char c) {
        const int got = get();
        if (got == c) return;
        if (got == kEnd) fail("it ends before it is complete (the file is truncated)");
        fail(std::string("'") + c + "' was expected");
    }
    void expectComma() {
        ws();
        expect(',');
        ws();
    }

    // A JSON whole number's digits (a fraction or exponent is refused: every
    // number of the format is whole).
    uint64_t unsignedInteger() {
        uint64_t value = 0;
        int digits = 0;
        for (int c = peek(); c >= '0' && c <= '9'; c = peek()) {
            get();
            if (value > (UINT64_MAX - uint64_t(c - '0')) / 10) fail("a number is out of range");
            value = value * 10 + uint64_t(c - '0');
            ++digits;
        }
        if (digits == 0) fail("a number was expected");
        const int c = peek();
        if (c == '.' || c == 'e' || c == 'E') fail("a number is not a whole number");
        return value;
    }

    // The same with a sign; `negativeAllowed` for times before 1970.
    int64_t integer(bool negativeAllowed = true) {
        bool negative = false;
        if (peek() == '-') {
            get();
            negative = true;
        }
        const uint64_t value = unsignedInteger();
        if (negative && !negativeAllowed) fail("a size is negative");
        if (value > uint64_t(INT64_MAX)) fail("a number is out of range");
        return negative ? -int64_t(value) : int64_t(value);
    }

    int64_t size() {
        const int64_t value = integer(false);
        if (value > limits_.entrySize) fail("a size is out of range");
        return value;
    }

    // A string's bytes into `out` (the opening quote already read). Names are
    // bytes: what the writer put there raw (any byte but control characters)
    // stays as it is; \udcXX stands for the raw byte XX, as our own JSON
    // output writes bytes that are not UTF-8. `what` names it in a refusal.
    void string(std::string& out, size_t limit, const char* what = "a name") {
        out.clear();
        for (;;) {
            // The common case: a run of plain bytes in the buffer.
            const char* start = at_;
            while (at_ < end_ && *at_ != '"' && *at_ != '\\' && static_cast<unsigned char>(*at_) >= 0x20) ++at_;
            out.append(start, size_t(at_ - start));
            if (out.size() > limit) fail(std::string(what) + " is longer than " + std::to_string(limit) + " bytes");
            const int c = get();
            if (c == '"') return;
            if (c == kEnd) fail("it ends inside a string (the file is truncated)");
            if (c < 0x20) fail("a string holds a control character");
            if (c != '\\') {
                out += char(c);
                continue;
            }
            switch (readJsonEscape([this] { return get(); }, out)) {
            case JsonEscapeError::none: break;
            case JsonEscapeError::end: fail("it ends inside a string (the file is truncated)");
            case JsonEscapeError::unknown: fail("a string holds an unknown escape");
            case JsonEscapeError::notHex: fail("a \\u escape is not four hex digits");
            case JsonEscapeError::halfCharacter: fail("a \\u escape is half a character");
            }
        }
    }

    // An object member's key and its colon.
    void key(std::string& out, size_t limit) {
        ws();
        expect('"');
        string(out, limit, "a key");
        ws();
        expect(':');
        ws();
    }

    // Any JSON value, read and dropped, without recursion; nesting is capped.
    void skipValue() {
        std::vector<char> open;
        for (;;) {
            ws();
            int c = get();
            bool complete = true; // a whole value was read (not a container opened)
            if (c == '{' || c == '[') {
                if (open.size() >= size_t(kMaxValueDepth)) fail("a value is nested too deeply");
                ws();
                if (peek() == (c == '{' ? '}' : ']')) {
                    get();
                } else {
                    open.push_back(char(c));
                    if (c == '{') key(scratch_, limits_.nameBytes);
                    complete = false;
                }
            } else if (c == '"') {
                string(scratch_, kMaxSkippedString, "a value");
            } else if (c == 't' || c == 'f' || c == 'n') {
                const char* rest = c == 't' ? "rue" : c == 'f' ? "alse" : "ull";
                for (const char* w = rest; *w; ++w)
                    if (get() != *w) fail("true, false or null was expected");
            } else if (c == '-' || (c >= '0' && c <= '9')) {
                for (c = peek(); (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
                     c = peek())
                    get();
            } else if (c == kEnd) {
                fail("it ends before it is complete (the file is truncated)");
            } else {
                fail("a value was expected");
            }
            if (!complete) continue;
            // After a value: close containers, or go on to the next element.
            for (;;) {
                if (open.empty()) return;
                ws();
                c = get();
                if (c == ',') {
                    if (open.back() == '{') key(scratch_, limits_.nameBytes);
                    break;
                }
                if (c == (open.back() == '{' ? '}' : ']')) {
                    open.pop_back();
                    continue;
                }
                fail(c == kEnd ? "it ends before it is complete (the file is truncated)" : "',' was expected");
            }
        }
    }

    // A number where the format has one but other writers may put a
    // fraction: the whole part, or 0 for anything stranger.
    int64_t looseInteger() {
        bool negative = false;
        if (peek() == '-') {
            get();
            negative = true;
        }
        int64_t value = 0;
        bool overflow = false;
        for (int c = peek(); c >= '0' && c <= '9'; c = peek()) {
            get();
            overflow |= __builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, c - '0', &value);
        }
        for (int c = peek(); (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
             c = peek()) {
            get();
            overflow = true;
        }
        return overflow ? 0 : negative ? -value : value;
    }

    // After an object's member: true at the object's closing brace, false
    // at the comma before the next member; anything else fails with `what`.
    bool lastMember(const char* what) {
        ws();
        const int c = get();
        if (c == '}') return true;
        if (c != ',') fail(c == kEnd ? "it ends before it is complete (the file is truncated)" : what);
        return false;
    }

    void metadata() {
        // Only three keys matter; the rest of the object is skipped.
        expect('{');
        ws();
        if (peek() == '}') {
            get();
            return;
        }
        std::string progname, progver;
        for (;;) {
            key(key_, 256);
            if (key_ == "timestamp" && (peek() == '-' || (peek() >= '0' && peek() <= '9'))) {
                scan_.time = looseInteger();
            } else if ((key_ == "progname" || key_ == "progver") && peek() == '"') {
                get();
                string(key_ == "progname" ? progname : progver, 256);
            } else {
                skipValue();
            }
            if (lastMember("',' was expected in the metadata")) break;
        }
        scan_.source = progname.empty() ? "an unknown program" : progname;
        if (!progver.empty()) scan_.source += " " + progver;
    }

    bool boolean() {
        const int c = peek();
        if (c == 't' || c == 'f') {
            const char* word = c == 't' ? "true" : "false";
            for (const char* w = word; *w; ++w)
                if (get() != *w) fail("true or false was expected");
            return c == 't';
        }
        skipValue();
        return false;
    }

    void info(Info& out) {
        out.clear();
        ws();
        expect('{');
        ws();
        if (peek() == '}') fail("an entry has no name");
        for (;;) {
            key(key_, 64);
            const std::string& k = key_;
            if (k == "name") {
                if (peek() != '"') fail("a name is not a string");
                get();
                string(out.name, limits_.nameBytes);
                out.hasName = true;
            } else if (k == "asize") {
                out.asize = size();
            } else if (k == "dsize") {
                out.dsize = size();
            } else if (k == "dev") {
                out.dev = unsignedInteger();
                out.hasDev = true;
            } else if (k == "ino") {
                out.ino = unsignedInteger();
                out.hasIno = true;
            } else if (k == "nlink") {
                out.nlink = unsignedInteger();
            } else if (k == "mtime") {
                out.mtime = integer();
                if (out.mtime > kMaxTime || out.mtime < -kMaxTime) fail("a time is out of range");
            } else if (k == "vessora_lump") {
                out.lump = integer(false);
                if (out.lump < 1) fail("a lump of small files holds none");
            } else if (k == "hlnkc") {
                out.hlnkc = boolean();
            } else if (k == "read_error") {
                out.readError = boolean();
            } else if (k == "notreg") {
                out.notreg = boolean();
            } else if (k == "vessora_cloud") {
                out.cloud = boolean();
            } else if (k == "excluded") {
                // "pattern", "otherfs", "kernfs", "frmlnk" and whatever comes
                // next: all mean listed but not counted.
                skipValue();
                out.excluded = true;
            } else {
                skipValue();
            }
            if (lastMember("',' was expected between an entry's fields")) break;
        }
        if (!out.hasName) fail("an entry has no name");
    }

    void checkName(const std::string& name) {
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
            name.find('\0') != std::string::npos)
            fail("an entry's name is not a file name");
    }

    void add(int64_t& total, int64_t value) {
        if (__builtin_add_overflow(total, value, &total)) fail("its sizes add up beyond what can be counted");
    }

    void countNode() {
        if (++nodes_ > limits_.nodes)
            fail("it holds more than " + std::to_string(limits_.nodes) + " folders and large files");
    }

    void openFolder(const Info& entry) {
        FSNode::Ptr node;
        uint64_t dev = entry.hasDev ? entry.dev : stack_.empty() ? 0 : stack_.back().dev;
        if (stack_.empty()) {
            if (entry.name.empty() || entry.name[0] != '/') fail("its top folder is not an absolute path");
            rootPath_ = Paths::standardize(entry.name);
            node = FSNode::make(Paths::lastComponent(rootPath_), rootPath_, true);
            scan_.tree = node;
        } else {
            checkName(entry.name);
            if (int(stack_.size()) >= limits_.depth)
                fail("its folders are nested deeper than " + std::to_string(limits_.depth) + " levels");
            node = FSNode::makeChild(*stack_.back().node, entry.name, true);
        }
        countNode();
        node->modified = entry.mtime;
        node->unreadable = entry.readError;
        node->isNotDescended = entry.excluded;
        node->isCloudProvider = entry.excluded && entry.cloud;
        stack_.push_back(Frame{node.get(), dev});
    }

    void closeFolder() {
        Frame frame = stack_.back();
        stack_.pop_back();
        FSNode& node = *frame.node;
        if (frame.smallCount > 0) {
            FSNode::makeLump(node, frame.smallCount, frame.smallBytes, frame.smallLogical)->modified =
                frame.smallNewest == INT64_MIN ? 0 : frame.smallNewest;
            countNode();
        }
        node.compactChildren();
        node.size = frame.size;
        node.logicalSize = frame.logical;
        node.fileCount = frame.files;
        node.dirCount = int32_t(std::min<int64_t>(frame.dirs, INT32_MAX));
        if (stack_.empty()) return;
        Frame& parent = stack_.back();
        add(parent.size, frame.size);
        add(parent.logical, frame.logical);
        add(parent.files, frame.files);
        parent.dirs += frame.dirs + 1;
    }

    void entry(const Info& e) {
        Frame& frame = stack_.back();
        checkName(e.name);
        if (e.excluded) {
            FSNode::Ptr node = FSNode::makeChild(*frame.node, e.name, true);
            node->isNotDescended = true;
            node->isCloudProvider = e.cloud;
            node->unreadable = e.readError;
            node->modified = e.mtime;
            countNode();
            frame.dirs += 1;
            return;
        }
        if (e.readError) {
            // Not even its status could be read: counted nowhere, and the
            // folder holding it is partly unreadable.
            frame.node->unreadable = true;
            return;
        }
        if (e.lump >= 0) {
            add(frame.size, e.dsize);
            add(frame.logical, e.asize);
            add(frame.files, e.lump);
            add(frame.smallBytes, e.dsize);
            add(frame.smallLogical, e.asize);
            add(frame.smallCount, e.lump);
            frame.smallNewest = std::max(frame.smallNewest, e.mtime);
            return;
        }
        // A regular file with several links counts at its first link only.
        if (!e.notreg && e.hasIno && (e.hlnkc || e.nlink > 1)) {
            const uint64_t dev = e.hasDev ? e.dev : frame.dev;
            if (!links_.insert(InodeSet::key(dev, e.ino)).second) return;
        }
        add(frame.size, e.dsize);
        add(frame.logical, e.asize);
        add(frame.files, 1);
        // As in a scan, every item at the top gets a row of its own.
        if (e.dsize < limits_.smallFileThreshold && stack_.size() > 1) {
            frame.smallBytes += e.dsize;
            frame.smallLogical += e.asize;
            frame.smallCount += 1;
            frame.smallNewest = std::max(frame.smallNewest, e.mtime);
            return;
        }
        FSNode::Ptr file = FSNode::makeChild(*frame.node, e.name, false);
        file->size = e.dsize;
        file->logicalSize = e.asize;
        file->fileCount = 1;
        file->modified = e.mtime;
        countNode();
    }

    // The top folder's array (its '[' read) and everything inside, without
    // recursion: each '[' opens a folder, each ']' closes one.
    void tree() {
        info(entry_);
        openFolder(entry_);
        while (!stack_.empty()) {
            ws();
            const int c = get();
            if (c == ']') {
                closeFolder();
                continue;
            }
            if (c != ',') {
                if (c == kEnd) fail("it ends before its last folder is closed (the file is truncated)");
                fail("',' or ']' was expected after an entry");
            }
            ws();
            const int next = peek();
            if (next == '[') {
                get();
                info(entry_);
                openFolder(entry_);
            } else if (next == '{') {
                info(entry_);
                entry(entry_);
            } else {
                fail(next == kEnd ? "it ends before its last folder is closed (the file is truncated)"
                                  : "a folder or an entry was expected");
            }
        }
    }

    Source& source_;
    const Limits& limits_;
    std::string_view chunk_;
    const char* at_ = nullptr;
    const char* end_ = nullptr;
    size_t base_ = 0;
    std::string key_, scratch_;
    Info entry_;
    std::vector<Frame> stack_;
    std::unordered_set<uint64_t> links_;
    int64_t nodes_ = 0;
    std::string rootPath_;
    SavedScan scan_;
};

std::optional<SavedScan> parseFrom(Source& source, std::string& error, const Limits& limits) {
    try {
        Parser parser(source, limits);
        return parser.run();
    } catch (const Failure& failure) {
        error = failure.reason;
        return std::nullopt;
    }
}

void appendNumber(std::string& out, const char* key, int64_t value) {
    out += key;
    out += std::to_string(value);
}

void appendInfo(std::string& out, const FSNode& node, std::string_view name) {
    out += "{\"name\":";
    JsonWriter::appendQuoted(out, name, true);
    if (node.isNotDescended) {
        out += ",\"excluded\":\"otherfs\"";
        if (node.isCloudProvider) out += ",\"vessora_cloud\":true";
    } else if (!node.isDirectory()) {
        appendNumber(out, ",\"asize\":", std::max<int64_t>(0, node.logicalSize));
        appendNumber(out, ",\"dsize\":", std::max<int64_t>(0, node.size));
    }
    if (node.unreadable) out += ",\"read_error\":true";
    if (node.modified != 0) appendNumber(out, ",\"mtime\":", node.modified);
    if (node.isAggregate) appendNumber(out, ",\"vessora_lump\":", std::max<int64_t>(0, node.fileCount));
    out += '}';
}

} // namespace

std::optional<SavedScan> parse(std::string_view bytes, std::string& error, const Limits& limits) {
    BufferSource source(bytes);
    return parseFrom(source, error, limits);
}

std::optional<SavedScan> importFile(const std::string& path, std::string& error, const Limits& limits) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat st;
    const bool haveStat = ::fstat(fd, &st) == 0;
    if (!standardInput && haveStat && S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = "it is a folder";
        return std::nullopt;
    }
    std::optional<SavedScan> scan;
    try {
        FileSource source(fd);
        scan = parseFrom(source, error, limits);
    } catch (const Failure& failure) {
        error = failure.reason;
    }
    if (!standardInput) ::close(fd);
    // An export without a time was made when its file was written.
    if (scan && scan->time == 0 && haveStat && !standardInput) scan->time = st.st_mtime;
    return scan;
}

bool looksLike(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\t')) ++i;
    if (i < bytes.size() && bytes[i] == '[') return true;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && b[0] == 0x1f && b[1] == 0x8b) return true;
    return bytes.size() >= 4 && b[0] == 0x28 && b[1] == 0xb5 && b[2] == 0x2f && b[3] == 0xfd;
}

std::string write(const SavedScan& scan, std::string_view version) {
    std::string out = "[1,2,{\"progname\":\"vessora\",\"progver\":";
    JsonWriter::appendQuoted(out, version, true);
    appendNumber(out, ",\"timestamp\":", scan.time);
    out += "},\n[";
    walkTree(
        *scan.tree,
        [&](const FSNode& node, size_t depth, size_t) {
            if (depth == 0) {
                appendInfo(out, node, scan.root);
                return TreeStep::descend;
            }
            out += ",\n";
            // A folder that was listed is an array even when it was not
            // entered, so that its listed children stay below it.
            if (node.isDirectory() && (!node.isNotDescended || !node.children().empty())) {
                out += '[';
                appendInfo(out, node, node.name());
                return TreeStep::descend;
            }
            appendInfo(out, node, node.name());
            return TreeStep::skip;
        },
        [&](const FSNode&, size_t) { out += ']'; });
    out += "]\n";
    return out;
}

bool exportFile(const SavedScan& scan, std::string_view version, const std::string& path, std::string& error) {
    const std::string text = write(scan, version);
    if (path == "-") {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(1, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = std::strerror(errno);
                return false;
            }
            done += size_t(n);
        }
        return true;
    }
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0) {
        gzFile file = gzopen(path.c_str(), "wb");
        if (!file) {
            error = std::strerror(errno ? errno : ENOMEM);
            return false;
        }
        size_t done = 0;
        bool ok = true;
        while (ok && done < text.size()) {
            const unsigned piece = unsigned(std::min<size_t>(text.size() - done, 1 << 30));
            ok = gzwrite(file, text.data() + done, piece) == int(piece);
            done += piece;
        }
        if (gzclose(file) != Z_OK) ok = false;
        if (!ok) error = "it could not be written";
        return ok;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace vessora::ScanExport
