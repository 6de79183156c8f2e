// FileManagerActions is what the app asks of the desktop's file manager after
// an extraction: moving an archive to the Trash and showing the result. The
// app talks to it through this interface so that tests can record the calls.
//
//   std::unique_ptr<FileManagerActions> files = makeDesktopFileManager();
//   if (!files->moveToTrash("/home/me/movie.part1.rar")) { /* left in place */ }
//   files->reveal("/home/me/movie");  // returns at once
#pragma once

#include <filesystem>
#include <memory>

namespace tovani {

class FileManagerActions {
public:
    virtual ~FileManagerActions() = default;

    // Moves the file into the user's Trash; false when it stays where it is.
    [[nodiscard]] virtual bool moveToTrash(const std::filesystem::path& file) = 0;
    // Shows the item selected in a file manager window. Never waits for the
    // file manager and never reports failure.
    virtual void reveal(const std::filesystem::path& item) = 0;
};

// The desktop's own file manager, as the platform reaches it.
std::unique_ptr<FileManagerActions> makeDesktopFileManager();

}  // namespace tovani
