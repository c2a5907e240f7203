#pragma once
// Runs the update unpacker on archive bytes inside a fresh temporary folder
// and checks that nothing was written outside the folder it was given: the
// sandbox holds only the archive and that folder afterwards, the folder holds
// only files, folders and links, and no link in it leads out of it.

#include "FuzzCheck.h"
#include "update/ArchiveUnpacker.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

inline std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir))
            if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
                names.insert(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

inline void checkContained(const std::string& path, const std::string& resolvedFolder) {
    struct stat st;
    FUZZ_CHECK(::lstat(path.c_str(), &st) == 0);
    FUZZ_CHECK(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode));
    if (S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        // A dangling link is harmless only if what it would create lies inside too.
        if (::realpath(path.c_str(), resolved)) {
            std::string target = resolved;
            FUZZ_CHECK(target == resolvedFolder || target.starts_with(resolvedFolder + "/"));
        }
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        // Unpacked folders may lack write or search permission for the owner.
        ::chmod(path.c_str(), 0700);
        for (const std::string& name : namesIn(path)) checkContained(path + "/" + name, resolvedFolder);
    }
}

inline int removeOne(const char* path, const struct stat*, int type, struct FTW*) {
    return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
}

inline void unpackContained(std::string_view archiveBytes) {
    const char* tmp = std::getenv("TMPDIR");
    std::string sandbox = std::string(tmp && *tmp ? tmp : "/tmp") + "/vessora-fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(sandbox.data()));
    const std::string archive = sandbox + "/update.zip", folder = sandbox + "/out";
    int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, archiveBytes.data(), archiveBytes.size()) == ssize_t(archiveBytes.size()));
    ::close(fd);
    FUZZ_CHECK(::mkdir(folder.c_str(), 0700) == 0);

    vessora::ArchiveUnpacker::Limits limits;
    limits.maxEntries = 256;
    limits.maxTotalBytes = 1 << 20;
    auto result = vessora::ArchiveUnpacker::unpack(archive, folder, limits);
    FUZZ_CHECK(result.ok || !result.reason.empty());

    FUZZ_CHECK((namesIn(sandbox) == std::set<std::string>{"update.zip", "out"}));
    char resolved[PATH_MAX];
    FUZZ_CHECK(::realpath(folder.c_str(), resolved));
    checkContained(folder, resolved);
    ::nftw(sandbox.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace fuzz
