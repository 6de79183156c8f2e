// TerminalText makes names from archives and file names safe to print on a
// terminal: control characters (below 0x20, 0x7f, and the C1 controls
// U+0080 to U+009F), characters that show nothing but change what is shown
// (bidi controls such as U+202E, zero-width and other invisible format
// characters, line and paragraph separators) and bytes that are not UTF-8
// become visible escapes, and a backslash is doubled so that no name can
// pass for an escape. One printed line is then always one path, shown in
// the order of its bytes, and no name can move the cursor, erase what was
// printed before it or pass for another name.
//
//   std::puts(terminalSafe("a\nb\x1b[2K").c_str());  // prints a\nb\x1b[2K
//   std::puts(terminalSafe("\u202etxt.exe").c_str());  // prints \u202etxt.exe
//   skippedEntriesMessage(withTerminalSafePaths(result.skipped()), name);
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "TovaniCore/SkippedEntry.h"

namespace tovani {

// \n, \r and \t by name, other C0 controls, DEL and stray bytes as \xHH, C1
// controls and hidden characters as \uHHHH (\UHHHHHHHH beyond U+FFFF), a
// backslash as \\; everything else unchanged.
std::string terminalSafe(std::string_view text);

// The same entries with terminalSafe paths, for messages that list them one
// per line.
std::vector<SkippedEntry> withTerminalSafePaths(const std::vector<SkippedEntry>& skipped);

}  // namespace tovani
