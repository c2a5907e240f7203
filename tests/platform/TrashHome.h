#pragma once
// A home folder and data folder of the test's own, so that the code under test
// and trash-cli both look at a temporary trash.

#include "TestSupport.h"

#include <sys/stat.h>

namespace vessora::test {

struct TrashHome {
    TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv data{"XDG_DATA_HOME", dir / "home/.local/share"};
    TrashHome() {
        makeDirs(dir / "home");
        // An unprivileged child may keep its own trash here too.
        ::chmod((dir / "home").c_str(), 0777);
    }
    std::string trash() const { return dir / "home/.local/share/Trash"; }
};

} // namespace vessora::test
