#include "cli/CommandLine.h"

#include "support/Paths.h"
#include "support/Utf8.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vessora::cli {

std::optional<std::string> ParsedArguments::value(const std::string& option) const {
    auto it = values.find(option);
    if (it == values.end()) return std::nullopt;
    return it->second;
}

ParsedArguments parseArguments(const std::vector<std::string>& args, const std::set<std::string>& flags,
                               const std::set<std::string>& valueOptions) {
    ParsedArguments parsed;
    bool optionsDone = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            parsed.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
            continue;
        }
        if (flags.count(a)) {
            parsed.flags.insert(a);
            continue;
        }
        std::string name = a, value;
        bool inlineValue = false;
        if (size_t eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            inlineValue = true;
        }
        if (!valueOptions.count(name)) {
            parsed.error = "unknown option " + a;
            return parsed;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                parsed.error = name + " needs a value";
                return parsed;
            }
            value = args[++i];
        }
        parsed.values[name] = value;
    }
    return parsed;
}

int usageError(const std::string& usage, const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "vessora: %s\n", problem.c_str());
    std::fprintf(stderr, "usage: vessora %s\n", usage.c_str());
    return 2;
}

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

namespace {
std::atomic<bool> interrupted{false};
extern "C" void onInterrupt(int) { interrupted.store(true); }
} // namespace

std::atomic<bool>& installInterruptFlag() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    return interrupted;
}

void progressLine(const std::string& text) {
    struct winsize ws {};
    size_t width = 80;
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) width = ws.ws_col;
    std::string line = text.size() >= width ? text.substr(0, width - 1) : text;
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}

std::string printable(std::string_view text) { return Utf8::printable(text); }

void writeOut(std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(STDOUT_FILENO, data.data() + done, data.size() - done);
        if (n <= 0) break;
        done += size_t(n);
    }
}

std::string absolutePath(const std::string& path) {
    if (path.starts_with('/')) return path;
    std::string cwd(PATH_MAX, '\0');
    while (!::getcwd(cwd.data(), cwd.size())) {
        if (errno != ERANGE) return path;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::char_traits<char>::length(cwd.c_str()));
    return Paths::join(cwd, path);
}

std::string standardPath(const std::string& path) { return Paths::standardize(absolutePath(path)); }

bool confirmed(const std::string& question) {
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

} // namespace vessora::cli
