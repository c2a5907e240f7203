// The administrator protocol: the request the privileged helper reads, what
// it does with it as root, and the report it gives back, which the caller
// checks against the disk.

#include "removal/Remover.h"

#include "removal/GuardRules.h"
#include "removal/RemovalTexts.h"
#include "removal/ResolvedItem.h"
#include "scan/DiskScanner.h"
#include "support/Paths.h"

#include <climits>
#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::Remover {

std::string removalCommand(const std::vector<std::string>& paths) {
    std::string command = "/bin/rm -rf --";
    for (const std::string& path : paths) command += " " + shellWord(path);
    return command;
}

RemovalResult removeWithAdmin(const std::vector<std::string>& urls) {
    return removeWithAdmin(urls, defaultPrivilegedRunner());
}

std::string privilegedHelperPath() {
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    const std::string folder = Paths::parent(std::string(self, size_t(n)));
    // Beside this program (the build folder, the app bundle), else in the
    // installed bundle next to an installed `PREFIX/bin/vessora`: the polkit
    // policy names that one path.
    for (const std::string& candidate :
         {Paths::join(folder, privilegedHelperName),
          Paths::join(Paths::standardize(folder + "/../lib/vessora/Vessora.app/Contents/MacOS"), privilegedHelperName)})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    return {};
}

std::map<std::string, HelperVerdict> readReport(const std::string& report) {
    std::vector<std::string> fields;
    for (size_t start = 0; start < report.size();) {
        size_t end = report.find('\0', start);
        if (end == std::string::npos) break;
        fields.push_back(report.substr(start, end - start));
        start = end + 1;
    }
    std::map<std::string, HelperVerdict> verdicts;
    for (size_t i = 0; i + 2 < fields.size(); i += 3) {
        HelperVerdict& v = verdicts[fields[i + 1]];
        v.removed = fields[i] == "removed";
        if (v.removed)
            v.bytes = std::strtoll(fields[i + 2].c_str(), nullptr, 10);
        else
            v.reason = fields[i + 2];
    }
    return verdicts;
}

namespace {

void record(std::string& report, std::string_view kind, const std::string& path, const std::string& value) {
    for (std::string_view field : {kind, std::string_view(path), std::string_view(value)}) {
        report += field;
        report += '\0';
    }
}

} // namespace

AdminReport serveAdminRequest(const std::string& request) {
    std::vector<RemovalItem> items;
    for (size_t start = 0; start < request.size();) {
        size_t end = request.find('\0', start);
        if (end == std::string::npos) end = request.size();
        const std::string field = request.substr(start, end - start);
        start = end + 1;
        if (field.empty()) continue;
        // An identity belongs to the path before it; a path always begins with "/".
        if (field.starts_with('=')) {
            if (!items.empty() && !items.back().identity.known())
                if (auto identity = ItemIdentity::parse(std::string_view(field).substr(1)))
                    items.back().identity = *identity;
            continue;
        }
        items.push_back({field, {}});
    }
    RemovalOptions options;
    options.pathsAreReal = true;
    AdminReport report;
    // One item at a time, so that each one's freed bytes are its own.
    for (const RemovalItem& item : items) {
        const std::string& path = item.url;
        RemovalResult r = removeItems({item}, RemovalMode::deleteImmediately, options);
        if (!r.succeeded.empty()) {
            record(report.text, "removed", path, std::to_string(r.bytesFreed));
            continue;
        }
        report.allRemoved = false;
        record(report.text, "failed", path,
               !r.failed.empty() ? r.failed.front().reason
                                 : RemovalTexts::notRemovedWithAdmin(path, !r.partlyRemoved.empty()));
    }
    return report;
}

RemovalResult removeWithAdmin(const std::vector<std::string>& urls, PrivilegedRunner& runner) {
    std::vector<RemovalItem> items;
    for (const std::string& url : urls) items.push_back({url, {}});
    return removeWithAdmin(items, runner);
}

RemovalResult removeWithAdmin(const std::vector<RemovalItem>& items, PrivilegedRunner& runner) {
    RemovalResult result;
    struct Kept {
        std::string path; // as judged, reported back
        std::string real; // sent to the helper
        ItemIdentity identity;
        int64_t size = 0;
    };
    std::vector<Kept> kept;
    const GuardRules::Guard guard;
    for (const RemovalItem& item : items) {
        const bool bound = item.identity.known();
        ResolvedItem r =
            bound ? resolve(withoutTrailingSeparator(item.url), true, guard, true) : resolve(item.url, false, guard);
        if (!r.verdict.allowed) {
            result.failed.push_back({item.url, r.verdict.reason});
        } else if (bound && r.verdict.identity.known() && r.verdict.identity != item.identity) {
            result.failed.push_back({item.url, RemovalTexts::changed(r.verdict.path)});
        } else {
            // The helper acts only on the object this user was shown (or,
            // when none was, on the one seen now where this user can see it).
            kept.push_back({r.verdict.path, r.verdict.realPath.empty() ? r.verdict.path : r.verdict.realPath,
                            bound ? item.identity : r.verdict.identity, 0});
        }
    }
    if (kept.empty()) return result;

    std::string request;
    for (Kept& item : kept) {
        item.size = DiskScanner::freedSize(item.real);
        request += item.real;
        request += '\0';
        if (item.identity.known()) {
            request += "=" + item.identity.text();
            request += '\0';
        }
    }
    const std::string helper = privilegedHelperPath();
    if (helper.empty()) {
        for (const Kept& item : kept) result.failed.push_back({item.path, RemovalTexts::helperMissing()});
        return result;
    }
    PrivilegedOutcome outcome = runner.runProgram(helper, {"--home", Paths::standardize(Paths::home())}, request);
    if (outcome.status == PrivilegedOutcome::Status::refused) {
        const std::string why =
            outcome.message.empty() ? std::string(RemovalTexts::authorizationFailed) : outcome.message;
        for (const Kept& item : kept) result.failed.push_back({item.path, why});
        return result;
    }
    // The helper's own report first; for anything it did not report, the disk says what is gone.
    const std::map<std::string, HelperVerdict> report = readReport(outcome.output);
    for (const Kept& item : kept) {
        auto said = report.find(item.real);
        struct stat st;
        if (said != report.end() && !said->second.removed) {
            result.failed.push_back({item.path, said->second.reason});
        } else if (said != report.end()) {
            result.succeeded.push_back(item.path);
            result.bytesFreed += said->second.bytes;
        } else if (::lstat(item.real.c_str(), &st) == 0) {
            result.failed.push_back({item.path, std::string(RemovalTexts::stillPresent)});
        } else {
            result.succeeded.push_back(item.path);
            result.bytesFreed += item.size;
        }
    }
    return result;
}

} // namespace vessora::Remover
