#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "scan/DiskScanner.h"
#include "scan/ScanExport.h"
#include "scan/ScanHistory.h"
#include "scan/TreeWalk.h"
#include "support/Fmt.h"
#include "support/Json.h"
#include "support/Paths.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>

namespace vessora::cli {

namespace {

const char* const kScanUsage =
    "scan PATH [--json] [--top N] [--depth D] [--save] [--export FILE] | scan --import FILE [--json] [--top N] "
    "[--depth D] [--save] [--export FILE]";
const char* const kSizeUsage = "size PATH...";

std::optional<int64_t> parseCount(const std::string& text, int64_t minimum) {
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < minimum) return std::nullopt;
    return value;
}

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void reportMissing(const std::string& path) {
    std::fprintf(stderr, "vessora: %s: no such file or directory\n", printable(path).c_str());
}

// Watches for Ctrl-C while `work` runs (calling `onInterrupt` once) and, on a
// terminal, redraws `progress()` five times a second.
class Watcher {
public:
    Watcher(std::function<std::string()> progress, std::function<void()> onInterrupt)
        : progress_(std::move(progress)), onInterrupt_(std::move(onInterrupt)), interrupted_(installInterruptFlag()),
          draw_(stderrIsTerminal() && progress_), thread_([this] { loop(); }) {}

    ~Watcher() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
        if (draw_) progressLine({});
    }

