#include "support/Tmpfs.h"

#include <sys/mount.h>
#include <sys/statvfs.h>

namespace tovani::testing {

namespace {

unsigned long accessFlags(Tmpfs::Access access) {
    return access == Tmpfs::readOnly ? MS_RDONLY : 0;
}

struct statvfs figuresOf(const std::filesystem::path& at) {
    struct statvfs figures {};
    ::statvfs(at.c_str(), &figures);
    return figures;
}

}  // namespace

Tmpfs::Tmpfs(const std::filesystem::path& at, const std::string& options, Access access) : at_(at) {
    std::filesystem::create_directories(at);
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", accessFlags(access), options.c_str()) == 0;
}

Tmpfs::~Tmpfs() {
    // Detached, so a file a test still holds open cannot keep it mounted.
    if (mounted_)
        ::umount2(at_.c_str(), MNT_DETACH);
}

bool Tmpfs::remount(Access access) const {
    return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | accessFlags(access), nullptr) == 0;
}

std::uint64_t Tmpfs::available() const {
    const struct statvfs figures = figuresOf(at_);
    return std::uint64_t{figures.f_bavail} * figures.f_frsize;
}

std::uint64_t Tmpfs::blockSize() const {
    return figuresOf(at_).f_frsize;
}

}  // namespace tovani::testing
