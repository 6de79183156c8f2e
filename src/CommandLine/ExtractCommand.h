// ExtractCommand is ostrel-extract's work: each archive, mapped to its set's
// first volume and taken once, is extracted next to itself (or into the
// destination); outputs go to standard output, failures to standard error,
// one line each, with control characters in names shown as escapes.
//
//   Cancellation stop;  // a signal handler calls stop.cancel()
//   int status = ExtractCommand(options, stop).run();  // 0, 1 or 130 (interrupted)
//
// Once stop is cancelled the running archive ends at once, even while its
// decoder is blocked, and no further archive starts.
//
// The engine is AnyArchiveEngine unless another is given (the benchmark
// compares the confined decoder with the library run in this process).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "CommandLine/CommandLineOptions.h"
#include "TovaniCore/AnyArchiveEngine.h"

namespace tovani {

class ExtractCommand {
public:
    static constexpr int succeeded = 0;
    static constexpr int someFailed = 1;
    static constexpr int interruptedStatus = 130;

    ExtractCommand(
        CommandLineOptions options, const Cancellation& interrupted,
        std::shared_ptr<const ArchiveEngine> engine = std::make_shared<const AnyArchiveEngine>())
        : options_(std::move(options)), interrupted_(interrupted), engine_(std::move(engine)) {}

    int run();

private:
    // False when the archive failed; its failure is already reported.
    // archive: the set's first volume by name, for messages; opened: the
    // file named, which the extractor maps to the first volume itself.
    [[nodiscard]] bool extractOne(const std::string& argument, const std::filesystem::path& archive,
                                  const std::filesystem::path& opened,
                                  const std::optional<std::string>& filePassword);

    CommandLineOptions options_;
    const Cancellation& interrupted_;
    std::shared_ptr<const ArchiveEngine> engine_;
};

}  // namespace tovani
