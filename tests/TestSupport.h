#pragma once
// Helpers the test suites share: temporary folders, files with real blocks,
// environment overrides, privilege-dropping children and tmpfs mounts.
// Linking them pins the Linux table set (VESSORA_TABLES=linux, also for the
// tools a test starts); tests of the macOS set select it with ScopedTables
// (and ScopedEnv for the tools they start).

#include "platform/PrivilegedRunner.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace vessora::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes away (permissions are restored first so nothing is left).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const;

private:
    std::string path_;
};

// Creates parent folders as needed and writes `bytes` bytes of real data (not
// sparse), so the file gets allocated blocks. Returns the path.
std::string writeFile(const std::string& path, int64_t bytes = 0, char fill = 'x');
std::string writeText(const std::string& path, const std::string& text);
// An executable shell script at `path` running `body`. Returns the path.
std::string writeScript(const std::string& path, const std::string& body);
std::string readText(const std::string& path);
void makeDirs(const std::string& path);
// Made by root, then given to `owner` (user and group) with `mode`; links are
// not followed. Returns the path; throws when the owner or mode cannot be set.
std::string ownedFolder(const std::string& path, unsigned owner, unsigned mode);
std::string ownedFile(const std::string& path, const std::string& text, unsigned owner);
// st_blocks * 512 of the item itself (lstat), or -1.
int64_t allocatedSize(const std::string& path);
// The same summed over the item and everything below it (links not
// followed): what deleting it frees when nothing in it is linked elsewhere.
int64_t allocatedTreeSize(const std::string& path);
bool exists(const std::string& path); // lstat succeeds
// The names in a folder, sorted.
std::vector<std::string> listFolder(const std::string& path);

// Sets (or, with nullopt, unsets) an environment variable until destroyed.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::optional<std::string>& value);
    ~ScopedEnv();

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A home folder and data folder of the test's own, so that the code under test
// and trash-cli both look at a temporary trash. An unprivileged child may keep
// its own trash there too.
struct TrashHome {
    TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv data{"XDG_DATA_HOME", dir / "home/.local/share"};
    bool made = (makeDirs(dir / "home"), ::chmod((dir / "home").c_str(), 0777) == 0);
    std::string trash() const { return dir / "home/.local/share/Trash"; }
};

bool isRoot();

// Runs `body` in a forked child that dropped root for the "nobody" user (when
// running as root; otherwise as the current user) and returns its exit status
// (body's return value), or -1 when the child died another way.
int runAsUnprivileged(const std::function<int()>& body);
// The same with a body that says what went wrong (empty: nothing): returns
// that, or how the child ended when it could not say, so a failing check
// reports its reason rather than a bare status.
std::string runAsUnprivileged(const std::function<std::string()>& body);
// The uid and gid runAsUnprivileged switches to.
unsigned unprivilegedUid();
unsigned unprivilegedGid();
// Runs `body` in a forked child as the user `uid` (group `uid` too), which
// need not be in the password database: two of them are two real users on
// a shared folder. Root only: elsewhere returns kNotRoot without running body.
inline constexpr int kNotRoot = 122;
int runAsUser(unsigned uid, const std::function<int()>& body);

// Runs `body` in a forked child with a mount table of its own (everything
// private), where it may mount over system files without any other process
// seeing it. Returns body's status, or kNotRoot when that cannot be made.
int runWithOwnMounts(const std::function<int()>& body);

// Mounts a tmpfs of `sizeBytes` with `mode` at `path` (created if needed). Root only;
// returns false elsewhere. The mount is undone by unmount or at TempDir removal.
bool mountTmpfs(const std::string& path, int64_t sizeBytes = 64 << 20, unsigned mode = 0755);
bool remountReadOnly(const std::string& path);
// Binds the folder `from` at `to` (created if needed). Root only.
bool bindMount(const std::string& from, const std::string& to);
void unmount(const std::string& path);

// Runs `body` in a forked child with a mount table of its own, in which a FUSE
// file system whose server never answers is mounted at `path` (anything that
// asks it for a status blocks). Returns body's status, kNoHangingFuse when the
// mount cannot be made (not root, no /dev/fuse), kHangingFuseTimedOut when body
// did not return within `seconds`.
inline constexpr int kNoHangingFuse = 120;
inline constexpr int kHangingFuseTimedOut = 121;
int runWithHangingFuse(const std::string& path, const std::function<int()>& body, int seconds = 20);

// A Btrfs file system in a loop file below `folder`, mounted (its top level)
// at folder + "/mnt". Root only: where loop devices or Btrfs are missing,
// ok() is false and skipReason() says which. Unmounted and its loop device
// detached when destroyed, whatever the test did.
class LoopBtrfs {
public:
    explicit LoopBtrfs(const std::string& folder, int64_t sizeBytes = 256 << 20);
    ~LoopBtrfs();
    LoopBtrfs(const LoopBtrfs&) = delete;
    LoopBtrfs& operator=(const LoopBtrfs&) = delete;
    bool ok() const { return skipReason_.empty(); }
    const std::string& skipReason() const { return skipReason_; }
    const std::string& mountPoint() const { return mountPoint_; }
    const std::string& device() const { return device_; }
    // Runs the btrfs tool with `arguments`; its exit status, its output in `output`.
    int btrfs(const std::vector<std::string>& arguments, std::string* output = nullptr) const;

private:
    std::string mountPoint_;
    std::string device_;
    std::string skipReason_;
};
// Runs a program (absolute path or looked up in PATH) with arguments through
// /bin/sh -c free exec; returns exit status and fills `output` with stdout+stderr.
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr, const std::string& input = {});
#ifdef VESSORA_CLI
// The same for the vessora tool built beside the tests.
inline int runCli(std::vector<std::string> args, std::string* output = nullptr, const std::string& input = {}) {
    args.insert(args.begin(), VESSORA_CLI);
    return runProgram(args, output, input);
}
#endif

// Plays pkexec granting rights (the tests run as root already): shell commands
// run with plain /bin/sh and are noted in `commands`. With `direct`, programs
// run as themselves (their arguments noted in `calls`) rather than through
// the shell pipeline every runner inherits.
struct ShellRunner : PrivilegedRunner {
    bool direct = false;
    std::vector<std::string> commands;
    std::vector<std::vector<std::string>> calls;
    PrivilegedOutcome run(const std::string& command) override;
    PrivilegedOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                 const std::string& input) override;
};

// Answers every request with `outcome` without running anything (a refusal:
// the user dismissed the password dialog), noting the shell commands.
struct FixedRunner : PrivilegedRunner {
    PrivilegedOutcome outcome;
    std::vector<std::string> commands;
    explicit FixedRunner(PrivilegedOutcome o) : outcome(std::move(o)) {}
    PrivilegedOutcome run(const std::string& command) override {
        commands.push_back(command);
        return outcome;
    }
};

// A copy of sleep at `executable` (its folder made), started under the name
// `argv0` for a minute; returns once the process runs that copy (-1 when it
// never did). The caller kills and reaps it.
pid_t startSleepingCopy(const std::string& executable, const std::string& argv0);

} // namespace vessora::test
