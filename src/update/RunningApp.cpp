#include "update/RunningApp.h"

#include "support/Paths.h"

#include <climits>
#include <unistd.h>

namespace vessora::RunningApp {

std::string bundle() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    std::string executable(buffer, static_cast<size_t>(length));
    std::string macos = Paths::parent(executable);
    std::string contents = Paths::parent(macos);
    std::string folder = Paths::parent(contents);
    if (Paths::lastComponent(macos) != "MacOS" || Paths::lastComponent(contents) != "Contents" ||
        Paths::extension(folder) != "app")
        return {};
    return folder;
}

} // namespace vessora::RunningApp
