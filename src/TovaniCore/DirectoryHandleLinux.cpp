#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "TovaniCore/DirectoryHandle.h"
#include "TovaniCore/FileSystemPlatform.h"

namespace tovani {

namespace {

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Cleared once the kernel has said it has no openat2, so that later walks go
// component by component straight away.
std::atomic<bool> kernelHasOpenat2{true};

// openat2 confined below directory: no link followed, no ".." out, no
// /proc magic. ENOSYS when the kernel lacks it.
int openBelow(int directory, const std::string& relative) {
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(directoryFlags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, directory, relative.c_str(), &how, sizeof how));
}

// Reads all names of an open directory through a duplicate, so that the
// directory's own descriptor keeps its offset and stays open.
int readNames(int descriptor, std::vector<std::string>& out) noexcept {
    const int copy = ::openat(descriptor, ".", directoryFlags);
    if (copy < 0) {
        return errno;
    }
    DIR* stream = ::fdopendir(copy);
    if (stream == nullptr) {
        const int code = errno;
        ::close(copy);
        return code;
    }
    int code = 0;
    try {
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(stream);
            if (entry == nullptr) {
                code = errno;
                break;
            }
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                out.emplace_back(entry->d_name);
            }
        }
    } catch (...) {
        code = ENOMEM;
    }
    ::closedir(stream);
    return code;
}

// Where the item at name in directory (or the directory itself, for an
// empty name) sits in the mount tree, without following a link or
// triggering an automount.
int placementAt(int directory, const char* name, DirectoryHandle::Placement& out) {
    struct statx status {};
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name == '\0' ? AT_EMPTY_PATH : 0);
    if (::statx(directory, name, flags, STATX_TYPE | STATX_INO | STATX_MNT_ID, &status) != 0) {
        return errno;
    }
    out = DirectoryHandle::Placement{};
    out.identity = DirectoryHandle::Identity{makedev(status.stx_dev_major, status.stx_dev_minor),
                                             static_cast<ino_t>(status.stx_ino)};
    out.mountKnown = (status.stx_mask & STATX_MNT_ID) != 0;
    out.mount = out.mountKnown ? status.stx_mnt_id : 0;
    out.isMountRoot = (status.stx_attributes & status.stx_attributes_mask &
                       (STATX_ATTR_MOUNT_ROOT | STATX_ATTR_AUTOMOUNT)) != 0;
    out.isDirectory = S_ISDIR(status.stx_mode);
    return 0;
}

// One directory of a removal walk: what it is, its name in the directory
// above, and the directories inside it still to be removed. Only names are
// kept per level, never descriptors.
struct Level {
    DirectoryHandle::Identity identity;
    std::string name;
    std::vector<std::string> directories;
};

