#include "TovaniCore/AnyArchiveEngine.h"

#include <system_error>
#include <utility>

#include "TovaniCore/ArchiveFormat.h"
#include "TovaniCore/LibarchiveEngine.h"
#include "TovaniCore/NameMatching.h"
#include "TovaniCore/RarEngine.h"
#include "TovaniCore/SplitVolumes.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

using Kind = ArchiveFormat::Kind;
using Reason = ExtractionError::VolumeUnreadable::Reason;

bool isThere(const fs::path& file) {
    std::error_code error;
    return fs::exists(file, error);
}

fs::path withName(const fs::path& file, const std::string& name) {
    fs::path result = file;
    result.replace_filename(name);
    return result;
}

// The first segment of the spanned zip that file's name makes it a part of:
// NAME.z01, NAME.z02, … beside NAME.zip, or NAME.zip beside NAME.z01 (ASCII
// letter case ignored). No engine reads such a set; a RAR volume may be named
// NAME.z01 too, but never beside NAME.zip.
std::optional<fs::path> spannedZipStart(const fs::path& file) {
    using namespace NameMatching;
    const std::string name = file.filename().string();
    const std::size_t digits = trailingDigits(name);
    if (digits >= 2 && digits + 2 < name.size() &&
        asciiLower(name[name.size() - digits - 1]) == 'z' &&
        name[name.size() - digits - 2] == '.') {
        const std::string stem = name.substr(0, name.size() - digits - 1);
        if (isThere(withName(file, stem + "zip")) || isThere(withName(file, stem + "ZIP"))) {
            return withName(file, stem + name[stem.size()] + "01");
        }
        return std::nullopt;
    }
    if (endsWithIgnoringCase(name, ".zip")) {
        const std::string stem = name.substr(0, name.size() - 3);
        for (const char* first : {"z01", "Z01"}) {
            if (isThere(withName(file, stem + first))) {
                return withName(file, stem + first);
            }
        }
    }
    return std::nullopt;
}

}  // namespace

// The engine a call goes to, the file it opens, and for a set cut byte by
// byte, all of its parts.
struct AnyArchiveEngine::Choice {
    const ArchiveEngine& engine;
    fs::path archive;
    std::optional<std::vector<fs::path>> parts;
};

AnyArchiveEngine::AnyArchiveEngine()
    : AnyArchiveEngine(std::make_shared<const RarEngine>(),
                       std::make_shared<const LibarchiveEngine>()) {}

AnyArchiveEngine::AnyArchiveEngine(const fs::path& decoder)
    : AnyArchiveEngine(std::make_shared<const RarEngine>(decoder),
                       std::make_shared<const LibarchiveEngine>(decoder)) {}

AnyArchiveEngine::AnyArchiveEngine(std::shared_ptr<const ArchiveEngine> rar,
                                   std::shared_ptr<const ArchiveEngine> others)
    : rar_(std::move(rar)), others_(std::move(others)) {}

fs::path AnyArchiveEngine::firstVolume(const fs::path& file) const {
    if (SplitVolumes::isPartName(file.filename().string())) {
        return SplitVolumes::firstVolume(file);
    }
    if (std::optional<fs::path> start = spannedZipStart(file)) {
        return *start;
    }
    return rar_->firstVolume(file);
}

std::vector<fs::path> AnyArchiveEngine::volumesFrom(const fs::path& volume) const {
    if (SplitVolumes::isPartName(volume.filename().string())) {
        return SplitVolumes::volumesFrom(volume);
    }
    if (spannedZipStart(volume)) {
        return {volume};
    }
    return rar_->volumesFrom(volume);
}

AnyArchiveEngine::Choice AnyArchiveEngine::choose(const fs::path& archive) const {
    const std::string name = archive.filename().string();
    if (spannedZipStart(archive)) {
        throw ExtractionError::volumeUnreadable(name, Reason::unsupportedSet);
    }
    fs::path source = archive;
    bool split = false;
    if (SplitVolumes::isPartName(name)) {
        const fs::path first = SplitVolumes::firstVolume(archive);
        if (isThere(first)) {
            // A set cut byte by byte is one stream: it is read from its start,
            // whichever part was named.
            source = first;
            split = true;
        } else {
            // Without a first part, a file whose own content is an archive
            // stands alone (photos.2024 is a name, not a part); any other is
            // a later part whose set lacks its start.
            try {
                (void)ArchiveFormat::detect(archive);
            } catch (const ExtractionError& error) {
                if (error.is<ExtractionError::NotAnArchive>()) {
                    throw ExtractionError::volumeMissing(first.filename().string());
                }
                throw;
            }
        }
    }
    switch (ArchiveFormat::detect(source)) {
        case Kind::rar:
            return Choice{*rar_, source, std::nullopt};
        case Kind::spannedZip:
            throw ExtractionError::volumeUnreadable(name, Reason::unsupportedSet);
        default:
            break;
    }
    std::optional<std::vector<fs::path>> parts;
    if (split) {
        parts = SplitVolumes::volumesFrom(source);
    }
    return Choice{*others_, source, std::move(parts)};
}

ArchiveListing AnyArchiveEngine::list(const fs::path& archive,
                                      const std::optional<std::string>& password,
                                      const Cancellation& cancellation) const {
    const Choice choice = choose(archive);
    ArchiveListing listing = choice.engine.list(choice.archive, password, cancellation);
    // Reading a set cut byte by byte to its end reads every part: all of
    // them are the archive's files, for the Trash as for the sandbox.
    if (choice.parts) {
        listing.files = *choice.parts;
    }
    return listing;
}

void AnyArchiveEngine::extract(const fs::path& archive, const std::optional<std::string>& password,
                               ArchiveEntrySink& into, const Cancellation& cancellation) const {
    const Choice choice = choose(archive);
    choice.engine.extract(choice.archive, password, into, cancellation);
}

ArchiveListing AnyArchiveEngine::scan(const fs::path& archive,
                                      const std::optional<std::string>& password,
                                      const std::function<void(const ArchiveEntry&)>& visit,
                                      const Cancellation& cancellation) const {
    const Choice choice = choose(archive);
    ArchiveListing listing = choice.engine.scan(choice.archive, password, visit, cancellation);
    if (choice.parts) {
        listing.files = *choice.parts;
    }
    return listing;
}

}  // namespace tovani
