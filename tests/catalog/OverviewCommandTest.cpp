// The command-line tool run for real against a home folder made by the test.

#include "catalog/CleanupCatalog.h"
#include "catalog/StorageCategories.h"
#include "support/Fmt.h"
#include "CatalogFixture.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vessora;

namespace {

std::string str(const QJsonValue& v) { return v.toString().toStdString(); }
int64_t num(const QJsonValue& v) { return v.toInteger(); }

// The array's strings, or with `key` that member of each of its objects.
std::vector<std::string> strings(const QJsonValue& v, const char* key = nullptr) {
    std::vector<std::string> out;
    for (const QJsonValue& item : v.toArray()) out.push_back(str(key ? item.toObject().value(key) : item));
    return out;
}

QJsonObject runJson(const std::string& command) {
    std::string output;
    EXPECT_EQ(test::runCli({command, "--json"}, &output), 0) << output;
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(output), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << output;
    return document.object();
}

// A home folder holding something for most rows.
void buildHome(const test::TempDir& home) {
    test::writeFile(home / "Documents/thesis.pdf", 5 * 4096);
    test::writeFile(home / "Documents/Project/src/main.c", 9 * 4096);
    test::writeFile(home / "Downloads/installer.iso", 40 * 4096);
    test::makeDirs(home / "Desktop/empty");
    test::writeFile(home / ".cache/someapp/cache.db", 12 * 4096);
    test::writeFile(home / ".cache/pip/http/x.whl", 30 * 4096);
    test::writeFile(home / ".config/Signal/sql/db.sqlite", 20 * 4096);
    test::writeFile(home / ".gradle/caches/modules-2/lib.jar", 14 * 4096);
    test::writeFile(home / ".local/share/Trash/files/old movie.mov", 50 * 4096);
    test::makeLongLink(home / ".local/share/Trash/files/link to movie", "old movie.mov");
    test::writeFile(home / ".bigcache/blob", 11'000'000);         // hidden, unclaimed: System Data
    test::writeFile(home / ".local/share/Tool/blob", 10'500'000); // unclaimed app data: System Data
}

std::optional<std::string> modifiedOf(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return Dates::iso8601(Dates::fromTimespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
}

// Every entry's size equals an lstat walk, its date the item's own; returns the sum.
int64_t checkEntries(const QJsonArray& entries) {
    int64_t total = 0, previous = INT64_MAX;
    for (const QJsonValue& value : entries) {
        QJsonObject entry = value.toObject();
        std::string url = str(entry["url"]);
        EXPECT_EQ(num(entry["size"]), test::lstatTreeSize(url)) << url;
        EXPECT_EQ(str(entry["modified"]), modifiedOf(url).value_or("")) << url;
        EXPECT_LE(num(entry["size"]), previous) << "largest first";
        previous = num(entry["size"]);
        total += num(entry["size"]);
    }
    return total;
}

// Rows keyed by id, checked to come largest first by `sizeKey`.
std::map<std::string, QJsonObject> byIdLargestFirst(const QJsonValue& rows, const char* sizeKey) {
    std::map<std::string, QJsonObject> out;
    int64_t previous = INT64_MAX;
    for (const QJsonValue& value : rows.toArray()) {
        QJsonObject row = value.toObject();
        out[str(row["id"])] = row;
        EXPECT_LE(num(row[sizeKey]), previous) << "largest first";
        previous = num(row[sizeKey]);
    }
    return out;
}

// The tool run against a home folder holding something for most rows.
struct CatalogCommand : ::testing::Test {
    test::TempHome home;
    void SetUp() override { buildHome(home); }
};

} // namespace

TEST_F(CatalogCommand, CleanupJsonCarriesEveryTargetWithLstatSizes) {
    QJsonObject result = runJson("cleanup");
    std::vector<CleanupTarget> definitions = CleanupCatalog::definitions();
    ASSERT_EQ(size_t(result["targets"].toArray().size()), definitions.size());
    auto byId = byIdLargestFirst(result["targets"], "total");
    for (const CleanupTarget& d : definitions) {
        SCOPED_TRACE(d.id);
        ASSERT_TRUE(byId.count(d.id));
        const QJsonObject& t = byId[d.id];
        EXPECT_TRUE(t["scanned"].toBool());
        QJsonArray inHome; // the machine's own entries change while the test runs
        for (const QJsonValue& entry : t["entries"].toArray())
            if (str(entry.toObject()["url"]).starts_with(home.path() + "/")) inHome.append(entry);
        checkEntries(inHome);
        EXPECT_EQ(std::make_tuple(str(t["title"]), str(t["detail"]), str(t["risk"]), strings(t["roots"]),
                                  t["contentsOnly"].toBool()),
                  std::make_tuple(d.title, d.detail, std::string(cleanupRiskName(d.risk)), d.roots, d.contentsOnly));
    }
    const std::string trash = home / ".local/share/Trash/files/";
    EXPECT_EQ(strings(byId["trash"]["entries"], "url"),
              (std::vector<std::string>{trash + "old movie.mov", trash + "link to movie"}));
}

TEST_F(CatalogCommand, OverviewJsonCarriesVolumesCategoriesAndTheRemainder) {
    QJsonObject result = runJson("overview");

    QJsonArray volumes = result["volumes"].toArray();
    ASSERT_FALSE(volumes.isEmpty());
    QJsonObject root = volumes[0].toObject();
    // Its figures against df: VolumeInfoTest.
    EXPECT_EQ(std::tuple(str(root["url"]), root["isRootVolume"].toBool()), std::tuple("/", true));
    ASSERT_TRUE(result["snapshots"].isArray()); // their names and figures: BtrfsSnapshotTest

    std::vector<StorageCategory> table = StorageCategories::all();
    ASSERT_EQ(size_t(result["categories"].toArray().size()), table.size());
    auto byId = byIdLargestFirst(result["categories"], "size");
    int64_t measuredTotal = 0;
    for (const StorageCategory& c : table) {
        SCOPED_TRACE(c.id);
        ASSERT_TRUE(byId.count(c.id));
        QJsonObject m = byId[c.id];
        QJsonObject j = m["category"].toObject();
        EXPECT_TRUE(m["measured"].toBool());
        if (str(j["measurement"]) == "measured") measuredTotal += num(m["size"]);
        const QJsonObject action = j["action"].toObject();
        EXPECT_EQ(std::make_tuple(str(j["title"]), str(j["symbol"]), str(j["colorName"]), str(j["detail"]),
                                  strings(j["roots"]), j["listsContents"].toBool(), str(j["risk"]),
                                  str(action["kind"]) + "|" + str(action["reason"]) + "|" + str(action["warning"]) +
                                      "|" + str(action["quitFirst"]),
                                  j["caveat"].isNull() ? std::optional<std::string>() : str(j["caveat"])),
                  std::make_tuple(c.title, c.symbol, c.colorName, c.detail, c.roots, c.listsContents,
                                  std::string(cleanupRiskName(c.risk)),
                                  std::string(c.action.name()) + "|" + c.action.reason + "|" + c.action.warning + "|" +
                                      c.action.quitFirst.value_or(""),
                                  c.caveat));
        EXPECT_DOUBLE_EQ(j["color"].toObject()["red"].toDouble(), c.color().red);
        // Entries below the fixture home are sized as an lstat walk sizes them.
        if (!c.roots.empty() && c.roots[0].starts_with(home.path())) {
            EXPECT_EQ(num(m["size"]), checkEntries(m["entries"].toArray()));
        }
    }
    EXPECT_EQ(strings(byId["documents"]["entries"], "url"),
              (std::vector<std::string>{home / "Downloads/installer.iso", home / "Documents/Project",
                                        home / "Documents/thesis.pdf"}));
    EXPECT_EQ(strings(byId["messages"]["entries"], "url"), std::vector<std::string>{home / ".config/Signal/sql"});

    // System Data: the remainder of the root volume's used space (the
    // administrator's reserve kept apart), and its large items.
    QJsonObject systemData = byId["systemData"];
    int64_t used = std::max<int64_t>(0, num(root["totalCapacity"]) - num(root["trueFree"]) - num(root["rootReserve"]));
    int64_t expected = std::max<int64_t>(0, used - measuredTotal);
    // The free space may move while other work runs on this machine.
    EXPECT_NEAR(double(num(systemData["size"])), double(expected), double(256 << 20));
    std::vector<std::string> large;
    for (const std::string& url : strings(systemData["entries"], "url"))
        if (url.starts_with(home.path() + "/")) large.push_back(url);
    std::sort(large.begin(), large.end());
    EXPECT_EQ(large, (std::vector<std::string>{home / ".bigcache", home / ".local/share/Tool"}));
}

TEST_F(CatalogCommand, TextOutputAndUsage) {
    // A name cannot forge a line or drive the terminal; JSON keeps it exact.
    const std::string trash = home / ".local/share/Trash/files";
    test::writeFile(trash + "/evil\nforged\x1b[2J", 4096);
    std::string output;
    ASSERT_EQ(test::runCli({"cleanup"}, &output), 0);
    EXPECT_NE(output.find(trash + "/evil\\nforged\\x1b[2J"), std::string::npos) << output;
    EXPECT_EQ(output.find('\x1b'), std::string::npos);
    EXPECT_NE(output.find("Trash  " + Fmt::bytes(test::lstatTreeSize(trash)) + "  [safe]"), std::string::npos)
        << output;
    EXPECT_NE(output.find(trash + "/old movie.mov"), std::string::npos);
    EXPECT_EQ(std::tuple(test::runCli({"overview", "extra"}, &output), test::runCli({"cleanup", "--bogus"}, &output)),
              std::tuple(2, 2));
}
