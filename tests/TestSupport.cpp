#include "TestSupport.h"

#include "platform/PlatformTables.h"
#include "support/Shell.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sched.h>
#include <signal.h>
#include <thread>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <ftw.h>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>
#include <vector>

namespace vessora::test {

namespace {

// Every test runs on the Linux tables users get, whatever the build host,
// for this process and the tools it starts; a test of the macOS set selects
// it itself.
const bool linuxTablesPinned = [] {
    ::setenv("VESSORA_TABLES", "linux", 1);
    PlatformTables::select(TableSet::linux);
    return true;
}();

int openUp(const char* path, const struct stat*, int type, struct FTW*) {
    if (type == FTW_D || type == FTW_DNR || type == FTW_DP) ::chmod(path, 0700);
    return 0;
}

void collectMounts(const std::string& root, std::vector<std::string>& out) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, devno, rootField, mountPoint;
        fields >> id >> parent >> devno >> rootField >> mountPoint;
        if (mountPoint == root || mountPoint.rfind(root + "/", 0) == 0) out.push_back(mountPoint);
    }
}

} // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vessora-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
    ::chmod(path_.c_str(), 0755); // readable by an unprivileged child
}

TempDir::~TempDir() {
    std::vector<std::string> mounts;
    collectMounts(path_, mounts);
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) ::umount2(it->c_str(), MNT_DETACH);
    // First make every folder writable and searchable again (a test may have
    // locked some; twice, as a locked folder hides what is below it), then remove.
    ::nftw(path_.c_str(), openUp, 32, FTW_PHYS);
    ::nftw(path_.c_str(), openUp, 32, FTW_PHYS);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string& relative) const { return path_ + "/" + relative; }

void makeDirs(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (!partial.empty()) ::mkdir(partial.c_str(), 0755);
    }
}

namespace {
std::string own(const std::string& path, unsigned owner, std::optional<unsigned> mode) {
    if (::lchown(path.c_str(), owner, owner) != 0 || (mode && ::chmod(path.c_str(), *mode) != 0))
        throw std::runtime_error("cannot give " + path + " to " + std::to_string(owner));
    return path;
}

void makeParent(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) makeDirs(path.substr(0, slash));
}
} // namespace

std::string writeFile(const std::string& path, int64_t bytes, char fill) {
    makeParent(path);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    std::string chunk(size_t(std::min<int64_t>(bytes, 1 << 20)), fill);
    int64_t left = bytes;
    while (left > 0) {
        ssize_t n = ::write(fd, chunk.data(), size_t(std::min<int64_t>(left, int64_t(chunk.size()))));
        if (n <= 0) break;
        left -= n;
    }
    ::fsync(fd);
    ::close(fd);
    return path;
}

std::string writeText(const std::string& path, const std::string& text) {
    makeParent(path);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
}

std::string ownedFolder(const std::string& path, unsigned owner, unsigned mode) {
    makeDirs(path);
    return own(path, owner, mode);
}

std::string ownedFile(const std::string& path, const std::string& text, unsigned owner) {
    return own(writeText(path, text), owner, std::nullopt);
}

