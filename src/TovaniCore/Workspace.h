// Workspace is the private directory one extraction stages its output in:
// on the destination's volume, so that the result moves into place with one
// rename, and removed with everything in it when the Workspace goes away.
// It is made and used only through open directories. It holds a marker file,
// made and locked in the same step as the folder and locked for as long as
// the workspace lives, so that a later job in the same folder can tell a
// workspace left by a killed job (which it removes) from a running one, and
// both from a user's own folder of a similar name (which it never touches).
//
//   DirectoryHandle destination;
//   DirectoryHandle::open("/home/me/Downloads", destination);
//   Workspace workspace = Workspace::create(destination, "/home/me/Downloads");
//   StagingWriter writer(workspace.handle(), "Photos", ...);
//   if (!workspace.isInPlace()) { /* renamed or replaced meanwhile */ }
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

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

    // Removes the workspaces in destination that a job made and no live job
    // holds: folders of this user's named exactly as create() names them,
    // holding an unlocked marker of this user's, in the destination's own
    // file system and mount and no mount point. Anything else is left
    // untouched. Never reports failure.
    static void removeAbandoned(const DirectoryHandle& destination) noexcept;

    // Prefix of every workspace name: ".extract-" and a UUID as
    // makeUuidText writes it.
    static constexpr const char* namePrefix = ".extract-";
    // The marker file inside a workspace; the staged output's name never
    // starts with a period.
    static constexpr const char* markerName = ".workspace-lock";

private:
    Workspace() = default;

    DirectoryHandle destination_;
    DirectoryHandle handle_;
    DirectoryHandle::HeldLock marker_;
    DirectoryHandle::Identity identity_;
    std::string name_;
    std::filesystem::path destinationPath_;
};

// A fresh random (version 4) UUID as 36 upper-case characters.
std::string makeUuidText();

// Whether name is namePrefix and a UUID exactly as makeUuidText writes it.
[[nodiscard]] bool isWorkspaceName(std::string_view name);

}  // namespace tovani
