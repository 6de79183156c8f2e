#include "TovaniCore/Workspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

#include "TovaniCore/ExtractionError.h"

namespace tovani {

namespace fs = std::filesystem;

std::string makeUuidText() {
    std::random_device device;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        std::uint32_t word = device();
        for (std::size_t j = 0; j < 4; ++j) {
            bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);

    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

namespace {

// Whether name in directory is a directory with the given identity, as seen
// without following a link.
bool standsFor(const DirectoryHandle& directory, const std::string& name,
               const DirectoryHandle::Identity& identity) noexcept {
    struct stat status {};
    return directory.status(name, status) == 0 && S_ISDIR(status.st_mode) &&
           DirectoryHandle::Identity{status.st_dev, status.st_ino} == identity;
}

// Empties an opened workspace and takes its name away, but only while the
// name still stands for it.
void removeOpened(const DirectoryHandle& destination, const std::string& name,
                  const DirectoryHandle& workspace) noexcept {
    // The marker goes last, so that a job killed while cleaning up leaves a
    // workspace the next sweep still knows for one.
    try {
        std::vector<std::string> names;
        if (workspace.names(names) == 0) {
            for (const std::string& item : names) {
                if (item != Workspace::markerName) {
                    workspace.removeTree(item);
                }
            }
        }
    } catch (...) {
        // Out of memory: removeContents below takes what is left in any order.
    }
    (void)workspace.removeFile(Workspace::markerName);
    workspace.removeContents();
    DirectoryHandle::Identity identity;
    if (workspace.identity(identity) != 0) {
        return;
    }
    // Removing is best effort here: a workspace that stays behind is swept
    // by the next job in the destination (removeAbandoned).
    if (standsFor(destination, name, identity)) {
        (void)destination.removeDirectory(name);
        return;
    }
    // Renamed by someone else: the empty directory is found by what it is,
    // never by the name that now stands for something else.
    std::vector<std::string> names;
    if (destination.names(names) != 0) {
        return;
    }
    for (const std::string& other : names) {
        if (standsFor(destination, other, identity)) {
            (void)destination.removeDirectory(other);
            return;
        }
    }
}

}  // namespace

bool isWorkspaceName(std::string_view name) {
    const std::string_view prefix = Workspace::namePrefix;
    if (!name.starts_with(prefix)) {
        return false;
    }
    const std::string_view uuid = name.substr(prefix.size());
    if (uuid.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        const char c = uuid[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') {
                return false;
            }
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    // Version 4, and the variant of RFC 4122: what makeUuidText writes.
    return uuid[14] == '4' &&
           (uuid[19] == '8' || uuid[19] == '9' || uuid[19] == 'A' || uuid[19] == 'B');
}

void Workspace::removeAbandoned(const DirectoryHandle& destination) noexcept {
    try {
        DirectoryHandle::Placement here;
        std::vector<std::string> names;
        if (destination.placement(here) != 0 || destination.names(names) != 0) {
            return;
        }
        for (const std::string& name : names) {
            if (!isWorkspaceName(name)) {
                continue;
            }
            // Never another file system or a mount point, however it got its
            // name: the sweep empties only what lies in the destination's own
            // mount.
            DirectoryHandle::Placement placed;
            struct stat status {};
            if (destination.placement(name, placed) != 0 || !placed.isDirectory ||
                !placed.isWithin(here) || destination.status(name, status) != 0 ||
                status.st_uid != ::geteuid()) {
                continue;
            }
            DirectoryHandle workspace;
            DirectoryHandle::Placement opened;
            if (destination.openChild(name, workspace) != 0 || workspace.placement(opened) != 0 ||
                opened.identity != placed.identity || !opened.isWithin(here)) {
                continue;
            }
            // Only a marker this job can lock shows that a job made the
            // folder and none holds it now; a folder without one, or on a
            // file system without locks, is kept.
            DirectoryHandle::HeldLock marker;
            struct stat markerStatus {};
            if (workspace.lockExisting(markerName, marker) != 0 ||
                workspace.status(markerName, markerStatus) != 0 ||
                DirectoryHandle::Identity{markerStatus.st_dev, markerStatus.st_ino} !=
                    marker.identity() ||
                !standsFor(destination, name, placed.identity)) {
                continue;
            }
            removeOpened(destination, name, workspace);
        }
    } catch (...) {
        // Clean-up never reports failure.
    }
}

Workspace Workspace::create(const DirectoryHandle& destination, const fs::path& destinationPath) {
    removeAbandoned(destination);
    Workspace workspace;
    workspace.destinationPath_ = destinationPath;
    if (destination.duplicate(workspace.destination_) != 0) {
        throw ExtractionError::destinationNotWritable(destinationPath);
    }
    // Linux has no item-replacement directory: the workspace always lives in
    // the destination itself, which guarantees the same volume. Another job
    // sweeping this folder may take a new workspace between its marker's
    // creation and its lock; then a fresh name is tried.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string name = std::string(namePrefix) + makeUuidText();
        if (destination.makeDirectory(name, 0700) != 0) {
            throw ExtractionError::destinationNotWritable(destinationPath);
        }
        DirectoryHandle handle;
        if (destination.openChild(name, handle) != 0) {
            continue;
        }
        DirectoryHandle::HeldLock marker;
        if (const int code = handle.createLocked(markerName, 0600, marker)) {
            // Taken by another job's sweep meanwhile, or not made at all.
            (void)destination.removeDirectory(name);
            if (code == EEXIST || code == EWOULDBLOCK) {
                continue;
            }
            throw ExtractionError::destinationNotWritable(destinationPath);
        }
        struct stat markerStatus {};
        DirectoryHandle::Identity identity;
        if (handle.identity(identity) != 0 || !standsFor(destination, name, identity) ||
            handle.status(markerName, markerStatus) != 0 ||
            DirectoryHandle::Identity{markerStatus.st_dev, markerStatus.st_ino} !=
                marker.identity()) {
            continue;
        }
        workspace.handle_ = std::move(handle);
        workspace.marker_ = std::move(marker);
        workspace.identity_ = identity;
        workspace.name_ = name;
        return workspace;
    }
    throw ExtractionError::destinationNotWritable(destinationPath);
}

Workspace::~Workspace() {
    if (handle_.isOpen()) {
        removeOpened(destination_, name_, handle_);
    }
}

bool Workspace::isInPlace() const noexcept {
    return standsFor(destination_, name_, identity_);
}

}  // namespace tovani
