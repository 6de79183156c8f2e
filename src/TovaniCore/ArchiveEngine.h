// ArchiveEngine lists archives and streams their entries into a sink. Each
// call opens the archive, does its work and closes it again; an engine keeps
// no state between calls. This header also brings in the whole vocabulary of
// the library's value types.
//
//   RarEngine engine;
//   ArchiveListing listing = engine.list("/tmp/a.rar", std::nullopt);
//   engine.extract("/tmp/a.rar", std::nullopt, mySink);
//   engine.scan("/tmp/a.rar", std::nullopt, [](const ArchiveEntry& e) { ... });
//
//   Cancellation stop;  // stop.cancel() from another thread or a signal handler
//   engine.extract("/tmp/a.rar", std::nullopt, mySink, stop);  // throws cancelled()
//
// Each call ends with ExtractionError::cancelled() soon after its
// cancellation is cancelled, even while the archive's reader is blocked (a
// pipe in place of a volume, a reader that stopped answering); the default
// never cancels. A missing password fails with ExtractionError::passwordRequired(), a
// rejected one with wrongPassword(); extract visits entries in the same order
// as list reports them; errors thrown by the sink pass through unchanged.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "TovaniCore/ArchiveEntry.h"
#include "TovaniCore/ArchiveEntrySink.h"
#include "TovaniCore/ArchiveInfo.h"
#include "TovaniCore/ArchiveListing.h"
#include "TovaniCore/Cancellation.h"
#include "TovaniCore/Export.h"
#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/ExtractionHandlers.h"
#include "TovaniCore/ExtractionOptions.h"
#include "TovaniCore/ExtractionProgress.h"
#include "TovaniCore/ExtractionResult.h"
#include "TovaniCore/PasswordRequest.h"
#include "TovaniCore/SkippedEntry.h"

namespace tovani {

class TOVANI_EXPORT ArchiveEngine {
public:
    virtual ~ArchiveEngine() = default;

    // The file of the set's first volume for any of its volumes, from names
    // alone: file unchanged when it is no volume of a set this engine knows,
    // or already the first. The result may not exist.
    virtual std::filesystem::path firstVolume(const std::filesystem::path& file) const {
        return file;
    }
    // volume, then each following volume of its set that exists, in order:
    // the only files a reading that starts at volume may use.
    virtual std::vector<std::filesystem::path> volumesFrom(
        const std::filesystem::path& volume) const {
        return {volume};
    }

    // archive: the file to open (for a set, the volume to open).
    // Every implementation gives cancellation the same default.
    virtual ArchiveListing list(const std::filesystem::path& archive,
                                const std::optional<std::string>& password,
                                const Cancellation& cancellation = Cancellation::never()) const = 0;
    virtual void extract(const std::filesystem::path& archive,
                         const std::optional<std::string>& password, ArchiveEntrySink& into,
                         const Cancellation& cancellation = Cancellation::never()) const = 0;
    // Lists the archive as list() does, but hands each entry to visit as it
    // is read instead of keeping it: the listing returned has no entries, so
    // memory stays flat however many the archive holds. An error visit
    // throws ends the scan and passes through. By default it goes through
    // list().
    virtual ArchiveListing scan(const std::filesystem::path& archive,
                                const std::optional<std::string>& password,
                                const std::function<void(const ArchiveEntry&)>& visit,
                                const Cancellation& cancellation = Cancellation::never()) const {
        ArchiveListing listing = list(archive, password, cancellation);
        for (const ArchiveEntry& entry : listing.entries) {
            visit(entry);
        }
        listing.entries.clear();
        return listing;
    }
};

}  // namespace tovani