    bool interrupted() const { return interrupted_.load(); }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        bool told = false;
        for (int tick = 0; !done_; ++tick) {
            if (!told && interrupted_.load()) {
                told = true;
                onInterrupt_();
            }
            if (draw_ && tick % 4 == 0) progressLine(progress_());
            wake_.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

    std::function<std::string()> progress_;
    std::function<void()> onInterrupt_;
    std::atomic<bool>& interrupted_;
    const bool draw_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// Plain printable ASCII needs no escaping; anything else goes through
// JsonWriter::quote (which writes undecodable bytes as \udcXX).
bool plainJsonText(std::string_view text) {
    bool plain = true;
    for (unsigned char c : text) plain &= c >= 0x20 && c < 0x7f && c != '"' && c != '\\';
    return plain;
}

// Standard output's buffer for a long text: the room a piece needs is made
// once (flushing, or growing for a piece larger than the buffer), and the
// piece is then copied in through a pointer without further checks.
class OutputBuffer {
public:
    explicit OutputBuffer(size_t flushAt)
        : flushAt_(flushAt), data_(new char[flushAt + kSlack]), size_(flushAt + kSlack) {
        at_ = data_.get();
    }
    ~OutputBuffer() { flush(); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // Makes room for `bytes` more.
    void room(size_t bytes) {
        if (size_t(data_.get() + size_ - at_) >= bytes) return;
        flush();
        if (bytes <= size_) return;
        data_.reset(new char[bytes]);
        size_ = bytes;
        at_ = data_.get();
    }
    // After room was made:
    template <size_t N> void literal(const char (&text)[N]) {
        std::memcpy(at_, text, N - 1);
        at_ += N - 1;
    }
    void text(std::string_view bytes) {
        std::memcpy(at_, bytes.data(), bytes.size());
        at_ += bytes.size();
    }
    void character(char c) { *at_++ = c; }
    // JSON text already quoted and escaped, or plain text that needs quotes only.
    void string(std::string_view text, bool plain) {
        if (plain) character('"');
        this->text(text);
        if (plain) character('"');
    }
    // A field name (fixed text) and its value.
    template <size_t N> void number(const char (&key)[N], int64_t value) {
        literal(key);
        at_ = std::to_chars(at_, at_ + kNumber, value).ptr;
    }
    template <size_t N> void flag(const char (&key)[N], bool value) {
        literal(key);
        if (value)
            literal("true");
        else
            literal("false");
    }
    // Written out once the buffer holds its flushing size.
    void flushIfFull() {
        if (size_t(at_ - data_.get()) >= flushAt_) flush();
    }
    void flush() {
        writeOut(std::string_view(data_.get(), size_t(at_ - data_.get())));
        at_ = data_.get();
    }

    static constexpr size_t kNumber = 20; // the longest int64_t in digits, with its sign

private:
    static constexpr size_t kSlack = 8 << 10;
    const size_t flushAt_;
    std::unique_ptr<char[]> data_;
    size_t size_;
    char* at_;
};

// The tree down to `depth` levels below the root (the nodes at the last level
// keep their sizes and counts, with no children listed), one node after
// another without recursion (trees may be tens of thousands of levels deep),
// flushed to standard output as it grows. Field names are fixed text; a path
// is known to be plain when its parent's was and its own name is. The buffer
// is allocated once at its flushing size plus room for a node or two, since it
// counts towards the scan's peak memory.
void writeJson(const FSNode& root, int64_t depth) {
    // A node's text apart from its name and path: field names, four numbers
    // and five flags.
    constexpr size_t kNodeText = 256 + 4 * OutputBuffer::kNumber;
    OutputBuffer out(64 << 10);
    std::string path = root.path();
    // Per open node: the length of the path before its name was added, and
    // whether the path is plain.
    struct Open {
        size_t pathLength;
        bool plainPath;
    };
    std::vector<Open> open;
    std::string lumpName, quotedName, quotedPath;
    // After every node entered as well as left: a chain of nested folders
    // enters thousands before it leaves one.
    auto close = [&] {
        out.room(2);
        out.literal("]}");
        path.resize(open.back().pathLength);
        open.pop_back();
        out.flushIfFull();
    };
    walkTree(
        root,
        [&](const FSNode& node, size_t level, size_t index) {
            const size_t length = path.size();
            const std::string_view name = node.name(lumpName);
            const bool plainName = plainJsonText(name);
            bool plainPath = open.empty() ? plainJsonText(path) : open.back().plainPath;
            if (&node != &root && !node.isAggregate) {
                if (!path.empty() && path.back() != '/') path += '/';
                path += name;
                plainPath = plainPath && plainName;
            }
            // Names and paths that need escaping are quoted first, so that
            // their length is known.
            if (!plainName) quotedName = JsonWriter::quote(name);
            if (!plainPath) quotedPath = JsonWriter::quote(path);
            const std::string_view nameText = plainName ? name : std::string_view(quotedName);
            const std::string_view pathText = plainPath ? std::string_view(path) : std::string_view(quotedPath);
            out.room(kNodeText + nameText.size() + pathText.size());
            if (index > 0) out.character(',');
            out.literal("{\"name\":");
            out.string(nameText, plainName);
            out.literal(",\"path\":");
            out.string(pathText, plainPath);
            out.flag(",\"isDirectory\":", node.isDirectory());
            out.number(",\"size\":", node.size);
            out.number(",\"logicalSize\":", node.logicalSize);
            out.number(",\"fileCount\":", node.fileCount);
            out.number(",\"dirCount\":", node.dirCount);
            out.flag(",\"isAggregate\":", node.isAggregate);
            out.flag(",\"unreadable\":", node.unreadable);
            out.flag(",\"isNotDescended\":", node.isNotDescended);
            out.flag(",\"isCloudProvider\":", node.isCloudProvider);
            out.literal(",\"children\":[");
            open.push_back({length, plainPath});
            // Nodes at the last level keep their sizes and counts and list no
            // children.
            if (int64_t(level) < depth) {
                out.flushIfFull();
                return TreeStep::descend;
            }
            close();
            return TreeStep::skip;
        },
        [&](const FSNode&, size_t) { close(); });
    out.room(1);
    out.character('\n');
}

std::string marks(const FSNode& node) {
    std::string text;
    if (node.isCloudProvider)
        text += "  [skipped: cloud provider]";
    else if (node.isNotDescended)
        text += "  [skipped: system-managed]";
    if (node.unreadable) text += "  [unreadable]";
    return text;
}

std::string sizeColumn(int64_t bytes) {
    std::string text = Fmt::bytes(bytes);
    if (text.size() < 10) text.insert(0, 10 - text.size(), ' ');
    return text;
}

// The largest `top` children of each directory down to `depth` levels.
void writeText(const FSNode& root, int64_t top, int64_t depth) {
    std::string out = printable(root.name()) + "  " + printable(root.path()) + "\n";
    out += Fmt::bytes(root.size) + " allocated, " + Fmt::counted(root.fileCount, "file") + ", " +
           Fmt::counted(root.dirCount, "folder") + marks(root) + "\n";
    walkTree(
        root,
        [&](const FSNode& node, size_t level, size_t index) {
            if (level == 0) return TreeStep::descend;
            if (index >= size_t(top)) return TreeStep::skipRest;
            out += std::string(2 * level, ' ') + sizeColumn(node.size) + "  " + printable(node.name()) +
                   (node.isDirectory() ? "/" : "") + marks(node) + "\n";
            return node.isDirectory() && !node.children().empty() && int64_t(level) < depth ? TreeStep::descend
                                                                                            : TreeStep::skip;
        },
        [&](const FSNode& node, size_t level) {
            const auto& children = node.children();
            if (children.size() <= size_t(top)) return;
            int64_t rest = 0;
            for (size_t i = size_t(top); i < children.size(); ++i) rest += children[i]->size;
            out += std::string(2 * (level + 1), ' ') + sizeColumn(rest) + "  (" +
                   Fmt::count(int64_t(children.size()) - top) + " more)\n";
        });
    writeOut(out);
}

// --save, --export, then the tree as usual (unless the export took
// standard output).
int keepAndShow(const SavedScan& scan, const ParsedArguments& parsed, int64_t top, int64_t depth, int64_t jsonDepth) {
    int status = 0;
    if (parsed.has("--save")) {
        std::string error;
        if (auto saved = ScanHistory::save(scan, ScanHistory::defaultFolder(), error))
            std::fprintf(stderr, "Saved as %s\n", saved->id.c_str());
        else {
            std::fprintf(stderr, "vessora: the scan could not be saved: %s\n", error.c_str());
            status = 1;
        }
    }
    const std::optional<std::string> exportTo = parsed.value("--export");
    if (exportTo) {
        std::string error;
        if (!ScanExport::exportFile(scan, VESSORA_VERSION, *exportTo, error)) {
            std::fprintf(stderr, "vessora: %s: the export could not be written: %s\n", printable(*exportTo).c_str(),
                         error.c_str());
            status = 1;
        }
        if (*exportTo == "-") return status;
    }
    if (parsed.has("--json"))
        writeJson(*scan.tree, jsonDepth);
    else
        writeText(*scan.tree, top, depth);
    return status;
}

int importCommand(const std::string& file, const ParsedArguments& parsed, int64_t top, int64_t depth,
                  int64_t jsonDepth) {
    std::string error;
    std::optional<SavedScan> scan = ScanHistory::load(file, error);
    if (!scan) {
        std::fprintf(stderr, "vessora: %s: cannot be read (%s)\n", printable(file).c_str(), error.c_str());
        return 1;
    }
    scan->tree->sortRecursively();
    return keepAndShow(*scan, parsed, top, depth, jsonDepth);
}

} // namespace

int scanCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {"--json", "--save"}, {"--top", "--depth", "--import", "--export"});
    if (!parsed.error.empty()) return usageError(kScanUsage, parsed.error);
    const std::optional<std::string> import = parsed.value("--import");
    if (import && !parsed.positional.empty()) return usageError(kScanUsage, "scan --import takes no path");
    if (!import && parsed.positional.size() != 1) return usageError(kScanUsage, "scan needs exactly one path");
    int64_t top = 10, depth = 2;
    // JSON holds the whole tree unless a depth is asked for.
    int64_t jsonDepth = INT64_MAX;
    if (auto v = parsed.value("--top")) {
        auto n = parseCount(*v, 1);
        if (!n) return usageError(kScanUsage, "--top needs a positive whole number");
        top = *n;
    }
    if (auto v = parsed.value("--depth")) {
        auto n = parseCount(*v, 0);
        if (!n) return usageError(kScanUsage, "--depth needs a whole number");
        depth = jsonDepth = *n;
    }
    if (import) return importCommand(*import, parsed, top, depth, jsonDepth);
    const std::string& path = parsed.positional[0];
    if (!pathExists(Paths::standardize(path))) {
        reportMissing(path);
        return 1;
    }

