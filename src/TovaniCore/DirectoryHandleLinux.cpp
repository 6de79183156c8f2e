#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
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

// Opens a directory found inside parent for removal: never through a link;
// one its mode keeps closed is opened up through its own descriptor first.
int openForRemoval(int parent, const char* name) {
    const int descriptor = ::openat(parent, name, directoryFlags);
    if (descriptor >= 0 || errno != EACCES) {
        return descriptor;
    }
    const int item = ::openat(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (item < 0) {
        return -1;
    }
    // An O_PATH descriptor takes no fchmod; its /proc name is that very directory.
    const std::string self = "/proc/self/fd/" + std::to_string(item);
    int opened = -1;
    if (::chmod(self.c_str(), 0700) == 0) {
        opened = ::openat(item, ".", directoryFlags);
    }
    ::close(item);
    return opened;
}

void removeInside(int directory) noexcept {
    std::vector<std::string> entries;
    readNames(directory, entries);
    for (const std::string& name : entries) {
        if (::unlinkat(directory, name.c_str(), 0) == 0) {
            continue;
        }
        const int child = openForRemoval(directory, name.c_str());
        if (child < 0) {
            continue;
        }
        removeInside(child);
        ::close(child);
        ::unlinkat(directory, name.c_str(), AT_REMOVEDIR);
    }
}

}  // namespace

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

bool DirectoryHandle::isNamedBy(const std::filesystem::path& path) const noexcept {
    struct stat named;
    struct stat opened;
    return ::stat(path.c_str(), &named) == 0 && ::fstat(descriptor_, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

int DirectoryHandle::volume(std::uint64_t& available, std::uint64_t& blockSize) const noexcept {
    struct statvfs figures;
    if (::fstatvfs(descriptor_, &figures) != 0) {
        return errno;
    }
    blockSize = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(figures.f_bavail),
                               static_cast<std::uint64_t>(figures.f_frsize), &available)) {
        available = std::numeric_limits<std::uint64_t>::max();
    }
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

int DirectoryHandle::lock(bool wait) const noexcept {
    for (;;) {
        if (::flock(descriptor_, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) {
            return 0;
        }
        if (errno != EINTR || !wait) {
            return errno;
        }
    }
}

int DirectoryHandle::unlock() const noexcept {
    return ::flock(descriptor_, LOCK_UN) == 0 ? 0 : errno;
}

void DirectoryHandle::removeContents() const noexcept {
    if (descriptor_ >= 0) {
        removeInside(descriptor_);
    }
}

void DirectoryHandle::removeTree(const std::string& name) const noexcept {
    if (::unlinkat(descriptor_, name.c_str(), 0) == 0) {
        return;
    }
    const int child = openForRemoval(descriptor_, name.c_str());
    if (child < 0) {
        return;
    }
    removeInside(child);
    ::close(child);
    ::unlinkat(descriptor_, name.c_str(), AT_REMOVEDIR);
}

}  // namespace tovani
