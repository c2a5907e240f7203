#pragma once
// Runs one shell command with administrator rights, asking the user to
// authenticate once. The remover builds the command; the runner only decides
// how rights are obtained. The application model and the tests inject their
// own runner; the default one asks polkit through pkexec.

#include <string>

namespace vessora {

struct PrivilegedOutcome {
    enum class Status {
        ran,         // the command ran with administrator rights (whatever its exit status)
        refused,     // authentication was cancelled or denied: nothing ran
        unavailable, // no way to ask for rights here: nothing ran
    };
    Status status = Status::unavailable;
    int exitStatus = -1; // the command's exit status when it ran
    std::string message; // the system's explanation when it was refused
};

class PrivilegedRunner {
public:
    virtual ~PrivilegedRunner() = default;
    // Runs `shellCommand` as "/bin/sh -c shellCommand" with administrator
    // rights and waits for it to finish.
    virtual PrivilegedOutcome run(const std::string& shellCommand) = 0;
};

// pkexec /bin/sh -c COMMAND. Exit 126 (the dialog was dismissed) and 127 (not
// authorized, or no authentication agent) mean refused, with pkexec's standard
// error as the message, or "Authorization failed." when it said nothing.
class PkexecRunner final : public PrivilegedRunner {
public:
    explicit PkexecRunner(std::string pkexec = "/usr/bin/pkexec");
    PrivilegedOutcome run(const std::string& shellCommand) override;

private:
    std::string pkexec_;
};

// The process-wide pkexec runner used when a caller injects none.
PrivilegedRunner& defaultPrivilegedRunner();

} // namespace vessora
