// Sandbox confines the decoder helper process before it reads any archive, so
// that a fault in the decoding library can at worst end that one process: it
// may read only the archive's files, may not write, create or delete anything
// by path, may not open sockets or start programs, and runs with resource
// limits. Each layer is set independently; where the kernel or the build lacks
// one, the others still hold and the report says which one is missing and why.
//
//   preloadLocale();                           // everything from the disk first
//   Report report = Sandbox::confine(volumes); // every volume file of the set
//   for (const std::string& line : report.missing) sendNote(channel, line);
//   // ... open and decode the archive, talk to the parent over `channel` ...
//
// Call it once, early in main, while the process has a single thread (the
// file system rules bind only the calling thread and the threads it starts
// later; the report names a threaded caller as a missing layer). Pass the
// volume files themselves rather than their folder: a folder makes every file
// beneath it readable.
//
// Afterwards the process reaches the file system only for reading the given
// paths, so whatever else it needs must be loaded before (confine() loads
// the time zone itself, which localtime_r would otherwise read later):
//   - every locale it uses (setlocale, newlocale, std::locale; the bridge
//     makes its UTF-8 locale on first use);
//   - every shared library it will use: no dlopen afterwards (iconv, NSS).
// What it may still do: read, write, send and receive on descriptors it holds
// (the channel to the parent; writes to regular files fail with EFBIG, so
// stderr should be a pipe or /dev/null), allocate memory, start threads, read
// the clock, stat any path and abort. Creating, renaming or removing files,
// opening for writing, sockets, prctl and anything else unlisted fail with
// EPERM (terminal queries with ENOTTY); starting a program or a process, or
// tracing one, ends the process with SIGSYS.
//
// In AddressSanitizer builds confine() runs the leak check at once (the one
// at exit would be ended by the filter, and is disarmed by it), and the
// address space is not limited. Error reports from inside show frames as
// module+offset: the symbolizer is a process of its own, which cannot start.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tovani::Sandbox {

// clang-format off
// Which layers hold after confine(); a missing one carries its reason.
struct Report {
    bool fileSystemRules = false;   // Landlock: read-only access to the given paths, nothing else
    bool systemCallFilter = false;  // seccomp: no sockets, no exec, no new processes, no writes by path
    bool resourceLimits = false;    // rlimits: address space, file size 0, no core dumps
    std::vector<std::string> missing;  // one line per layer that could not be set, with the reason
};
// clang-format on

// Confines the calling process for good (irreversible), before it reads any archive:
// readable: the files (or folders) it may open for reading afterwards. Already open descriptors
// (the channel to the parent) keep working for read/write. Never throws.
Report confine(const std::vector<std::filesystem::path>& readable) noexcept;

}  // namespace tovani::Sandbox
