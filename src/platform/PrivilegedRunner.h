#pragma once
// Runs one program or shell command with administrator rights, asking the
// user to authenticate once. The remover decides what runs; the runner only
// decides how rights are obtained. The application model and the tests inject
// their own runner; the default one asks polkit through pkexec.

#include <string>
#include <string_view>
#include <vector>

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
    std::string output;  // what the program wrote on its standard output, when the runner captures it
};

class PrivilegedRunner {
public:
    virtual ~PrivilegedRunner() = default;
    // Runs `shellCommand` as "/bin/sh -c shellCommand" with administrator
    // rights and waits for it to finish.
    virtual PrivilegedOutcome run(const std::string& shellCommand) = 0;
    // Runs `program` (an absolute path) with `arguments`, writing `input` to
    // its standard input. The default passes it through run() as a shell
    // command that pipes the NUL-separated pieces of `input` into the program
    // (so no piece may hold a NUL), for runners that only run shell commands.
    virtual PrivilegedOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                         const std::string& input);
};

// One shell word: every ' becomes '\'' and the whole is wrapped in '...'.
std::string shellWord(std::string_view text);

// pkexec /bin/sh -c COMMAND. Exit 126 (the dialog was dismissed) and 127 (not
// authorized, or no authentication agent) mean refused, with pkexec's standard
// error as the message, or "Authorization failed." when it said nothing.
class PkexecRunner final : public PrivilegedRunner {
public:
    explicit PkexecRunner(std::string pkexec = "/usr/bin/pkexec");
    PrivilegedOutcome run(const std::string& shellCommand) override;
    // pkexec PROGRAM ARGUMENTS..., `input` on its standard input, its standard output kept.
    PrivilegedOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                 const std::string& input) override;

private:
    PrivilegedOutcome execute(const std::vector<std::string>& arguments, const std::string& input);
    std::string pkexec_;
};

// The process-wide pkexec runner used when a caller injects none.
PrivilegedRunner& defaultPrivilegedRunner();

} // namespace vessora
