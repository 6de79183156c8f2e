// Tmpfs mounts a small memory-backed file system for one test, so a test can
// run out of space or of inodes, turn its destination read-only, or make many
// folders fast, without touching the disk. It is unmounted when it goes away.
// Mounting needs root; a test skips when mounted() is false.
//
//   Tmpfs small(dir / "small", "size=1m,mode=0755");
//   if (!small.mounted())
//       GTEST_SKIP() << "cannot mount here";
//   ASSERT_TRUE(small.remount(Tmpfs::readOnly));
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tovani::testing {

class Tmpfs {
public:
    enum Access { readWrite, readOnly };

    // Creates `at` if missing and mounts a tmpfs there with the given mount
    // options ("size=256k", "nr_inodes=6", "mode=0700", ...).
    Tmpfs(const std::filesystem::path& at, const std::string& options, Access access = readWrite);
    ~Tmpfs();
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool mounted() const { return mounted_; }
    // Turns the mounted file system read-only or writable again.
    [[nodiscard]] bool remount(Access access) const;
    // Bytes an unprivileged writer may still use, and the block size.
    std::uint64_t available() const;
    std::uint64_t blockSize() const;

private:
    std::filesystem::path at_;
    bool mounted_ = false;
};

}  // namespace tovani::testing
