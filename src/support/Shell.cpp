#include "support/Shell.h"

#include "support/Utf8.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vessora::Shell {
namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    bool open() { return pipe2(fds, O_CLOEXEC) == 0; }
    void closeEnd(int i) {
        if (fds[i] >= 0) ::close(fds[i]);
        fds[i] = -1;
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
};

// A child may exit without reading all its input (pkexec refusing, a tool
// failing early); writing to it then raises SIGPIPE, whose default action ends
// the whole process, the window included. The signal is held back on this
// thread for the one write, and the one that write raised is taken off the
// thread's pending set before the mask is restored, so EPIPE is all the
// caller sees and the process's own SIGPIPE handling is left alone.
ssize_t writeWithoutSigpipe(int fd, const char* data, size_t size) {
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    ssize_t put = ::write(fd, data, size);
    const int writeError = errno;
    if (put < 0 && writeError == EPIPE && !alreadyPending) {
        const timespec noWait{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {}
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = writeError;
    return put;
}

} // namespace

Outcome execute(const std::string& executable, const std::vector<std::string>& arguments, const std::string& input) {
    Outcome outcome;
    Pipe out, err, in;
    if (!out.open() || !err.open() || !in.open()) return outcome;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.fds[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.fds[1], STDERR_FILENO);

    // A child must not die of SIGPIPE inherited as ignored, nor inherit our mask.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    int rc = executable.empty() || executable[0] != '/'
                 ? ENOENT
                 : posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return outcome;
    outcome.launched = true;

    in.closeEnd(0);
    out.closeEnd(1);
    err.closeEnd(1);

    // Writing to the child's input may block, so it shares the poll loop with
    // the two readers.
    size_t written = 0;
    if (input.empty())
        in.closeEnd(1);
    else
        fcntl(in.fds[1], F_SETFL, O_NONBLOCK);

    char buffer[65536];
    while (out.fds[0] >= 0 || err.fds[0] >= 0) {
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (out.fds[0] >= 0) {
            outIdx = n;
            fds[n++] = {out.fds[0], POLLIN, 0};
        }
        if (err.fds[0] >= 0) {
            errIdx = n;
            fds[n++] = {err.fds[0], POLLIN, 0};
        }
        if (in.fds[1] >= 0) {
            inIdx = n;
            fds[n++] = {in.fds[1], POLLOUT, 0};
        }
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto drain = [&](int idx, Pipe& p, std::string& stream) {
            if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
            ssize_t got = ::read(p.fds[0], buffer, sizeof buffer);
            if (got > 0) {
                stream.append(buffer, size_t(got));
                outcome.combined.append(buffer, size_t(got));
            } else if (got == 0 || errno != EINTR) {
                p.closeEnd(0);
            }
        };
        drain(outIdx, out, outcome.standardOutput);
        drain(errIdx, err, outcome.standardError);
        if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = writeWithoutSigpipe(in.fds[1], input.data() + written, input.size() - written);
            if (put > 0) written += size_t(put);
            if (put < 0 && errno != EAGAIN && errno != EINTR) in.closeEnd(1);
            if (written >= input.size()) in.closeEnd(1);
        }
    }
    in.closeEnd(1);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(status))
        outcome.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        outcome.exitStatus = 128 + WTERMSIG(status);
    return outcome;
}

namespace {

std::optional<std::string> textOf(const std::string& executable, const std::vector<std::string>& arguments,
                                  bool combined, int& exitStatus) {
    Outcome o = execute(executable, arguments);
    exitStatus = o.exitStatus;
    if (!o.launched) return std::nullopt;
    std::string& text = combined ? o.combined : o.standardOutput;
    if (!Utf8::isValid(text)) return std::nullopt;
    return std::move(text);
}

} // namespace

std::optional<std::string> run(const std::string& executable, const std::vector<std::string>& arguments) {
    int status;
    return textOf(executable, arguments, false, status);
}

std::optional<std::string> runCombined(const std::string& executable, const std::vector<std::string>& arguments) {
    int status;
    return textOf(executable, arguments, true, status);
}

std::optional<std::string> run(const std::string& executable, const std::vector<std::string>& arguments,
                               int& exitStatus) {
    return textOf(executable, arguments, false, exitStatus);
}

std::optional<std::string> runCombined(const std::string& executable, const std::vector<std::string>& arguments,
                                       int& exitStatus) {
    return textOf(executable, arguments, true, exitStatus);
}

} // namespace vessora::Shell