std::string writeScript(const std::string& path, const std::string& body) {
    writeText(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int64_t allocatedSize(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return -1;
    return int64_t(st.st_blocks) * 512;
}

int64_t allocatedTreeSize(const std::string& path) {
    int64_t total = allocatedSize(path);
    struct stat st;
    if (total < 0 || ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return total;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) total += allocatedSize(entry.path());
    return total;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name.c_str())) old_ = old;
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

bool isRoot() { return ::geteuid() == 0; }

unsigned unprivilegedUid() {
    if (!isRoot()) return ::geteuid();
    if (struct passwd* pw = ::getpwnam("nobody")) return pw->pw_uid;
    return 65534;
}

unsigned unprivilegedGid() {
    if (!isRoot()) return ::getegid();
    if (struct passwd* pw = ::getpwnam("nobody")) return pw->pw_gid;
    return 65534;
}

namespace {
int runInChild(const std::function<bool()>& setUp, int setUpFailed, const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (!setUp()) _exit(setUpFailed);
        _exit(body());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFSIGNALED(status))
        std::fprintf(stderr, "The test's child process was ended by signal %d (%s).\n", WTERMSIG(status),
                     strsignal(WTERMSIG(status)));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool switchTo(unsigned uid, unsigned gid) {
    return ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
}
} // namespace

int runAsUnprivileged(const std::function<int()>& body) {
    return runInChild([] { return !isRoot() || switchTo(unprivilegedUid(), unprivilegedGid()); }, 97, body);
}

std::string runAsUnprivileged(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return "no pipe to the child";
    const int status = runInChild([] { return !isRoot() || switchTo(unprivilegedUid(), unprivilegedGid()); }, 97,
                                  [&] {
                                      // Read only once the child ends: it must fit in the pipe.
                                      const std::string message = body().substr(0, 60000);
                                      const bool told =
                                          ::write(fds[1], message.data(), message.size()) == ssize_t(message.size());
                                      return told ? 0 : 1;
                                  });
    ::close(fds[1]);
    std::string message;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, size_t(n));
    ::close(fds[0]);
    if (status == 97) return "the child could not drop its privileges";
    if (status != 0 && message.empty()) return "the child ended with status " + std::to_string(status);
    return message;
}

int runAsUser(unsigned uid, const std::function<int()>& body) {
    if (!isRoot()) return kNotRoot;
    return runInChild([uid] { return switchTo(uid, uid); }, 97, body);
}

