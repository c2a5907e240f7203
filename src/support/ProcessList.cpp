#include "support/ProcessList.h"

#include "support/FolderListing.h"
#include "support/Paths.h"

#include <algorithm>
#include <cstdlib>

namespace vessora::ProcessList {

std::vector<Process> all(const std::string& procRoot) {
    std::vector<Process> processes;
    for (const std::string& name : FolderListing::namesOrEmpty(procRoot)) {
        if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos) continue;
        processes.push_back({std::atoi(name.c_str()), Paths::join(procRoot, name)});
    }
    std::sort(processes.begin(), processes.end(), [](const Process& a, const Process& b) { return a.pid < b.pid; });
    return processes;
}

} // namespace vessora::ProcessList
