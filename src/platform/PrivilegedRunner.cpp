#include "platform/PrivilegedRunner.h"

#include "support/Shell.h"

#include <utility>

namespace vessora {

namespace {
std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n";
    size_t start = text.find_first_not_of(space);
    if (start == std::string::npos) return {};
    return text.substr(start, text.find_last_not_of(space) - start + 1);
}
} // namespace

PkexecRunner::PkexecRunner(std::string pkexec) : pkexec_(std::move(pkexec)) {}

std::string shellWord(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

PrivilegedOutcome PrivilegedRunner::runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                               const std::string& input) {
    std::string command;
    if (!input.empty()) {
        command = "printf '%s\\0'";
        for (size_t start = 0; start < input.size();) {
            size_t end = input.find('\0', start);
            if (end == std::string::npos) end = input.size();
            command += " " + shellWord(std::string_view(input).substr(start, end - start));
            start = end + 1;
        }
        command += " | ";
    }
    command += shellWord(program);
    for (const std::string& argument : arguments) command += " " + shellWord(argument);
    return run(command);
}

PrivilegedOutcome PkexecRunner::run(const std::string& shellCommand) {
    return execute({"/bin/sh", "-c", shellCommand}, {});
}

PrivilegedOutcome PkexecRunner::runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                           const std::string& input) {
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return execute(all, input);
}

PrivilegedOutcome PkexecRunner::execute(const std::vector<std::string>& arguments, const std::string& input) {
    PrivilegedOutcome outcome;
    Shell::Outcome result = Shell::execute(pkexec_, arguments, input);
    if (!result.launched) {
        outcome.status = PrivilegedOutcome::Status::unavailable;
        outcome.message = "Authorization failed.";
        return outcome;
    }
    if (result.exitStatus == 126 || result.exitStatus == 127) {
        outcome.status = PrivilegedOutcome::Status::refused;
        outcome.message = trimmed(result.standardError);
        if (outcome.message.empty()) outcome.message = "Authorization failed.";
        return outcome;
    }
    outcome.status = PrivilegedOutcome::Status::ran;
    outcome.exitStatus = result.exitStatus;
    outcome.output = std::move(result.standardOutput);
    return outcome;
}

PrivilegedRunner& defaultPrivilegedRunner() {
    static PkexecRunner runner;
    return runner;
}

} // namespace vessora
