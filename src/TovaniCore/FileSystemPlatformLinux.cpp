#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "TovaniCore/FileSystemPlatform.h"
#include "TovaniCore/FileSystemPlatformLinux.h"

namespace tovani::FileSystemPlatform {

// Browsers and downloaders record a download's origin under this name.
const char* const provenanceAttribute = "user.xdg.origin.url";

namespace {

// Read while the process is still starting up and has a single thread, so
// that briefly changing the umask to learn it disturbs nobody.
const mode_t startupUmask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return descriptor_; }
    void reset(int descriptor) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        descriptor_ = descriptor;
    }
    int release() {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        return descriptor;
    }
    // Closing a written file can report a delayed write error.
    int close() {
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int descriptor_;
};

// A move of a non-directory without the no-replace flag: link() fails with
// EEXIST whatever is at to, dangling links included, and never replaces.
int moveByLinking(int fromDirectory, const char* from, int toDirectory, const char* to) {
    if (::linkat(fromDirectory, from, toDirectory, to, 0) != 0) {
        return errno;
    }
    if (::unlinkat(fromDirectory, from, 0) != 0) {
        const int code = errno;
        ::unlinkat(toDirectory, to, 0);
        return code;
    }
    return 0;
}

// A directory has no link(). mkdir() claims the name atomically, failing
// with EEXIST when anything is there; rename() then only replaces this empty
// directory of our own. rename() of a directory never replaces a
// non-directory or a non-empty directory, so nothing that existed before the
// call, and nothing with content, can ever be replaced; the one thing another
// program could lose in the moment between the two calls is an empty
// directory it put in place of the reservation.
int moveIntoReservation(int fromDirectory, const char* from, int toDirectory, const char* to) {
    if (::mkdirat(toDirectory, to, 0700) != 0) {
        return errno;
    }
    if (::renameat(fromDirectory, from, toDirectory, to) != 0) {
        const int code = errno;
        ::unlinkat(toDirectory, to, AT_REMOVEDIR);
        return code;
    }
    return 0;
}