// Opens the directory name inside parent for removal: never through a
// link, never outside the walk's mount, and never a mount point. One its
// mode keeps closed is opened up through its own descriptor first; one
// opened but closed to changes is opened up for its owner.
int openForRemoval(int parent, const std::string& name, const DirectoryHandle::Placement& walk,
                   DirectoryHandle::Identity& identity) {
    DirectoryHandle::Placement before;
    if (placementAt(parent, name.c_str(), before) != 0 || !before.isDirectory ||
        !before.isWithin(walk)) {
        return -1;
    }
    int descriptor = ::openat(parent, name.c_str(), directoryFlags);
    if (descriptor < 0 && errno == EACCES) {
        const int item =
            ::openat(parent, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (item < 0) {
            return -1;
        }
        DirectoryHandle::Placement opened;
        // An O_PATH descriptor takes no fchmod; its /proc name is that very directory.
        const std::string self = "/proc/self/fd/" + std::to_string(item);
        if (placementAt(item, "", opened) == 0 && opened.identity == before.identity &&
            ::chmod(self.c_str(), 0700) == 0) {
            descriptor = ::openat(item, ".", directoryFlags);
        }
        ::close(item);
    }
    if (descriptor < 0) {
        return -1;
    }
    // Checked again on what was opened: the name may have been swapped.
    DirectoryHandle::Placement opened;
    struct stat status {};
    if (placementAt(descriptor, "", opened) != 0 || opened.identity != before.identity ||
        !opened.isWithin(walk) || ::fstat(descriptor, &status) != 0) {
        ::close(descriptor);
        return -1;
    }
    if ((status.st_mode & 0700) != 0700 && status.st_uid == ::geteuid()) {
        (void)::fchmod(descriptor, 0700);
    }
    identity = before.identity;
    return descriptor;
}

// Unlinks everything but directories inside directory, and lists those.
void removeFilesInside(int directory, std::vector<std::string>& directories) {
    std::vector<std::string> entries;
    (void)readNames(directory, entries);
    for (std::string& name : entries) {
        if (::unlinkat(directory, name.c_str(), 0) != 0 && errno == EISDIR) {
            directories.push_back(std::move(name));
        }
    }
}

// The directory above current, which must be levels[depth - 1]: through
// "..", or else walked down again from the walk's root by the names the walk
// came through. -1 when neither leads back to that very directory.
int openAbove(int root, int current, const std::vector<Level>& levels) {
    const std::size_t above = levels.size() - 2;
    const int parent = ::openat(current, "..", directoryFlags);
    struct stat status {};
    if (parent >= 0) {
        if (::fstat(parent, &status) == 0 &&
            DirectoryHandle::Identity{status.st_dev, status.st_ino} == levels[above].identity) {
            return parent;
        }
        ::close(parent);
    }
    int walked = ::fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (std::size_t depth = 1; walked >= 0 && depth <= above; ++depth) {
        const int next = ::openat(walked, levels[depth].name.c_str(), directoryFlags);
        ::close(walked);
        walked = next;
        if (walked >= 0 &&
            (::fstat(walked, &status) != 0 ||
             DirectoryHandle::Identity{status.st_dev, status.st_ino} != levels[depth].identity)) {
            ::close(walked);
            walked = -1;
        }
    }
    return walked;
}

// Removes everything inside root, depth first, holding at most three
// descriptors at any time: the root's, the current directory's, and one
// being opened.
void removeInside(int root) noexcept {
    int current = -1;
    try {
        DirectoryHandle::Placement walk;
        if (placementAt(root, "", walk) != 0) {
            return;
        }
        current = ::fcntl(root, F_DUPFD_CLOEXEC, 0);
        if (current < 0) {
            return;
        }
        std::vector<Level> levels;
        levels.push_back(Level{walk.identity, "", {}});
        removeFilesInside(current, levels.back().directories);
        for (;;) {
            Level& level = levels.back();
            if (!level.directories.empty()) {
                Level next;
                next.name = std::move(level.directories.back());
                level.directories.pop_back();
                const int child = openForRemoval(current, next.name, walk, next.identity);
                if (child < 0) {
                    continue;
                }
                ::close(current);
                current = child;
                levels.push_back(std::move(next));
                removeFilesInside(current, levels.back().directories);
                continue;
            }
            if (levels.size() == 1) {
                break;
            }
            const int parent = openAbove(root, current, levels);
            ::close(current);
            current = parent;
            if (current < 0) {
                // Moved out from under the walk: what is left is not reached
                // by any name the walk can vouch for.
                return;
            }
            const std::string name = std::move(levels.back().name);
            levels.pop_back();
            (void)::unlinkat(current, name.c_str(), AT_REMOVEDIR);
        }
    } catch (...) {
        // Out of memory: what is left stays.
    }
    if (current >= 0) {
        ::close(current);
    }
}

}  // namespace

bool DirectoryHandle::Placement::isWithin(const Placement& container) const {
    return identity.device == container.identity.device && !isMountRoot &&
           (!mountKnown || !container.mountKnown || mount == container.mount);
}

DirectoryHandle::HeldLock::~HeldLock() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

DirectoryHandle::HeldLock::HeldLock(HeldLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), identity_(other.identity_) {}

DirectoryHandle::HeldLock& DirectoryHandle::HeldLock::operator=(HeldLock&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        descriptor_ = std::exchange(other.descriptor_, -1);
        identity_ = other.identity_;
    }
    return *this;
}

