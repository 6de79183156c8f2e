#include "TovaniCore/Workspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <random>
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

void Workspace::removeAbandoned(const DirectoryHandle& destination) noexcept {
    try {
        std::vector<std::string> names;
        if (destination.names(names) != 0) {
            return;
        }
        for (const std::string& name : names) {
            if (!name.starts_with(namePrefix)) {
                continue;
            }
            struct stat status {};
            if (destination.status(name, status) != 0 || !S_ISDIR(status.st_mode) ||
                status.st_uid != ::geteuid()) {
                continue;
            }
            DirectoryHandle workspace;
            if (destination.openChild(name, workspace) != 0) {
                continue;
            }
            // Only a lock this job could take shows that no job holds it;
            // a file system without locks keeps every workspace.
            if (workspace.lock(false) != 0 ||
                !standsFor(destination, name,
                           DirectoryHandle::Identity{status.st_dev, status.st_ino})) {
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
    // sweeping this folder may take a new workspace before it is locked;
    // then a fresh name is tried.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string name = std::string(namePrefix) + makeUuidText();
        if (destination.makeDirectory(name, 0700) != 0) {
            throw ExtractionError::destinationNotWritable(destinationPath);
        }
        DirectoryHandle handle;
        if (destination.openChild(name, handle) != 0) {
            continue;
        }
        const int locked = handle.lock(false);
        DirectoryHandle::Identity identity;
        if (locked == EWOULDBLOCK || handle.identity(identity) != 0 ||
            !standsFor(destination, name, identity)) {
            continue;
        }
        workspace.handle_ = std::move(handle);
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