// Opens a regular file of this user's that its mode keeps even its owner
// from reading: read permission is granted for the moment of the open,
// through a descriptor of the file itself (never by name), and the mode is
// put back through the new descriptor. -1 with errno otherwise.
int openOwnUnreadable(int directory, const char* name, int flags) {
    Descriptor item(::openat(directory, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat status;
    if (item.get() < 0 || ::fstat(item.get(), &status) != 0) {
        return -1;
    }
    if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        errno = EACCES;
        return -1;
    }
    // A descriptor opened with O_PATH takes no fchmod; its /proc name acts on
    // exactly that file.
    const std::string self = "/proc/self/fd/" + std::to_string(item.get());
    if (::chmod(self.c_str(), (status.st_mode & 07777) | S_IRUSR) != 0) {
        return -1;
    }
    const int descriptor = ::open(self.c_str(), flags & ~O_NOFOLLOW);
    const int code = errno;
    if (descriptor >= 0) {
        ::fchmod(descriptor, status.st_mode & 07777);
    } else {
        ::chmod(self.c_str(), status.st_mode & 07777);
    }
    errno = code;
    return descriptor;
}

int writeAll(int descriptor, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

int copyByReading(int input, int output) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(input, buffer, sizeof buffer);
        if (count == 0) {
            return 0;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (const int code = writeAll(output, buffer, static_cast<std::size_t>(count))) {
            return code;
        }
    }
}

bool copyRangeUnsupported(int code) {
    return code == EXDEV || code == EINVAL || code == ENOSYS || code == EOPNOTSUPP || code == EBADF;
}

int copyData(int input, int output) {
    if (::ioctl(output, FICLONE, input) == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t count =
            ::copy_file_range(input, nullptr, output, nullptr, std::size_t{1} << 30, 0);
        if (count > 0) {
            continue;
        }
        if (count == 0) {
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (copyRangeUnsupported(errno)) {
            // Both offsets stand where copy_file_range left them.
            return copyByReading(input, output);
        }
        return errno;
    }
}

int copyUserAttributes(int input, int output) {
    ssize_t size = ::flistxattr(input, nullptr, 0);
    if (size < 0) {
        return errno == ENOTSUP ? 0 : errno;
    }
    if (size == 0) {
        return 0;
    }
    std::unique_ptr<char[]> names(new (std::nothrow) char[static_cast<std::size_t>(size)]);
    if (!names) {
        return ENOMEM;
    }
    size = ::flistxattr(input, names.get(), static_cast<std::size_t>(size));
    if (size < 0) {
        return errno;
    }
    for (const char* name = names.get(); name < names.get() + size; name += std::strlen(name) + 1) {
        if (std::string_view(name).substr(0, 5) != "user.") {
            continue;
        }
        const ssize_t length = ::fgetxattr(input, name, nullptr, 0);
        if (length < 0) {
            return errno;
        }
        std::unique_ptr<char[]> value(new (std::nothrow) char[length > 0 ? length : 1]);
        if (!value) {
            return ENOMEM;
        }
        const ssize_t read =
            ::fgetxattr(input, name, value.get(), static_cast<std::size_t>(length));
        if (read < 0) {
            return errno;
        }
        if (::fsetxattr(output, name, value.get(), static_cast<std::size_t>(read), 0) != 0) {
            // A destination without extended attributes simply keeps none.
            return errno == ENOTSUP ? 0 : errno;
        }
    }
    return 0;
}

int copyContents(int input, int output, const struct stat& status) {
    if (const int code = copyData(input, output)) {
        return code;
    }
    // Attributes go on while the new file is still owner-writable.
    if (const int code = copyUserAttributes(input, output)) {
        return code;
    }
    if (::fchmod(output, status.st_mode & 07777) != 0) {
        return errno;
    }
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (::futimens(output, times) != 0) {
        return errno;
    }
    return 0;
}

}  // namespace

int renameExclusive(const std::filesystem::path& from, const std::filesystem::path& to) noexcept {
    return renameExclusiveAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
}

int renameExclusiveAt(int fromDirectory, const char* from, int toDirectory,
                      const char* to) noexcept {
    if (::renameat2(fromDirectory, from, toDirectory, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    const int code = errno;
    // EINVAL: the file system does not know the flag; ENOSYS: nor does the kernel.
    if (code != EINVAL && code != ENOSYS) {
        return code;
    }
    return renameWithoutNoReplaceFlagAt(fromDirectory, from, toDirectory, to);
}

int renameWithoutNoReplaceFlag(const std::filesystem::path& from,
                               const std::filesystem::path& to) noexcept {
    return renameWithoutNoReplaceFlagAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
}

int renameWithoutNoReplaceFlagAt(int fromDirectory, const char* from, int toDirectory,
                                 const char* to) noexcept {
    struct stat status;
    if (::fstatat(fromDirectory, from, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    return S_ISDIR(status.st_mode) ? moveIntoReservation(fromDirectory, from, toDirectory, to)
                                   : moveByLinking(fromDirectory, from, toDirectory, to);
}

int copyFileExclusive(const std::filesystem::path& source,
                      const std::filesystem::path& destination) noexcept {
    return copyFileExclusiveAt(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), nullptr,
                               false);
}

int copyFileExclusiveAt(int sourceDirectory, const char* source, int destinationDirectory,
                        const char* destination, int* keptOpen, bool readOwnUnreadable) noexcept {
    // O_NONBLOCK keeps a FIFO planted at source from blocking the open.
    constexpr int readFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    Descriptor input(::openat(sourceDirectory, source, readFlags));
    if (input.get() < 0 && errno == EACCES && readOwnUnreadable) {
        input.reset(openOwnUnreadable(sourceDirectory, source, readFlags));
    }
    if (input.get() < 0) {
        return errno;
    }
    struct stat status;
    if (::fstat(input.get(), &status) != 0) {
        return errno;
    }
    if (!S_ISREG(status.st_mode)) {
        return S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    }
    Descriptor output(::openat(destinationDirectory, destination,
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (output.get() < 0) {
        return errno;
    }
    int code = copyContents(input.get(), output.get(), status);
    if (code == 0 && keptOpen != nullptr) {
        *keptOpen = output.release();
        return 0;
    }
    if (const int closed = output.close(); code == 0) {
        code = closed;
    }
    if (code != 0) {
        ::unlinkat(destinationDirectory, destination, 0);
    }
    return code;
}

std::uint64_t availableCapacity(const std::filesystem::path& directory) noexcept {
    struct statvfs figures;
    if (::statvfs(directory.c_str(), &figures) != 0) {
        return 0;
    }
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(figures.f_bavail),
                               static_cast<std::uint64_t>(figures.f_frsize), &bytes)) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return bytes;
}

std::optional<std::vector<std::byte>> readAttribute(const std::filesystem::path& path,
                                                    const char* name) noexcept {
    const ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0);
    if (size <= 0) {
        return std::nullopt;
    }
    try {
        std::vector<std::byte> value(static_cast<std::size_t>(size));
        if (::getxattr(path.c_str(), name, value.data(), value.size()) != size) {
            return std::nullopt;
        }
        return value;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

int setAttribute(const std::filesystem::path& path, const char* name,
                 std::span<const std::byte> value, bool noFollow) noexcept {
    const int result = noFollow ? ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0)
                                : ::setxattr(path.c_str(), name, value.data(), value.size(), 0);
    return result == 0 ? 0 : errno;
}

int setAttribute(int descriptor, const char* name, std::span<const std::byte> value) noexcept {
    return ::fsetxattr(descriptor, name, value.data(), value.size(), 0) == 0 ? 0 : errno;
}

int reserveBlocks(int descriptor, std::uint64_t size) noexcept {
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return EFBIG;
    }
    return ::fallocate(descriptor, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0 ? 0
                                                                                          : errno;
}

mode_t processUmask() noexcept {
    // The kernel shows the umask in the status file; reading it leaves the
    // mask alone, unlike umask(), which can only set it.
    const int descriptor = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return startupUmask;
    }
    char text[4096];
    std::size_t length = 0;
    for (;;) {
        const ssize_t count = ::read(descriptor, text + length, sizeof text - 1 - length);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        length += static_cast<std::size_t>(count);
        if (length == sizeof text - 1) {
            break;
        }
    }
    ::close(descriptor);
    const std::string_view status(text, length);
    const std::string_view key = "\nUmask:";
    const std::size_t found = status.find(key);
    if (found == std::string_view::npos) {
        return startupUmask;
    }
    std::size_t at = found + key.size();
    while (at < status.size() && (status[at] == ' ' || status[at] == '\t')) {
        ++at;
    }
    mode_t mask = 0;
    std::size_t digits = 0;
    for (; at < status.size() && status[at] >= '0' && status[at] <= '7'; ++at, ++digits) {
        mask = static_cast<mode_t>(mask * 8 + static_cast<mode_t>(status[at] - '0'));
    }
    return digits > 0 ? (mask & 0777) : startupUmask;
}

}  // namespace tovani::FileSystemPlatform
