// The two ways a saved scan could be stored, measured on the same tree: the
// zstd-compressed node stream Vessora uses (at a few levels) and an SQLite
// file with one row per node. Prints size, time to write and time to read
// back into a tree, each the median of several runs.
//
// usage: bench_history_formats formats SAVED.vscan [RUNS]
//        bench_history_formats mutate SAVED.vscan OUT.vscan
//            (a copy in which about a tenth of the files grew or shrank, one
//             in fifty is gone and as many are new: a later scan to compare)

#include "scan/ScanArchive.h"
#include "scan/ScanHistory.h"

#include <sqlite3.h>
#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <unordered_map>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vessora;

namespace {

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::vector<const FSNode*> preorder(const FSNode& root) {
    std::vector<const FSNode*> out, work{&root};
    while (!work.empty()) {
        const FSNode* n = work.back();
        work.pop_back();
        out.push_back(n);
        for (size_t i = n->children().size(); i-- > 0;) work.push_back(n->children()[i].get());
    }
    return out;
}

void check(int status, sqlite3* db) {
    if (status != SQLITE_OK && status != SQLITE_DONE && status != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

// One row per node in pre-order; a node's parent is an earlier row. Settings
// in SQLite's favour: no journal, no syncing, one transaction.
void writeSqlite(const SavedScan& scan, const std::string& path) {
    ::unlink(path.c_str());
    sqlite3* db = nullptr;
    check(sqlite3_open(path.c_str(), &db), db);
    check(sqlite3_exec(db,
                       "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                       "CREATE TABLE scan(root TEXT, time INTEGER, source TEXT);"
                       "CREATE TABLE node(id INTEGER PRIMARY KEY, parent INTEGER, name BLOB, kind INTEGER, "
                       "size INTEGER, logical INTEGER, files INTEGER, dirs INTEGER, modified INTEGER);"
                       "BEGIN;",
                       nullptr, nullptr, nullptr),
          db);
    sqlite3_stmt* meta = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO scan VALUES(?,?,?)", -1, &meta, nullptr), db);
    sqlite3_bind_text(meta, 1, scan.root.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int64(meta, 2, scan.time);
    sqlite3_bind_text(meta, 3, scan.source.c_str(), -1, SQLITE_STATIC);
    check(sqlite3_step(meta), db);
    sqlite3_finalize(meta);
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO node VALUES(?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr), db);
    const std::vector<const FSNode*> nodes = preorder(*scan.tree);
    std::unordered_map<const FSNode*, int64_t> ids;
    ids.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        const FSNode& n = *nodes[i];
        ids[&n] = int64_t(i);
        const std::string name = n.isAggregate ? std::string() : n.name();
        sqlite3_bind_int64(insert, 1, int64_t(i));
        if (n.parent() && ids.count(n.parent()))
            sqlite3_bind_int64(insert, 2, ids[n.parent()]);
        else
            sqlite3_bind_null(insert, 2);
        sqlite3_bind_blob(insert, 3, name.data(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 4, n.isAggregate ? 2 : n.isDirectory() ? 1 : 0);
        sqlite3_bind_int64(insert, 5, n.size);
        sqlite3_bind_int64(insert, 6, n.logicalSize);
        sqlite3_bind_int64(insert, 7, n.fileCount);
        sqlite3_bind_int64(insert, 8, n.dirCount);
        sqlite3_bind_int64(insert, 9, n.modified);
        check(sqlite3_step(insert), db);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
}

FSNode::Ptr readSqlite(const std::string& path) {
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db);
    std::string root;
    sqlite3_stmt* meta = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT root FROM scan", -1, &meta, nullptr), db);
    if (sqlite3_step(meta) == SQLITE_ROW) root = reinterpret_cast<const char*>(sqlite3_column_text(meta, 0));
    sqlite3_finalize(meta);
    sqlite3_stmt* select = nullptr;
    check(sqlite3_prepare_v2(db,
                             "SELECT parent, name, kind, size, logical, files, dirs, modified FROM node ORDER BY id",
                             -1, &select, nullptr),
          db);
    std::vector<FSNode*> byId;
    FSNode::Ptr top;
    while (sqlite3_step(select) == SQLITE_ROW) {
        const int kind = sqlite3_column_int(select, 2);
        FSNode::Ptr node;
        if (sqlite3_column_type(select, 0) == SQLITE_NULL) {
            node = top = FSNode::make(root, root, true);
        } else {
            FSNode& parent = *byId.at(size_t(sqlite3_column_int64(select, 0)));
            if (kind == 2) {
                node = FSNode::makeLump(parent, sqlite3_column_int64(select, 5), 0, 0);
            } else {
                const auto* name = static_cast<const char*>(sqlite3_column_blob(select, 1));
                node = FSNode::makeChild(parent, std::string_view(name, size_t(sqlite3_column_bytes(select, 1))),
                                         kind == 1);
            }
        }
        node->size = sqlite3_column_int64(select, 3);
        node->logicalSize = sqlite3_column_int64(select, 4);
        node->fileCount = sqlite3_column_int64(select, 5);
        node->dirCount = int32_t(sqlite3_column_int64(select, 6));
        node->modified = sqlite3_column_int64(select, 7);
        byId.push_back(node.get());
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return top;
}

int64_t fileSize(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

int formats(const std::string& file, int runs) {
    std::string error;
    std::optional<SavedScan> scan = ScanArchive::read(file, error);
    if (!scan) {
        std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
        return 1;
    }
    const size_t nodes = preorder(*scan->tree).size();
    std::printf("tree: %zu nodes, %lld files\n\n", nodes, static_cast<long long>(scan->tree->fileCount));
    std::printf("| format | size MB | bytes per node | write s | read s |\n|---|---:|---:|---:|---:|\n");
    const std::string dir = file + ".bench";
    // The node stream at a few zstd levels (Vessora writes level 3).
    for (int level : {1, 3, 9}) {
        std::vector<double> writes, reads;
        std::string bytes;
        for (int r = 0; r < runs; ++r) {
            writes.push_back(seconds([&] {
                ScanArchive::Prepared prepared = ScanArchive::prepare(*scan);
                std::string stream(ZSTD_compressBound(prepared.body.size()), '\0');
                const size_t n =
                    ZSTD_compress(stream.data(), stream.size(), prepared.body.data(), prepared.body.size(), level);
                stream.resize(n);
                bytes = level == 3 ? ScanArchive::finish(prepared) : stream;
            }));
        }
        if (level == 3) {
            ScanArchive::writeFile(dir, bytes, error);
            for (int r = 0; r < runs; ++r) reads.push_back(seconds([&] { ScanArchive::read(dir, error); }));
        }
        std::printf("| node stream, zstd %d%s | %.2f | %.1f | %.3f | %s |\n", level, level == 3 ? " (Vessora)" : "",
                    double(bytes.size()) / 1e6, double(bytes.size()) / double(nodes), median(writes),
                    reads.empty() ? "" : std::to_string(median(reads)).substr(0, 5).c_str());
    }
    {
        std::vector<double> writes, reads;
        for (int r = 0; r < runs; ++r) writes.push_back(seconds([&] { writeSqlite(*scan, dir); }));
        for (int r = 0; r < runs; ++r) reads.push_back(seconds([&] { readSqlite(dir); }));
        const int64_t size = fileSize(dir);
        std::printf("| SQLite, one row per node | %.2f | %.1f | %.3f | %.3f |\n", double(size) / 1e6,
                    double(size) / double(nodes), median(writes), median(reads));
    }
    ::unlink(dir.c_str());
    return 0;
}

int mutate(const std::string& in, const std::string& out) {
    std::string error;
    std::optional<SavedScan> scan = ScanArchive::read(in, error);
    if (!scan) {
        std::fprintf(stderr, "%s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    std::mt19937_64 random(42);
    std::vector<FSNode*> folders;
    for (const FSNode* n : preorder(*scan->tree))
        if (n->isDirectory()) folders.push_back(const_cast<FSNode*>(n));
    // Leaves change; folders above take the difference.
    auto adjust = [](FSNode* from, int64_t bytes, int64_t files) {
        for (FSNode* n = from; n; n = n->parent()) {
            n->size += bytes;
            n->logicalSize += bytes;
            n->fileCount += files;
        }
    };
    int added = 0;
    for (FSNode* folder : folders) {
        std::vector<FSNode::Ptr> children = folder->children().toVector();
        for (const FSNode::Ptr& child : children) {
            if (child->isDirectory()) continue;
            const uint64_t roll = random() % 100;
            if (roll < 2) {
                adjust(folder, -child->size, -child->fileCount);
                folder->eraseChild(child.get());
            } else if (roll < 12) {
                const int64_t delta = int64_t(random() % 4096) * 4096 - child->size / 3;
                child->size += delta;
                child->logicalSize += delta;
                adjust(folder, delta, 0);
            }
        }
        if (random() % 50 == 0) {
            FSNode::Ptr fresh = FSNode::makeChild(*folder, "new-" + std::to_string(added++), false);
            fresh->size = fresh->logicalSize = int64_t(1 + random() % 64) << 20;
            fresh->fileCount = 1;
            adjust(folder, fresh->size, 1);
        }
    }
    scan->tree->sortRecursively();
    scan->time += 86400;
    if (!ScanArchive::writeFile(out, ScanArchive::encode(*scan), error)) {
        std::fprintf(stderr, "%s: %s\n", out.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "formats") return formats(args[1], args.size() > 2 ? std::stoi(args[2]) : 5);
    if (args.size() == 3 && args[0] == "mutate") return mutate(args[1], args[2]);
    std::fprintf(stderr, "usage: bench_history_formats formats SAVED.vscan [RUNS]\n"
                         "       bench_history_formats mutate SAVED.vscan OUT.vscan\n");
    return 2;
}
