// ArchiveEntrySink receives the entries an engine extracts, in archive order.
//
//   begin(entry)   once per entry; for a file, true asks for its data
//   write(chunk)   zero or more times, consecutive unpacked data, only after
//                  begin returned true for a file
//   finish(entry)  once the library verified the file's data
//
// Directories and links get begin() only, whatever it returns. If any call
// throws, the engine stops at once and rethrows that exception unchanged.
//
//   class Counter : public ArchiveEntrySink {
//       bool begin(const ArchiveEntry& e) override { return e.isFile(); }
//       void write(std::span<const std::byte> c) override { bytes += c.size(); }
//       void finish(const ArchiveEntry&) override {}
//       std::uint64_t bytes = 0;
//   };
#pragma once

#include <cstddef>
#include <span>

#include "TovaniCore/ArchiveEntry.h"
#include "TovaniCore/Export.h"

namespace tovani {

class TOVANI_EXPORT ArchiveEntrySink {
public:
    virtual ~ArchiveEntrySink() = default;

    [[nodiscard]] virtual bool begin(const ArchiveEntry& entry) = 0;
    // The chunk's memory is valid only during the call.
    virtual void write(std::span<const std::byte> chunk) = 0;
    virtual void finish(const ArchiveEntry& entry) = 0;
};

}  // namespace tovani
