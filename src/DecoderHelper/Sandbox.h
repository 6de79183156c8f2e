// Sandbox confines the decoder helper process before it reads any archive, so
// that a fault in the decoding library can at worst end that one process: it
// may read only the archive's files, may not write, create or delete anything
// by path, may not open sockets or start programs, and runs with resource
// limits. Each layer is set independently, and the report says for each
// whether it holds, is absent (this kernel or build does not have it at all)
// or failed (the kernel has it, but it could not be set). A caller decodes
// nothing unless the report holds(): an absent layer is the system's, a
// failed one is not to be worked around.
//
//   preloadLocale();                           // everything from the disk first
//   Report report = Sandbox::confine(volumes); // every volume file of the set
//   if (!report.holds()) refuse();             // and read nothing
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
// stderr should be a pipe or /dev/null), allocate memory, start a bounded
// number of threads (kThreadHeadroom more than its user runs when confined),
// read the clock, stat any path and abort. Creating, renaming or removing
// files, opening for writing or as O_PATH, sockets, prctl, fcntl commands
// beyond descriptor flags and status flags without O_ASYNC (no signal owner,
// no lease, no lock), other processes' limits and anything else unlisted fail
// with EPERM (terminal queries with ENOTTY); starting a program or a process,
// or tracing one, ends the process with SIGSYS.
//
// In AddressSanitizer builds confine() runs the leak check at once (the one
// at exit would be ended by the filter, and is disarmed by it), and the
// address space is not limited (reported as absent). Error reports from inside show frames as
// module+offset: the symbolizer is a process of its own, which cannot start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tovani::Sandbox {

// Threads (and processes, which the filter forbids anyway) the confined
// process may start beyond what its user runs at the time: the library's
// pools take at most 8 for unpacking and 8 for checksums.
inline constexpr std::uint64_t kThreadHeadroom = 64;

enum class Layer : std::uint8_t {
    applied,  // holds
    absent,   // this kernel or build does not have it
    failed,   // the kernel has it, but it could not be set
};

// clang-format off
// Where each layer stands after confine(); one not applied carries its reason.
struct Report {
    Layer fileSystemRules = Layer::failed;   // Landlock: read-only access to the given paths, nothing else
    Layer systemCallFilter = Layer::failed;  // seccomp: no sockets, no exec, no new processes, no writes by path
    Layer resourceLimits = Layer::failed;    // rlimits: threads, address space, file size 0, no core dumps
    std::vector<std::string> missing;  // one line per layer not applied, with the reason

    // No layer failed: the process may go on to read the archive.
    bool holds() const {
        return fileSystemRules != Layer::failed && systemCallFilter != Layer::failed &&
               resourceLimits != Layer::failed;
    }
};
// clang-format on

// Confines the calling process for good (irreversible), before it reads any archive:
// readable: the files (or folders) it may open for reading afterwards. Already open descriptors
// (the channel to the parent) keep working for read/write. Never throws.
Report confine(const std::vector<std::filesystem::path>& readable) noexcept;

}  // namespace tovani::Sandbox
