#include "cli/Commands.h"

#include <cstdio>

namespace vessora::cli {

int appsCommand(const Arguments&) {
    std::fprintf(stderr, "vessora: this command is not built yet\n");
    return 1;
}

} // namespace vessora::cli
