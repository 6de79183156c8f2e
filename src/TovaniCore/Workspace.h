// Workspace is the private directory one extraction stages its output in:
// on the destination's volume, so that the result moves into place with one
// rename, and removed with everything in it when the Workspace goes away.
// It is made and used only through open directories, and it holds a lock for
// as long as it lives, so that a later job in the same folder can tell a
// workspace left by a killed job (which it removes) from a running one.
//
//   DirectoryHandle destination;
//   DirectoryHandle::open("/home/me/Downloads", destination);
//   Workspace workspace = Workspace::create(destination, "/home/me/Downloads");
//   StagingWriter writer(workspace.handle(), "Photos", ...);
//   if (!workspace.isInPlace()) { /* renamed or replaced meanwhile */ }
#pragma once

#include <filesystem>
#include <string>

#include "TovaniCore/DirectoryHandle.h"

namespace tovani {

class Workspace {
public:
    // Removes this user's workspaces in destination that no running job
    // holds, then makes a new directory ".extract-<UUID>" (mode 0700) inside
    // it, opens and locks it. Throws destinationNotWritable(destinationPath).
    [[nodiscard]] static Workspace create(const DirectoryHandle& destination,
                                          const std::filesystem::path& destinationPath);

    // Empties the workspace through its own descriptor, then removes its
    // directory from the destination only if the name still stands for it.
    // Never reports failure.
    ~Workspace();
    Workspace(Workspace&& other) noexcept = default;
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    Workspace& operator=(Workspace&&) = delete;

    const DirectoryHandle& handle() const { return handle_; }
    const std::string& name() const { return name_; }
    // Where the workspace was made; for messages only, never for access.
    std::filesystem::path path() const { return destinationPath_ / name_; }

    // Whether the destination's entry of this name is still this very
    // directory, not renamed away nor replaced by anything else.
    [[nodiscard]] bool isInPlace() const noexcept;

    // Removes the workspaces in destination that belong to this user and
    // that no live job holds locked. Never reports failure.
    static void removeAbandoned(const DirectoryHandle& destination) noexcept;

    // Prefix of every workspace name; nothing else in a destination starts so.
    static constexpr const char* namePrefix = ".extract-";

private:
    Workspace() = default;

    DirectoryHandle destination_;
    DirectoryHandle handle_;
    DirectoryHandle::Identity identity_;
    std::string name_;
    std::filesystem::path destinationPath_;
};

// A fresh random (version 4) UUID as 36 upper-case characters.
std::string makeUuidText();

}  // namespace tovani
