#pragma once
// The processes running on the machine, as the kernel lists them under /proc.

#include <string>
#include <vector>

namespace vessora::ProcessList {

struct Process {
    int pid = 0;
    std::string folder; // procRoot/<pid>
};

// Every process folder below `procRoot` ("/proc" except in tests, which point
// it at a folder laid out the same way), by pid; none when it cannot be read.
std::vector<Process> all(const std::string& procRoot = "/proc");

} // namespace vessora::ProcessList
