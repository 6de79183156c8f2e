// Workspace is the private directory one extraction stages its output in:
// on the destination's volume, so that the result moves into place with one
// rename, and removed with everything in it when the Workspace goes away.
//
//   Workspace workspace = Workspace::create(destination);  // throws destinationNotWritable
//   std::filesystem::path root = workspace.path() / "Photos";
#pragma once

#include <filesystem>
#include <string>

namespace tovani {

class Workspace {
public:
    // A new directory ".extract-<UUID>" (mode 0700) inside the destination.
    static Workspace create(const std::filesystem::path& destination);

    ~Workspace();
    Workspace(Workspace&& other) noexcept;
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    Workspace& operator=(Workspace&&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Opens every directory below the workspace to its owner, then removes
    // it all. Failures are ignored: clean-up never reports.
    static void remove(const std::filesystem::path& workspace) noexcept;

    // Prefix of every workspace name; nothing else in a destination starts so.
    static constexpr const char* namePrefix = ".extract-";

private:
    explicit Workspace(std::filesystem::path path) : path_(std::move(path)) {}
    std::filesystem::path path_;
};

// A fresh random (version 4) UUID as 36 upper-case characters.
std::string makeUuidText();

}  // namespace tovani
