// DestinationPlanner holds the naming rules for output: the folder that
// collects an archive's content, and the numbered names tried when the wanted
// name is already taken. Pure string logic; it never touches the disk.
//
//   DestinationPlanner::folderName("Movie.part01.rar");          // "Movie"
//   DestinationPlanner::folderName("photos.tar.gz");             // "photos"
//   DestinationPlanner::candidateName("report.pdf", false, 2);  // "report 2.pdf"
//   DestinationPlanner::uniqueName("Photos", true, exists);      // "Photos 3" if two are taken
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tovani::DestinationPlanner {

// The archive's file name without the number of a part of a set cut byte by
// byte (.001), then without one archive suffix: .rar or .r00 to .z99; or a
// compressed file's (.gz, .bz2, .xz, .lzma, .zst, .lz4) with the .tar or
// .cpio before it; or .zip, .7z, .tar, .cpio, .tgz, .tbz2, .tbz, .txz,
// .tzst; then without one trailing .partN (ASCII letter case ignored), and
// without leading periods, so that the folder is never hidden. "Archive"
// when nothing is left.
std::string folderName(std::string_view archiveName);

// The name to try for an attempt: the name itself below attempt 2, else the
// number inserted after one space ahead of the extension ("report 2.pdf").
// Directories have no extension. A file's extension is the text after its last
// period, except that a name has none when that period ends it ("name.") or
// belongs to the periods it begins with (".profile", "..rc"). A numbered name
// is kept within 255 bytes by cutting the part ahead of the number, never
// inside a UTF-8 character (and the extension too when it alone is that long).
std::string candidateName(std::string_view name, bool isDirectory, std::int64_t attempt);

// The first candidate, from attempt 1 upwards, that isTaken reports free.
// isTaken may claim the name as it answers (an exclusive move): the loop
// stops at the first answer other than "taken". There is no attempt limit:
// isTaken must eventually answer false.
std::string uniqueName(std::string_view name, bool isDirectory,
                       const std::function<bool(const std::string&)>& isTaken);

}  // namespace tovani::DestinationPlanner
