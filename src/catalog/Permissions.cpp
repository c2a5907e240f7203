#include "catalog/Permissions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::Permissions {

namespace {
const char* const kPrivacyDatabase = "/Library/Application Support/com.apple.TCC/TCC.db";
const char* const kMessagesFolder = "/Library/Messages";
} // namespace

bool hasFullDiskAccess() { return true; }

bool probeFullDiskAccess(const std::string& home) {
    for (const std::string& candidate : {home + kPrivacyDatabase, std::string(kPrivacyDatabase)}) {
        struct stat st;
        if (::stat(candidate.c_str(), &st) != 0 || ::access(candidate.c_str(), R_OK) != 0) continue;
        int fd = ::open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) continue;
        ::close(fd);
        return true;
    }
    const std::string messages = home + kMessagesFolder;
    struct stat st;
    if (::stat(messages.c_str(), &st) != 0) return false;
    DIR* dir = ::opendir(messages.c_str());
    if (!dir) return false;
    ::closedir(dir);
    return true;
}

} // namespace vessora::Permissions
