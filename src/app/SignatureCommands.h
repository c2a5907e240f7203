#pragma once
// The executable's signature commands, which the install script calls on the
// installed copy: they check a bundle with the keys built into this app.

#include <optional>
#include <string>
#include <vector>

namespace vessora::SignatureCommands {

// Handles --verify-signature PATH, --display-signature PATH and --version;
// nothing when the arguments are none of these (the window starts instead),
// else the exit status. Messages go to standard output and standard error.
std::optional<int> run(const std::vector<std::string>& arguments);

} // namespace vessora::SignatureCommands