namespace {
bool ownMountTable() {
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
} // namespace

int runWithOwnMounts(const std::function<int()>& body) {
    if (!isRoot()) return kNotRoot;
    return runInChild(ownMountTable, kNotRoot, body);
}

bool mountTmpfs(const std::string& path, int64_t sizeBytes, unsigned mode) {
    if (!isRoot()) return false;
    makeDirs(path);
    char octal[16];
    std::snprintf(octal, sizeof octal, "%o", mode);
    const std::string options = "size=" + std::to_string(sizeBytes) + ",mode=" + octal;
    return ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

bool remountReadOnly(const std::string& path) {
    return ::mount("tmpfs", path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool bindMount(const std::string& from, const std::string& to) {
    makeDirs(to);
    return ::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

void unmount(const std::string& path) { ::umount2(path.c_str(), MNT_DETACH); }

int runWithHangingFuse(const std::string& path, const std::function<int()>& body, int seconds) {
    if (!isRoot()) return kNoHangingFuse;
    makeDirs(path);
    // A mount table of the child's own, so no other process meets the mount.
    return runInChild(ownMountTable, kNoHangingFuse, [&] {
        int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0) return kNoHangingFuse;
        // Nobody ever reads the connection: every request waits for an
        // initialisation that never comes, until the descriptor is closed.
        const std::string options = "fd=" + std::to_string(fd) + ",rootmode=40000,user_id=0,group_id=0";
        if (::mount("vessora-hang", path.c_str(), "fuse.hang", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
            return kNoHangingFuse;
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
        int status = 0;
        std::thread worker([&] {
            int result = body();
            std::lock_guard guard(lock);
            status = result, done = true;
            finished.notify_all();
        });
        std::unique_lock wait(lock);
        const bool inTime = finished.wait_for(wait, std::chrono::seconds(seconds), [&] { return done; });
        wait.unlock();
        ::close(fd); // releases anything still blocked
        worker.join();
        ::umount2(path.c_str(), MNT_DETACH);
        return inTime ? status : kHangingFuseTimedOut;
    });
}

namespace {
std::string sbinTool(const char* name) {
    for (const char* folder : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"})
        if (::access((std::string(folder) + name).c_str(), X_OK) == 0) return std::string(folder) + name;
    return {};
}
} // namespace

LoopBtrfs::LoopBtrfs(const std::string& folder, int64_t sizeBytes) : mountPoint_(folder + "/mnt") {
    const std::string mkfs = sbinTool("mkfs.btrfs"), losetup = sbinTool("losetup");
    if (!isRoot()) {
        skipReason_ = "a Btrfs file system in a loop file needs root";
        return;
    }
    if (mkfs.empty() || sbinTool("btrfs").empty() || losetup.empty()) {
        skipReason_ = "btrfs-progs (mkfs.btrfs, btrfs) or losetup is not installed";
        return;
    }
    const std::string image = folder + "/btrfs.img";
    std::string output;
    if (::truncate(writeFile(image).c_str(), sizeBytes) != 0 || runProgram({mkfs, "-q", image}, &output) != 0) {
        skipReason_ = "mkfs.btrfs failed: " + output;
        return;
    }
    if (runProgram({losetup, "--find", "--show", image}, &output) != 0) {
        skipReason_ = "no loop device could be attached: " + output;
        return;
    }
    device_ = output.substr(0, output.find('\n'));
    makeDirs(mountPoint_);
    if (::mount(device_.c_str(), mountPoint_.c_str(), "btrfs", 0, nullptr) != 0) {
        // The kernel may load the file system on first use.
        runProgram({sbinTool("modprobe"), "btrfs"});
        if (::mount(device_.c_str(), mountPoint_.c_str(), "btrfs", 0, nullptr) != 0)
            skipReason_ = std::string("this kernel cannot mount Btrfs: ") + std::strerror(errno);
    }
}

LoopBtrfs::~LoopBtrfs() {
    if (::umount(mountPoint_.c_str()) != 0) ::umount2(mountPoint_.c_str(), MNT_DETACH);
    if (!device_.empty()) runProgram({sbinTool("losetup"), "--detach", device_});
}

int LoopBtrfs::btrfs(const std::vector<std::string>& arguments, std::string* output) const {
    std::vector<std::string> argv{sbinTool("btrfs")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv, output);
}

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

int runProgram(const std::vector<std::string>& argv, std::string* output, const std::string& input) {
    if (argv.empty()) return -1;
    // env looks a bare name up in PATH, as a shell would.
    Shell::Outcome o = Shell::execute("/usr/bin/env", argv, input);
    if (output) *output = o.combined;
    return o.launched ? o.exitStatus : -1;
}

namespace {
PrivilegedOutcome outcomeOf(const Shell::Outcome& o) {
    const auto status = o.launched ? PrivilegedOutcome::Status::ran : PrivilegedOutcome::Status::unavailable;
    return {status, o.exitStatus, {}, o.standardOutput};
}
} // namespace

PrivilegedOutcome ShellRunner::run(const std::string& command) {
    commands.push_back(command);
    return outcomeOf(Shell::execute("/bin/sh", {"-c", command}));
}

PrivilegedOutcome ShellRunner::runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                          const std::string& input) {
    if (!direct) return PrivilegedRunner::runProgram(program, arguments, input);
    calls.push_back(arguments);
    return outcomeOf(Shell::execute(program, arguments, input));
}

pid_t startSleepingCopy(const std::string& executable, const std::string& argv0) {
    makeDirs(std::filesystem::path(executable).parent_path().string());
    std::filesystem::copy_file("/bin/sleep", executable, std::filesystem::copy_options::overwrite_existing);
    ::chmod(executable.c_str(), 0755);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(executable.c_str(), argv0.c_str(), "60", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0) return -1;
    // A loaded machine may take a while to get the child to exec; a test that
    // looks for the running program before then would see nothing.
    const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    for (int i = 0; i < 1000; ++i) {
        std::error_code error;
        if (std::filesystem::read_symlink(exe, error) == executable) return pid;
        ::usleep(10'000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

} // namespace vessora::test
