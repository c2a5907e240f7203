#include "catalog/SnapshotRemoval.h"

#include "platform/Btrfs.h"
#include "platform/BtrfsSnapshots.h"
#include "support/FolderListing.h"
#include "platform/ItemHandle.h"
#include "platform/VolumeInfo.h"
#include "support/FolderListing.h"
#include "support/Paths.h"
#include "support/Shell.h"

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::SnapshotRemoval {

namespace {

void record(std::string& report, std::string_view kind, const std::string& name, const std::string& value) {
    for (std::string_view field : {kind, std::string_view(name), std::string_view(value)}) {
        report += field;
        report += '\0';
    }
}

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n";
    size_t start = text.find_first_not_of(space);
    if (start == std::string::npos) return {};
    return text.substr(start, text.find_last_not_of(space) - start + 1);
}

RemovalResult failedWith(const std::string& name, std::string reason) {
    RemovalResult result;
    result.failed.push_back({name, std::move(reason)});
    return result;
}

RemovalResult deleteTimeMachineSnapshot(const LocalSnapshot& snapshot, PrivilegedRunner& runner) {
    const std::string failure = "The snapshot could not be deleted.";
    std::optional<std::string> command = snapshotDeletionCommand(snapshot);
    if (!command) return failedWith(snapshot.name, failure);
    PrivilegedOutcome outcome = runner.run(*command);
    if (outcome.status == PrivilegedOutcome::Status::refused)
        return failedWith(snapshot.name, outcome.message.empty() ? "Authorization failed." : outcome.message);
    if (outcome.status != PrivilegedOutcome::Status::ran || outcome.exitStatus != 0)
        return failedWith(snapshot.name, failure);
    RemovalResult result;
    result.succeeded.push_back(snapshot.name);
    return result;
}

// The snapshots of the file system `fileSystem` as the listing shows them now,
// and the listed volume they were found through.
std::vector<LocalSnapshot> listedOn(const std::string& fileSystem, std::string& volume) {
    for (const VolumeInfo& listed : VolumeInfo::current())
        if (Btrfs::fileSystemId(listed.url) == fileSystem) {
            volume = listed.url;
            return BtrfsSnapshots::list(listed.url);
        }
    return {};
}

const LocalSnapshot* find(const std::vector<LocalSnapshot>& snapshots, const std::string& fileSystem,
                          const std::string& name) {
    for (const LocalSnapshot& s : snapshots)
        if (s.name == name && s.fileSystem == fileSystem) return &s;
    return nullptr;
}

// Deletes one subvolume of a snapshot the way `btrfs subvolume delete` does,
// acting on the subvolume that was judged: reached without following a link,
// its id compared, then deleted through its folder's descriptor.
std::string deleteSubvolume(const SnapshotSubvolume& subvolume, const std::string& volume) {
    if (subvolume.path.empty()) return Btrfs::deleteSubvolumeById(volume, subvolume.id);
    const std::string name = Paths::lastComponent(subvolume.path);
    ItemHandle folder = ItemHandle::open(Paths::parent(subvolume.path), name);
    if (!folder.ok()) return "its folder could not be opened without following a link";
    const int fd = ::openat(folder.folder(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::string("it could not be opened: ") + std::strerror(errno);
    const bool same = Btrfs::subvolumeIdOf(fd) == subvolume.id;
    ::close(fd);
    if (!same) return "another subvolume took its place";
    return Btrfs::deleteSubvolume(folder.folder(), name);
}

} // namespace

std::optional<std::string> snapshotDeletionCommand(const LocalSnapshot& snapshot) {
    std::string date = snapshot.name;
    for (std::string_view piece : {std::string_view("com.apple.TimeMachine."), std::string_view(".local")}) {
        for (size_t at; (at = date.find(piece)) != std::string::npos;) date.erase(at, piece.size());
    }
    // The text reaches a shell run as root: only the tool's own date format passes.
    if (date.empty() ||
        !std::all_of(date.begin(), date.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; }))
        return std::nullopt;
    return "/usr/bin/tmutil deletelocalsnapshots " + shellWord(date);
}

std::vector<std::string> snapshotToolCommand(const LocalSnapshot& snapshot, const SnapshotTools& tools) {
    if (snapshot.owner == SnapshotOwner::snapper && ::access(tools.snapper.c_str(), X_OK) == 0) {
        const std::string subvolume = BtrfsSnapshots::snapperSubvolume(snapshot);
        for (const std::string& config : FolderListing::namesOrEmpty(tools.snapperConfigs)) {
            const auto text = BtrfsSnapshots::readMetadataFile(Paths::join(tools.snapperConfigs, config));
            if (subvolume.empty() || !text || BtrfsSnapshots::snapperConfigSubvolume(*text) != subvolume) continue;
            // Without D-Bus snapper works on its files directly, also where its daemon is not running.
            return {tools.snapper, "--no-dbus", "--config", config, "delete", std::to_string(snapshot.snapperNumber)};
        }
    }
    if (snapshot.owner == SnapshotOwner::timeshift && ::access(tools.timeshift.c_str(), X_OK) == 0) {
        const std::string name = BtrfsSnapshots::timeshiftName(snapshot);
        for (const std::string& file : tools.timeshiftConfigs) {
            const auto text = BtrfsSnapshots::readMetadataFile(file);
            if (name.empty() || !text || !BtrfsSnapshots::timeshiftConfigNames(*text, snapshot.fileSystem)) continue;
            return {tools.timeshift, "--delete", "--snapshot", name, "--scripted"};
        }
    }
    return {};
}

std::string serveSnapshotRequest(const std::string& fileSystem, const std::string& name, bool& deleted,
                                 const SnapshotTools& tools) {
    deleted = false;
    std::string report;
    auto refuse = [&](const std::string& why) {
        record(report, "failed", name, why);
        return report;
    };
    std::string volume;
    const std::vector<LocalSnapshot> listed = listedOn(fileSystem, volume);
    const LocalSnapshot* snapshot = find(listed, fileSystem, name);
    if (!snapshot) return refuse(name + " is not a snapshot Vessora lists, so nothing was deleted.");

    // Judged as root again: the listing already leaves out every mounted subvolume.
    const uint64_t fallback = Btrfs::defaultSubvolume(volume);
    for (const SnapshotSubvolume& s : snapshot->subvolumes)
        if (s.id == fallback)
            return refuse(name + " is the file system's default subvolume, the one it starts from, and is never "
                                 "deleted.");
    const std::vector<std::string> tool = snapshotToolCommand(*snapshot, tools);
    if (tool.empty())
        for (const SnapshotSubvolume& s : snapshot->subvolumes)
            if (!s.readOnly)
                return refuse(name + " is a writable subvolume, not a read-only snapshot, and is never deleted.");

    const int64_t bytes = snapshot->exclusiveBytes().value_or(0);
    if (!tool.empty()) {
        Shell::Outcome ran = Shell::execute(tool.front(), std::vector<std::string>(tool.begin() + 1, tool.end()));
        const std::string toolName = Paths::lastComponent(tool.front());
        if (!ran.launched) return refuse(toolName + " could not be started, so " + name + " was not deleted.");
        if (ran.exitStatus != 0) {
            const std::string said = trimmed(ran.combined);
            return refuse(toolName + " could not delete " + name + (said.empty() ? "." : ": " + said));
        }
        std::string again;
        if (find(listedOn(fileSystem, again), fileSystem, name))
            return refuse(name + " is still there after " + toolName + " deleted it.");
    } else {
        for (size_t i = 0; i < snapshot->subvolumes.size(); ++i) {
            const SnapshotSubvolume& s = snapshot->subvolumes[i];
            const std::string why = deleteSubvolume(s, volume);
            if (why.empty()) continue;
            const std::string which = s.path.empty() ? s.topPath : s.path;
            return refuse(which + " could not be deleted: " + why +
                          (i > 0 ? " (the snapshot's other subvolumes before it were deleted)." : "."));
        }
    }
    deleted = true;
    record(report, "removed", name, std::to_string(bytes));
    return report;
}

RemovalResult readSnapshotReport(const std::string& report, const std::string& name) {
    const std::map<std::string, Remover::HelperVerdict> verdicts = Remover::readReport(report);
    const auto said = verdicts.find(name);
    if (said == verdicts.end())
        return failedWith(name, "The administrator helper did not report on " + name + ", so it may still be there.");
    if (!said->second.removed) return failedWith(name, said->second.reason);
    RemovalResult result;
    result.succeeded.push_back(name);
    result.bytesFreed = std::max<int64_t>(0, said->second.bytes);
    return result;
}

RemovalResult deleteSnapshot(const LocalSnapshot& snapshot, const std::string& volume) {
    return deleteSnapshot(snapshot, volume, defaultPrivilegedRunner());
}

RemovalResult deleteSnapshot(const LocalSnapshot& snapshot, const std::string&, PrivilegedRunner& runner) {
    if (snapshot.owner == SnapshotOwner::timeMachine) return deleteTimeMachineSnapshot(snapshot, runner);
    const std::string helper = Remover::privilegedHelperPath();
    if (helper.empty())
        return failedWith(snapshot.name, "The administrator helper " + std::string(Remover::privilegedHelperName) +
                                             " is missing beside this program, so nothing was deleted.");
    PrivilegedOutcome outcome =
        runner.runProgram(helper, {"--snapshot", snapshot.name, "--file-system", snapshot.fileSystem}, {});
    if (outcome.status != PrivilegedOutcome::Status::ran)
        return failedWith(snapshot.name, outcome.message.empty() ? "Authorization failed." : outcome.message);
    return readSnapshotReport(outcome.output, snapshot.name);
}

} // namespace vessora::SnapshotRemoval
