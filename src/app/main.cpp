#include "app/SignatureCommands.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (auto status = vessora::SignatureCommands::run(arguments)) return *status;
    std::fprintf(stderr, "Vessora: the window is not built yet.\n");
    return 1;
}
