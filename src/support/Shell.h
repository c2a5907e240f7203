#pragma once
// Runs an executable by absolute path with an argument vector, never through a
// shell, so no argument is ever interpreted.

#include <optional>
#include <string>
#include <vector>

namespace vessora::Shell {

struct Outcome {
    bool launched = false;      // false when the program could not be started
    int exitStatus = -1;        // exit code; 128 + signal number when killed by a signal
    std::string standardOutput; // raw bytes
    std::string standardError;  // raw bytes
    std::string combined;       // both streams interleaved as they arrived
};

// Runs the program to its end, draining both streams concurrently so a child
// that fills one pipe never blocks on it. `input` is written to its standard
// input (closed afterwards; empty means nothing is written).
Outcome execute(const std::string& executable, const std::vector<std::string>& arguments,
                const std::string& input = {});

// Standard output as UTF-8 text; nothing when the program cannot be started or
// its output is not valid UTF-8. Standard error is discarded.
std::optional<std::string> run(const std::string& executable, const std::vector<std::string>& arguments);

// Both streams joined as they came; nothing under the same conditions as run.
std::optional<std::string> runCombined(const std::string& executable, const std::vector<std::string>& arguments);

// Like run / runCombined, and also the exit status (-1 when not launched).
std::optional<std::string> run(const std::string& executable, const std::vector<std::string>& arguments,
                               int& exitStatus);
std::optional<std::string> runCombined(const std::string& executable, const std::vector<std::string>& arguments,
                                       int& exitStatus);

} // namespace vessora::Shell
