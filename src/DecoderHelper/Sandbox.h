// Sandbox confines the decoder helper process before it reads any archive, so
// that a fault in the decoding library can at worst end that one process: it
// may read only the archive's files, may not write, create or delete anything
// by path, may not open sockets or start programs, and runs with resource
// limits. Each layer is set independently; where the kernel or the build lacks
// one, the others still hold and the report says which one is missing and why.
//
//   // Load everything that needs the file system first (see below), then:
//   tovani::Sandbox::Report report = tovani::Sandbox::confine({archivePath.parent_path()});
//   for (const std::string& line : report.missing) sendNote(channel, line);
//   // ... open and decode the archive, talk to the parent over `channel` ...
//
// After confine() the process can no longer reach the file system for
// anything it has not already loaded. Before calling it, the helper must:
//   - call tzset() (localtime_r reads /etc/localtime otherwise),
//   - create any locale it uses (newlocale, std::locale, setlocale),
//   - have every shared library resolved: link without lazy binding
//     (-Wl,-z,now) or run once through every library call it will make,
//   - open the channel to the parent; open descriptors keep working.
// Under AddressSanitizer, LeakSanitizer's exit check traces the process from
// a cloned task, which the filter refuses; the helper program turns leak
// detection off for itself.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tovani::Sandbox {

// Which layers hold after confine(); a missing one carries its reason.
struct Report {
    bool fileSystemRules = false;  // Landlock: read-only access to the given paths, nothing else
    bool systemCallFilter =
        false;  // seccomp: no sockets, no exec, no new processes, no writes by path
    bool resourceLimits = false;       // rlimits: address space, file size 0, no core dumps
    std::vector<std::string> missing;  // one line per layer that could not be set, with the reason
};

// Confines the calling process for good (irreversible), before it reads any archive:
// readable: the files (or folders) it may open for reading afterwards. Already open descriptors
// (the channel to the parent) keep working for read/write. Never throws.
Report confine(const std::vector<std::filesystem::path>& readable) noexcept;

}  // namespace tovani::Sandbox