DirectoryHandle::~DirectoryHandle() {
    close();
}

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
    if (this != &other) {
        close();
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

void DirectoryHandle::close() noexcept {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

int DirectoryHandle::open(const std::filesystem::path& path, DirectoryHandle& out) noexcept {
    int descriptor = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0 && errno == EACCES) {
        // A folder one may write to but not list still takes new names.
        descriptor = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    if (descriptor < 0) {
        return errno;
    }
    out = DirectoryHandle(descriptor);
    return 0;
}

int DirectoryHandle::duplicate(DirectoryHandle& out) const noexcept {
    const int descriptor = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0) {
        return errno;
    }
    out = DirectoryHandle(descriptor);
    return 0;
}

int DirectoryHandle::openChild(const std::string& name, DirectoryHandle& out) const noexcept {
    const int descriptor = ::openat(descriptor_, name.c_str(), directoryFlags);
    if (descriptor < 0) {
        return errno;
    }
    out = DirectoryHandle(descriptor);
    return 0;
}

int DirectoryHandle::openBeneath(std::span<const std::string> components,
                                 DirectoryHandle& out) const noexcept {
    if (components.empty()) {
        const int descriptor = ::openat(descriptor_, ".", directoryFlags);
        if (descriptor < 0) {
            return errno;
        }
        out = DirectoryHandle(descriptor);
        return 0;
    }
    if (kernelHasOpenat2.load(std::memory_order_relaxed)) {
        try {
            std::string relative;
            for (const std::string& component : components) {
                if (!relative.empty()) {
                    relative += '/';
                }
                relative += component;
            }
            const int descriptor = openBelow(descriptor_, relative);
            if (descriptor >= 0) {
                out = DirectoryHandle(descriptor);
                return 0;
            }
            if (errno != ENOSYS) {
                return errno;
            }
            kernelHasOpenat2.store(false, std::memory_order_relaxed);
        } catch (...) {
            return ENOMEM;
        }
    }
    // Component by component: each name is one step, and a link is never
    // followed (the caller's components hold no "/", "." or "..").
    DirectoryHandle current;
    const DirectoryHandle* base = this;
    for (const std::string& component : components) {
        if (component.empty() || component == "." || component == ".." ||
            component.find('/') != std::string::npos) {
            return EXDEV;
        }
        DirectoryHandle next;
        if (const int code = base->openChild(component, next)) {
            return code;
        }
        current = std::move(next);
        base = &current;
    }
    out = std::move(current);
    return 0;
}

int DirectoryHandle::identity(Identity& out) const noexcept {
    struct stat status;
    if (::fstat(descriptor_, &status) != 0) {
        return errno;
    }
    out = Identity{status.st_dev, status.st_ino};
    return 0;
}

int DirectoryHandle::placement(Placement& out) const noexcept {
    return placementAt(descriptor_, "", out);
}

int DirectoryHandle::placement(const std::string& name, Placement& out) const noexcept {
    // An empty name would stand for this directory itself.
    return name.empty() ? ENOENT : placementAt(descriptor_, name.c_str(), out);
}

bool DirectoryHandle::isNamedBy(const std::filesystem::path& path) const noexcept {
    struct stat named;
    struct stat opened;
    return ::stat(path.c_str(), &named) == 0 && ::fstat(descriptor_, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

int DirectoryHandle::volume(std::uint64_t& available, std::uint64_t& blockSize,
                            std::uint64_t& freeItems) const noexcept {
    struct statvfs figures;
    if (::fstatvfs(descriptor_, &figures) != 0) {
        return errno;
    }
    blockSize = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(figures.f_bavail),
                               static_cast<std::uint64_t>(figures.f_frsize), &available)) {
        available = std::numeric_limits<std::uint64_t>::max();
    }
    // btrfs and others make inodes as they go and report none in all.
    freeItems = figures.f_files == 0 ? std::numeric_limits<std::uint64_t>::max()
                                     : static_cast<std::uint64_t>(figures.f_favail);
    return 0;
}

int DirectoryHandle::status(const std::string& name, struct stat& out) const noexcept {
    return ::fstatat(descriptor_, name.c_str(), &out, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int DirectoryHandle::names(std::vector<std::string>& out) const noexcept {
    return readNames(descriptor_, out);
}

int DirectoryHandle::makeDirectory(const std::string& name, mode_t mode) const noexcept {
    return ::mkdirat(descriptor_, name.c_str(), mode) == 0 ? 0 : errno;
}

int DirectoryHandle::createFile(const std::string& name, mode_t mode,
                                int& descriptor) const noexcept {
    descriptor = ::openat(descriptor_, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    return descriptor >= 0 ? 0 : errno;
}

int DirectoryHandle::makeSymbolicLink(const std::string& target,
                                      const std::string& name) const noexcept {
    return ::symlinkat(target.c_str(), descriptor_, name.c_str()) == 0 ? 0 : errno;
}

int DirectoryHandle::makeHardLink(const DirectoryHandle& source, const std::string& sourceName,
                                  const std::string& name) const noexcept {
    // Without AT_SYMLINK_FOLLOW a link at sourceName is linked itself, never its target.
    return ::linkat(source.descriptor_, sourceName.c_str(), descriptor_, name.c_str(), 0) == 0
               ? 0
               : errno;
}

int DirectoryHandle::copyFile(const DirectoryHandle& source, const std::string& sourceName,
                              const std::string& name, int& descriptor) const noexcept {
    descriptor = -1;
    return FileSystemPlatform::copyFileExclusiveAt(source.descriptor_, sourceName.c_str(),
                                                   descriptor_, name.c_str(), &descriptor, true);
}

int DirectoryHandle::removeFile(const std::string& name) const noexcept {
    return ::unlinkat(descriptor_, name.c_str(), 0) == 0 ? 0 : errno;
}

int DirectoryHandle::removeDirectory(const std::string& name) const noexcept {
    return ::unlinkat(descriptor_, name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

int DirectoryHandle::setTimes(const std::string& name,
                              const struct timespec times[2]) const noexcept {
    return ::utimensat(descriptor_, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

bool DirectoryHandle::hasDefaultAccessList() const noexcept {
    if (::fgetxattr(descriptor_, "system.posix_acl_default", nullptr, 0) >= 0) {
        return true;
    }
    return errno != ENODATA && errno != ENOTSUP;
}

int DirectoryHandle::setMode(mode_t mode) const noexcept {
    return ::fchmod(descriptor_, mode) == 0 ? 0 : errno;
}

int DirectoryHandle::setTimes(const struct timespec times[2]) const noexcept {
    return ::futimens(descriptor_, times) == 0 ? 0 : errno;
}

int DirectoryHandle::setAttribute(const char* name,
                                  std::span<const std::byte> value) const noexcept {
    return FileSystemPlatform::setAttribute(descriptor_, name, value);
}

int DirectoryHandle::moveExclusive(const std::string& name, const DirectoryHandle& target,
                                   const std::string& toName) const noexcept {
    return FileSystemPlatform::renameExclusiveAt(descriptor_, name.c_str(), target.descriptor_,
                                                 toName.c_str());
}

int DirectoryHandle::holdOrClose(int descriptor, int code, const struct stat& status,
                                 HeldLock& out) noexcept {
    if (code != 0) {
        ::close(descriptor);
        return code;
    }
    out = HeldLock();
    out.descriptor_ = descriptor;
    out.identity_ = Identity{status.st_dev, status.st_ino};
    return 0;
}

int DirectoryHandle::createLocked(const std::string& name, mode_t mode,
                                  HeldLock& out) const noexcept {
    // Read-only: the lock needs no more, and a file open for writing would
    // keep its volume from being turned read-only.
    const int descriptor = ::openat(descriptor_, name.c_str(),
                                    O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (descriptor < 0) {
        return errno;
    }
    struct stat status {};
    int code = ::fstat(descriptor, &status) == 0 ? 0 : errno;
    // Where the file system takes no locks at all, the file stays unlocked:
    // nobody else can lock it there either.
    if (code == 0 && ::flock(descriptor, LOCK_EX | LOCK_NB) != 0 &&
        (errno == EWOULDBLOCK || errno == EINTR)) {
        code = errno;
    }
    return holdOrClose(descriptor, code, status, out);
}

int DirectoryHandle::lockExisting(const std::string& name, HeldLock& out) const noexcept {
    // Non-blocking, so that a FIFO planted at name cannot stall the open.
    const int descriptor = ::openat(descriptor_, name.c_str(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        return errno;
    }
    struct stat status {};
    struct stat here {};
    int code = 0;
    if (::fstat(descriptor, &status) != 0 || ::fstat(descriptor_, &here) != 0) {
        code = errno;
    } else if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
               status.st_dev != here.st_dev) {
        code = EPERM;
    } else if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        code = errno;
    }
    return holdOrClose(descriptor, code, status, out);
}

void DirectoryHandle::removeContents() const noexcept {
    if (descriptor_ >= 0) {
        removeInside(descriptor_);
    }
}

void DirectoryHandle::removeTree(const std::string& name) const noexcept {
    if (::unlinkat(descriptor_, name.c_str(), 0) == 0 || errno != EISDIR) {
        return;
    }
    Placement here;
    Identity identity;
    if (placement(here) != 0) {
        return;
    }
    const int child = openForRemoval(descriptor_, name, here, identity);
    if (child < 0) {
        return;
    }
    removeInside(child);
    ::close(child);
    ::unlinkat(descriptor_, name.c_str(), AT_REMOVEDIR);
}

}  // namespace tovani
