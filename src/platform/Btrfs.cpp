#include "platform/Btrfs.h"

#include "support/FolderListing.h"
#include "support/Lines.h"
#include "support/Shell.h"
#include "support/WholeFile.h"

#include <algorithm>
#include <btrfsutil.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::Btrfs {

namespace {

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

bool anySet(const uint8_t (&bytes)[16]) {
    for (uint8_t b : bytes)
        if (b) return true;
    return false;
}

Subvolume record(const char* path, const struct btrfs_util_subvolume_info& info) {
    Subvolume s;
    s.id = info.id;
    s.path = path ? path : "";
    s.readOnly = (info.flags & BTRFS_ROOT_SUBVOL_RDONLY) != 0;
    s.isSnapshot = anySet(info.parent_uuid) || anySet(info.received_uuid);
    if (info.otime.tv_sec > 0)
        s.created = Dates::checkedFromTimespec(long(info.otime.tv_sec), long(info.otime.tv_nsec));
    return s;
}

// The first line of one of the kernel's one-value files.
std::string readSmallFile(const std::string& path) {
    std::string text = WholeFile::read(path, 4096).value_or("");
    text.resize(std::min(text.size(), text.find('\n')));
    return text;
}

bool isFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string failure(const char* what, enum btrfs_util_error error) {
    const int saved = errno;
    std::string reason = std::string(what) + ": " + btrfs_util_strerror(error);
    if (saved != 0) reason += " (" + std::string(std::strerror(saved)) + ")";
    return reason;
}

} // namespace

std::string fileSystemId(const std::string& path) {
    Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) return {};
    struct btrfs_ioctl_fs_info_args info {};
    if (::ioctl(folder.fd, BTRFS_IOC_FS_INFO, &info) != 0) return {};
    char text[37];
    const uint8_t* u = info.fsid;
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[0], u[1],
                  u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
    return text;
}

std::vector<Subvolume> subvolumes(const std::string& mountPoint, bool wholeFileSystem) {
    std::vector<Subvolume> found;
    struct btrfs_util_subvolume_iterator* iterator = nullptr;
    if (btrfs_util_create_subvolume_iterator(mountPoint.c_str(), wholeFileSystem ? topLevelId : 0, 0, &iterator) !=
        BTRFS_UTIL_OK)
        return found;
    for (;;) {
        char* path = nullptr;
        struct btrfs_util_subvolume_info info {};
        const enum btrfs_util_error error = btrfs_util_subvolume_iterator_next_info(iterator, &path, &info);
        if (error != BTRFS_UTIL_OK) break; // the end, or a tree that cannot be read further
        found.push_back(record(path, info));
        std::free(path);
    }
    btrfs_util_destroy_subvolume_iterator(iterator);
    return found;
}

std::optional<Subvolume> subvolume(const std::string& path, uint64_t id) {
    struct btrfs_util_subvolume_info info {};
    if (btrfs_util_subvolume_info(path.c_str(), id, &info) != BTRFS_UTIL_OK) return std::nullopt;
    return record(nullptr, info);
}

uint64_t subvolumeIdOf(int fd) {
    uint64_t id = 0;
    if (btrfs_util_subvolume_id_fd(fd, &id) != BTRFS_UTIL_OK) return 0;
    return id;
}

uint64_t defaultSubvolume(const std::string& mountPoint) {
    uint64_t id = 0;
    if (btrfs_util_get_default_subvolume(mountPoint.c_str(), &id) != BTRFS_UTIL_OK) return 0;
    return id;
}

Quotas parseQgroupShow(std::string_view output) {
    Quotas quotas;
    bool listed = false;
    for (std::string_view line : splitLines(output)) {
        if (line.find("quotas not enabled") != std::string_view::npos) return {};
        if (line.find("inconsistent") != std::string_view::npos || line.find("rescan") != std::string_view::npos)
            quotas.state = QuotaState::stale;
        if (line.starts_with("Qgroupid") || line.starts_with("qgroupid")) listed = true;
        // "0/257   16384   16384   path": level 0 groups are the subvolumes.
        if (!line.starts_with("0/")) continue;
        char* end = nullptr;
        const std::string row(line);
        const unsigned long long id = std::strtoull(row.c_str() + 2, &end, 10);
        if (end == row.c_str() + 2 || (*end != ' ' && *end != '\t')) continue;
        const long long referenced = std::strtoll(end, &end, 10);
        char* exclusiveEnd = nullptr;
        const long long exclusive = std::strtoll(end, &exclusiveEnd, 10);
        if (exclusiveEnd == end || referenced < 0 || exclusive < 0) continue;
        quotas.exclusive[id] = exclusive;
        listed = true;
    }
    if (!listed) return {};
    if (quotas.state != QuotaState::stale) quotas.state = QuotaState::on;
    return quotas;
}

Quotas quotas(const std::string& fileSystemId, const std::string& mountPoint) {
    const std::string root = "/sys/fs/btrfs/" + fileSystemId;
    if (!fileSystemId.empty() && isFolder(root)) {
        // The kernel keeps a folder per subvolume group once quotas are on.
        const std::string groups = root + "/qgroups";
        if (!isFolder(groups)) return {};
        Quotas quotas;
        quotas.state = readSmallFile(groups + "/inconsistent") == "1" ? QuotaState::stale : QuotaState::on;
        for (const std::string& name : FolderListing::namesOrEmpty(groups)) {
            if (!name.starts_with("0_")) continue;
            char* end = nullptr;
            const unsigned long long id = std::strtoull(name.c_str() + 2, &end, 10);
            if (*end != '\0') continue;
            const std::string bytes = readSmallFile(groups + "/" + name + "/exclusive");
            if (bytes.empty()) continue;
            quotas.exclusive[id] = std::strtoll(bytes.c_str(), nullptr, 10);
        }
        return quotas;
    }
    // Kernels before 5.9 publish no counts: ask the tool (it needs administrator rights).
    for (const char* tool : {"/usr/bin/btrfs", "/bin/btrfs", "/usr/sbin/btrfs", "/sbin/btrfs"}) {
        if (::access(tool, X_OK) != 0) continue;
        Shell::Outcome shown = Shell::execute(tool, {"qgroup", "show", "--raw", mountPoint});
        return parseQgroupShow(shown.combined);
    }
    return {};
}

std::string deleteSubvolume(int folderFd, const std::string& name) {
    // The deletion asks the folder itself, so an O_PATH handle is reopened for reading.
    Descriptor folder(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) return std::string("the folder could not be opened: ") + std::strerror(errno);
    errno = 0;
    const enum btrfs_util_error error = btrfs_util_delete_subvolume_fd(folder.fd, name.c_str(), 0);
    return error == BTRFS_UTIL_OK ? std::string() : failure("the subvolume could not be deleted", error);
}

std::string deleteSubvolumeById(const std::string& mountPoint, uint64_t id) {
    Descriptor mount(::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (mount.fd < 0) return std::string("the file system could not be opened: ") + std::strerror(errno);
    errno = 0;
    const enum btrfs_util_error error = btrfs_util_delete_subvolume_by_id_fd(mount.fd, id);
    return error == BTRFS_UTIL_OK ? std::string() : failure("the subvolume could not be deleted", error);
}

} // namespace vessora::Btrfs