    ScanStats stats;
    FSNode::Ptr root;
    bool interrupted;
    {
        Watcher watcher(
            [&] {
                ScanStats::Snapshot s = stats.snapshot();
                return "Scanning: " + Fmt::counted(s.files, "file") + ", " + Fmt::bytes(s.bytes) + "  " +
                       printable(s.current);
            },
            [&] { stats.cancel(); });
        root = DiskScanner::scan(path, ScanOptions{}, stats);
        interrupted = watcher.interrupted();
    }
    if (interrupted) return 130;
    // A folder that cannot be read is an error, not an empty folder.
    if (root->unreadable && root->children().empty() && root->isDirectory()) {
        std::fprintf(stderr, "vessora: %s: cannot be read\n", printable(path).c_str());
        return 1;
    }
    // The process ends soon after: a tree of a million files is left to the
    // exit rather than returned to the allocator node by node, which takes
    // about as long as writing it out. It stays reachable from here, so leak
    // checkers do not count it.
    static FSNode::Ptr* const kept = new FSNode::Ptr;
    *kept = root;
    // Saved scans are kept and listed by the folder's absolute path.
    const SavedScan scan{standardPath(root->path()), int64_t(std::time(nullptr)),
                         std::string("Vessora ") + VESSORA_VERSION, root};
    return keepAndShow(scan, parsed, top, depth, jsonDepth);
}

int sizeCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {}, {});
    if (!parsed.error.empty()) return usageError(kSizeUsage, parsed.error);
    if (parsed.positional.empty()) return usageError(kSizeUsage, "size needs at least one path");
    int status = 0;
    Watcher watcher(nullptr, [] {});
    ScanOptions options;
    // A file with several names counts once, at the first name met, across
    // all the paths, as du does.
    DiskScanner::CountedLinks links;
    for (const std::string& path : parsed.positional) {
        if (!pathExists(path)) {
            reportMissing(path);
            status = 1;
            continue;
        }
        int64_t bytes = DiskScanner::quickSize(
            path, options, [&] { return watcher.interrupted(); }, &links);
        if (watcher.interrupted()) return 130;
        writeOut(std::to_string(bytes) + "\t" + Fmt::bytes(bytes) + "\t" + printable(path) + "\n");
    }
    return status;
}

} // namespace vessora::cli
