// DirectoryHandle owns one open directory and does every file-system call of
// an extraction relative to it. A folder renamed, or replaced by a link, after
// it was opened can never redirect what is created, moved or removed through
// its handle: names are resolved one component at a time, never following a
// link. One source file per platform implements it.
//
//   DirectoryHandle destination;
//   if (int code = DirectoryHandle::open("/home/me/Downloads", destination)) { ... }
//   DirectoryHandle photos;
//   destination.makeDirectory("Photos", 0755);
//   destination.openChild("Photos", photos);
//   int fd = -1;
//   photos.createFile("a.jpg", 0600, fd);  // never through a planted link
//   photos.moveExclusive("a.jpg", destination, "a.jpg");  // EEXIST if taken
//
// Every operation returns 0 or an errno and never throws.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tovani {

class DirectoryHandle {
public:
    // Device and inode: what a directory is, whatever its name.
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const Identity&) const = default;
    };

    // Where an item sits in the mount tree: an item is inside the same file
    // system and mount as a directory only when device and mount match and
    // it is not the root of a mount (a bind mount of the same device is).
    // The kernel may not report the mount; mountKnown says whether it did.
    struct Placement {
        Identity identity;
        std::uint64_t mount = 0;
        bool mountKnown = false;
        // The root of a mount, or a folder where one is mounted on entry.
        bool isMountRoot = false;
        bool isDirectory = false;
        // Whether the item lies in the same mount as the directory at
        // container, and is not a mount point itself.
        [[nodiscard]] bool isWithin(const Placement& container) const;
    };

    // A regular file of this user's, open and exclusively locked for as long
    // as this object lives: what marks a directory as in use.
    class HeldLock {
    public:
        HeldLock() noexcept = default;
        ~HeldLock();
        HeldLock(HeldLock&& other) noexcept;
        HeldLock& operator=(HeldLock&& other) noexcept;
        HeldLock(const HeldLock&) = delete;
        HeldLock& operator=(const HeldLock&) = delete;

        bool isHeld() const { return descriptor_ >= 0; }
        // What the locked file is, whatever its name.
        const Identity& identity() const { return identity_; }

    private:
        friend class DirectoryHandle;
        int descriptor_ = -1;
        Identity identity_;
    };

    DirectoryHandle() noexcept = default;
    ~DirectoryHandle();
    DirectoryHandle(DirectoryHandle&& other) noexcept;
    DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;

    bool isOpen() const { return descriptor_ >= 0; }
    [[nodiscard]] int descriptor() const { return descriptor_; }

    // Opens a directory the caller named by path; links on that path are
    // followed, since the caller chose it. Opened once, it is never looked up
    // by name again.
    [[nodiscard]] static int open(const std::filesystem::path& path, DirectoryHandle& out) noexcept;

    // A second handle on the same open directory.
    [[nodiscard]] int duplicate(DirectoryHandle& out) const noexcept;

    // Opens the directory at components below this one, never leaving it and
    // never following a link (ELOOP, ENOTDIR or EXDEV when one is in the way).
    [[nodiscard]] int openBeneath(std::span<const std::string> components,
                                  DirectoryHandle& out) const noexcept;
    // One name directly inside; a link there fails with ELOOP or ENOTDIR.
    [[nodiscard]] int openChild(const std::string& name, DirectoryHandle& out) const noexcept;

    [[nodiscard]] int identity(Identity& out) const noexcept;
    // Where this directory, or the item at name (never through a link, never
    // triggering an automount), sits in the mount tree.
    [[nodiscard]] int placement(Placement& out) const noexcept;
    [[nodiscard]] int placement(const std::string& name, Placement& out) const noexcept;
    // Whether path, links on it followed, still leads to this very directory.
    [[nodiscard]] bool isNamedBy(const std::filesystem::path& path) const noexcept;
    // Bytes available to this user on the directory's volume, the size of
    // the blocks the volume allocates in, and the items (inodes) this user
    // may still make there, 2^64 - 1 where the volume sets no number.
    [[nodiscard]] int volume(std::uint64_t& available, std::uint64_t& blockSize,
                             std::uint64_t& freeItems) const noexcept;
    // What is at name, the item itself when it is a link.
    [[nodiscard]] int status(const std::string& name, struct stat& out) const noexcept;
    // Names of the entries inside, "." and ".." left out.
    [[nodiscard]] int names(std::vector<std::string>& out) const noexcept;

    [[nodiscard]] int makeDirectory(const std::string& name, mode_t mode) const noexcept;
    // A new file open for writing; fails with EEXIST for anything at name,
    // a dangling link included.
    [[nodiscard]] int createFile(const std::string& name, mode_t mode,
                                 int& descriptor) const noexcept;
    [[nodiscard]] int makeSymbolicLink(const std::string& target,
                                       const std::string& name) const noexcept;
    // A second name for the regular file sourceName in source (never a link).
    [[nodiscard]] int makeHardLink(const DirectoryHandle& source, const std::string& sourceName,
                                   const std::string& name) const noexcept;
    // An exclusive copy of the regular file sourceName in source (see
    // FileSystemPlatform::copyFileExclusive); the new file stays open for
    // writing in descriptor. A source only its owner cannot read (mode 000)
    // is read all the same when it is this user's own file.
    [[nodiscard]] int copyFile(const DirectoryHandle& source, const std::string& sourceName,
                               const std::string& name, int& descriptor) const noexcept;
    // Removes a non-directory.
    [[nodiscard]] int removeFile(const std::string& name) const noexcept;
    // Removes an empty directory.
    [[nodiscard]] int removeDirectory(const std::string& name) const noexcept;
    // Times of the item at name itself, a link included.
    [[nodiscard]] int setTimes(const std::string& name,
                               const struct timespec times[2]) const noexcept;

    // The directory itself.
    // Whether the directory carries a default access list, which new items
    // inherit instead of the umask; true also when that cannot be told.
    [[nodiscard]] bool hasDefaultAccessList() const noexcept;
    [[nodiscard]] int setMode(mode_t mode) const noexcept;
    [[nodiscard]] int setTimes(const struct timespec times[2]) const noexcept;
    [[nodiscard]] int setAttribute(const char* name,
                                   std::span<const std::byte> value) const noexcept;

    // Moves name to toName inside target, never replacing anything there
    // (EEXIST), even on file systems without an exclusive rename.
    [[nodiscard]] int moveExclusive(const std::string& name, const DirectoryHandle& target,
                                    const std::string& toName) const noexcept;

    // Creates name as a new file (EEXIST for anything there, a link
    // included) and locks it before returning it (EWOULDBLOCK when someone
    // else locked it first). On a file system that takes no locks it is
    // returned unlocked, since nobody can lock it there either.
    [[nodiscard]] int createLocked(const std::string& name, mode_t mode,
                                   HeldLock& out) const noexcept;
    // Locks the file at name without waiting: EWOULDBLOCK when someone holds
    // it, ELOOP for a link, EPERM for anything but a regular file of this
    // user's on this directory's device. Never blocks on a FIFO.
    [[nodiscard]] int lockExisting(const std::string& name, HeldLock& out) const noexcept;

    // Removes everything inside, through descriptors only: entries are
    // found by reading the open directory, only directories opened without
    // following a link are entered, and only directories entered this way
    // have their mode opened up. It stays in this directory's mount: a
    // folder on another device, or any mount point, is neither entered nor
    // removed. It holds a fixed number of descriptors however deep the tree
    // (it climbs back through "..", checked against what it came down
    // through), and stops where it cannot tell it is still inside. Never
    // reports failure.
    void removeContents() const noexcept;
    // Removes the item at name the same way: a link or file by unlinking
    // it, a directory with all it holds.
    void removeTree(const std::string& name) const noexcept;

private:
    explicit DirectoryHandle(int descriptor) : descriptor_(descriptor) {}
    void close() noexcept;
    // Hands descriptor to out as a held lock when code is 0, else closes it;
    // returns code.
    static int holdOrClose(int descriptor, int code, const struct stat& status,
                           HeldLock& out) noexcept;

    int descriptor_ = -1;
};

}  // namespace tovani
