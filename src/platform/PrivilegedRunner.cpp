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

PrivilegedOutcome PkexecRunner::run(const std::string& shellCommand) {
    PrivilegedOutcome outcome;
    Shell::Outcome result = Shell::execute(pkexec_, {"/bin/sh", "-c", shellCommand});
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
    return outcome;
}

PrivilegedRunner& defaultPrivilegedRunner() {
    static PkexecRunner runner;
    return runner;
}

} // namespace vessora
