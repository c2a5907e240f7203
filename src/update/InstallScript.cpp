#include "update/InstallScript.h"

#include "apps/BundleInfo.h"
#include "platform/PrivilegedRunner.h"
#include "support/Paths.h"
#include "update/UpdateLog.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace vessora::InstallScript {

namespace {

// Every log line is printed with a fixed format; values are arguments, never
// part of the format or of an echo that could interpret escapes.
std::string say(const std::string& text) { return "say \"" + text + "\""; }

// A descriptor of our own numbered 10 or above, so that placing the script's
// descriptors 1 to 3 cannot overwrite one with another.
int lifted(int fd) {
    if (fd < 0) return -1;
    int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

} // namespace

std::string executableOf(const std::string& bundle) {
    auto declared = BundleInfo::stringValue(BundleInfo::read(bundle), "CFBundleExecutable");
    if (declared && !declared->empty() && *declared != "." && *declared != ".." &&
        declared->find('/') == std::string::npos && declared->find('\0') == std::string::npos)
        return *declared;
    return Paths::deletingExtension(Paths::lastComponent(bundle));
}

std::string build(const Values& v) {
    const auto quote = shellWord;
    // Every inserted value is a quoted word of its own, never text spliced
    // into a quoted string, so no path can end the quoting and run commands.
    const std::string c = quote(v.current);
    const std::string s = quote(v.staged);
    const std::string d = quote(v.unpackFolder);
    const std::string old = quote(v.current + ".old");
    const std::string exe = quote(v.current + "/Contents/MacOS/" + v.executableName);
    const std::string oldExe = quote(v.current + ".old/Contents/MacOS/" + v.executableName);
    const std::string newExe = quote(v.current + "/Contents/MacOS/" + v.stagedExecutableName);
    const std::string stagedExe = quote(v.staged + "/Contents/MacOS/" + v.stagedExecutableName);
    const std::string pid = std::to_string(v.pid);
    // The staged copy goes with the same no-follow removal whatever the end;
    // rm never follows a link inside it, and this keeps it on its own file system.
    const std::string discard = "rm -rf --one-file-system -- " + d;
    const std::string detached = " </dev/null >/dev/null 2>&1 3>&-";

    const std::vector<std::string> lines = {
        "# Descriptors 1 and 2 are the install log (or nothing), 3 the updater's own",
        "# log; the app opened both. say writes a line to each.",
        "say() {",
        "  printf '%s\\n' \"$1\"",
        "  printf '%s install: %s\\n' \"$(date -u +%Y-%m-%dT%H:%M:%SZ)\" \"$1\" >&3",
        "}",
        "printf -- '--- %s\\n' \"$(date)\"",
        "say 'update starting: '" + quote(UpdateLog::escaped(v.current)) + "' <- '" +
            quote(UpdateLog::escaped(v.staged)),
        "",
        "# Wait for this app to exit, but never indefinitely. An earlier version looped",
        "# forever, so if the app failed to quit the helper stayed resident and fired at",
        "# some unrelated moment later, swapping bundles out from under whatever was",
        "# running by then.",
        "waited=0",
        "while kill -0 " + pid + " 2>/dev/null; do",
        "  sleep 0.2",
        "  waited=$((waited + 1))",
        "  if [ \"$waited\" -gt 150 ]; then",
        "    " + say("ABORT: app still running after 30s, touching nothing"),
        "    " + discard,
        "    exit 1",
        "  fi",
        "done",
        "",
        "# The app has quit for this update: however the script ends from here on, an",
        "# abort, a failed copy or a signal, the staged copy goes and the installed",
        "# version is started again.",
        "updated=0",
        "finish() {",
        "  " + discard,
        "  if [ \"$updated\" = 1 ]; then setsid -f " + newExe + detached,
        "  else",
        "    " + say("relaunching the installed version"),
        "    if [ -x " + exe + " ]; then setsid -f " + exe + detached,
        "    elif [ -x " + oldExe + " ]; then setsid -f " + oldExe + detached,
        "    fi",
        "  fi",
        "}",
        "trap finish EXIT",
        "trap 'exit 1' HUP INT TERM",
        "",
        "# Nothing is moved until the replacement is proven to exist and be valid right",
        "# now. This is the check whose absence destroyed the app: the old script moved",
        "# the installed copy aside first and only then discovered it had nothing to put",
        "# in its place. The verifier escapes what it prints.",
        "[ -d " + s + " ] || { " + say("ABORT: staged copy is gone, installed app untouched") + "; exit 1; }",
        "[ -x " + stagedExe + " ] || { " + say("ABORT: staged copy has no executable, installed app untouched") +
            "; exit 1; }",
        "if ! why=$(" + exe + " --verify-signature " + s + " 2>&1 3>&-); then",
        "  " + say("signature check: $why"),
        "  " + say("ABORT: staged signature invalid, installed app untouched") + "; exit 1",
        "fi",
        "",
        "rm -rf " + old,
        "if ! mv " + c + " " + old + "; then",
        "  " + say("FAIL: could not move the old bundle aside") + "; exit 1",
        "fi",
        "",
        "cp --archive --no-target-directory " + s + " " + c,
        "printf 'cp exit=%s\\n' \"$?\"",
        "",
        "# Verify rather than trust: the bundle, its executable, and the signature.",
        "ok=1",
        "[ -d " + c + " ] || { " + say("FAIL: no bundle after copy") + "; ok=0; }",
        "[ -x " + newExe + " ] || { " + say("FAIL: no executable after copy") + "; ok=0; }",
        "if ! why=$(" + oldExe + " --verify-signature " + c + " 2>&1 3>&-); then",
        "  " + say("signature check: $why"),
        "  " + say("FAIL: signature invalid after copy") + "; ok=0",
        "fi",
        "",
        "if [ \"$ok\" != \"1\" ]; then",
        "  " + say("restoring backup"),
        "  rm -rf " + c,
        "  if mv " + old + " " + c + "; then " + say("restored") + "; else " + say("FAIL: restore failed") + "; fi",
        "  exit 1",
        "fi",
        "",
        "rm -rf " + old,
        "updated=1",
        say("OK: updated, relaunching"),
    };
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) text += '\n';
        text += lines[i];
    }
    return text;
}

int openInstallLog(const std::string& path) {
    // O_NOFOLLOW: a link planted at the name is never followed. O_NONBLOCK: a
    // pipe planted there cannot hold the app up; it is refused below.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
    return fd;
}

Started start(const std::string& script, const std::string& installLog) {
    const int logFd = lifted(openInstallLog(installLog));
    const int stateFd = lifted(UpdateLog::openForAppend());

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (logFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, logFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (stateFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stateFd, 3);
    else
        posix_spawn_file_actions_addopen(&actions, 3, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()),
                               nullptr};
    Started started;
    started.error = ::posix_spawn(&started.pid, "/bin/sh", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (logFd >= 0) ::close(logFd);
    if (stateFd >= 0) ::close(stateFd);
    return started;
}

} // namespace vessora::InstallScript
