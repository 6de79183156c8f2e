// AnyArchiveEngine is the library's ArchiveEngine for every format it opens:
// each call looks at the file's content (never its name alone) and hands the
// call to the RAR engine or to the libarchive engine. It also names the
// volumes of every kind of set: RAR's own schemes, and sets cut byte by byte
// (photos.7z.001, photos.zip.002, …, read from their first part whichever is
// named). A spanned zip (photos.z01 … photos.zip) fails as a set no engine
// reads, naming the file. It holds no state between calls.
//
//   auto engine = std::make_shared<AnyArchiveEngine>();
//   engine->firstVolume("/tmp/photos.7z.003");     // "/tmp/photos.7z.001"
//   ArchiveListing listing = engine->list("/tmp/photos.rar", std::nullopt);
//   // a zip renamed .rar is listed as the zip it is;
//   // a file that is no archive fails with notAnArchive(), whatever its name
#pragma once

#include <memory>

#include "TovaniCore/ArchiveEngine.h"
#include "TovaniCore/Export.h"

namespace tovani {

class TOVANI_EXPORT AnyArchiveEngine final : public ArchiveEngine {
public:
    // The RAR and libarchive engines, running the decoder installed beside
    // this library.
    AnyArchiveEngine();
    // Both engines run the given decoder program instead.
    explicit AnyArchiveEngine(const std::filesystem::path& decoder);
    // rar reads RAR archives, others every other format (tests give engines
    // that record what they were asked).
    AnyArchiveEngine(std::shared_ptr<const ArchiveEngine> rar,
                     std::shared_ptr<const ArchiveEngine> others);

    std::filesystem::path firstVolume(const std::filesystem::path& file) const override;
    std::vector<std::filesystem::path> volumesFrom(
        const std::filesystem::path& volume) const override;
    ArchiveListing list(const std::filesystem::path& archive,
                        const std::optional<std::string>& password,
                        const Cancellation& cancellation = Cancellation::never()) const override;
    void extract(const std::filesystem::path& archive, const std::optional<std::string>& password,
                 ArchiveEntrySink& into,
                 const Cancellation& cancellation = Cancellation::never()) const override;
    ArchiveListing scan(const std::filesystem::path& archive,
                        const std::optional<std::string>& password,
                        const std::function<void(const ArchiveEntry&)>& visit,
                        const Cancellation& cancellation = Cancellation::never()) const override;

private:
    struct Choice;
    Choice choose(const std::filesystem::path& archive) const;

    std::shared_ptr<const ArchiveEngine> rar_;
    std::shared_ptr<const ArchiveEngine> others_;
};

}  // namespace tovani
