// vessora-privileged-remove: the one program Vessora runs as root, through
// pkexec, to delete the items that need administrator rights. It reads the
// items' real paths, each ended by a NUL, on standard input, judges each with
// the removal guard again as root, opens it without following any link, and
// deletes it without crossing into another mount. Nothing ever goes to the
// Trash from here. Standard output carries the report the caller reads.
// Every home folder on the machine is protected; the caller's own home (for
// its user folders and runtime folder) is the one of the user pkexec names in
// PKEXEC_UID, whatever the arguments say. "--home HOME" counts only when the
// helper runs without pkexec (as the tests run it).
//
//   pkexec /path/to/vessora-privileged-remove [--home HOME] < items

#include "removal/Remover.h"
#include "support/ProcessLimits.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace {

// The caller's home folder: the one of the user pkexec says asked, else the
// one given, else empty. `problem` is set when pkexec names a user without one.
std::string callerHome(int argc, char** argv, bool& usageError, std::string& problem) {
    std::string home;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--home" && i + 1 < argc && argv[i + 1][0] == '/') {
            home = argv[++i];
        } else {
            usageError = true;
            return {};
        }
    }
    if (const char* uid = std::getenv("PKEXEC_UID")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(uid, &end, 10);
        const struct passwd* entry = nullptr;
        if (*uid >= '0' && *uid <= '9' && end && *end == '\0' && errno == 0 && value <= 0xFFFFFFFEul)
            entry = ::getpwuid(uid_t(value));
        if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') {
            problem = "the user who asked (PKEXEC_UID " + std::string(uid) + ") has no home folder on record";
            return {};
        }
        return entry->pw_dir;
    }
    return home;
}

} // namespace

int main(int argc, char** argv) {
    vessora::ProcessLimits::raiseDescriptorLimit();
    bool usageError = false;
    std::string problem;
    const std::string home = callerHome(argc, argv, usageError, problem);
    if (usageError) {
        std::fprintf(stderr, "usage: %s [--home HOME] < NUL-separated paths\n", argv[0]);
        return 2;
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "vessora-privileged-remove: %s, so nothing was removed\n", problem.c_str());
        return 2;
    }
    if (!home.empty()) ::setenv("HOME", home.c_str(), 1);

    std::string request;
    char buffer[65536];
    for (ssize_t n; (n = ::read(STDIN_FILENO, buffer, sizeof buffer)) != 0;) {
        if (n < 0) return 1;
        request.append(buffer, size_t(n));
    }
    if (request.find_first_not_of('\0') == std::string::npos) {
        std::fprintf(stderr, "vessora-privileged-remove: no items were given, so nothing was removed\n");
        return 2;
    }
    bool allRemoved = false;
    const std::string report = vessora::Remover::serveAdminRequest(request, allRemoved);
    for (size_t done = 0; done < report.size();) {
        ssize_t n = ::write(STDOUT_FILENO, report.data() + done, report.size() - done);
        if (n <= 0) return 1;
        done += size_t(n);
    }
    return allRemoved ? 0 : 1;
}
