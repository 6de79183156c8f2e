// ExtractorHarness runs real extractions (RarEngine over the UnRAR library,
// or another real engine set as engine->inner) in a fresh directory and records what the handlers
// saw, so tests can assert the exact outcome and that the destination gained at most the one output
// and kept no workspace.
//
//   ExtractorHarness h;
//   writeRar5(h.dir / "a.rar", {StoredEntry::file("x", "1")});
//   auto outcome = h.extract(h.dir / "a.rar");
//   EXPECT_EQ(outcome.output(), h.dir / "x");
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "TovaniCore/Extractor.h"
#include "TovaniCore/RarEngine.h"
#include "TovaniCore/Workspace.h"
#include "support/TempDirectory.h"

namespace tovani::testing {

// The real engine, counting the calls that reach it.
class CountingEngine final : public ArchiveEngine {
public:
    std::filesystem::path firstVolume(const std::filesystem::path& file) const override {
        return inner->firstVolume(file);
    }
    std::vector<std::filesystem::path> volumesFrom(
        const std::filesystem::path& volume) const override {
        return inner->volumesFrom(volume);
    }
    ArchiveListing list(const std::filesystem::path& archive,
                        const std::optional<std::string>& password,
                        const Cancellation& cancellation = Cancellation::never()) const override {
        ++lists;
        ArchiveListing listing = inner->list(archive, password, cancellation);
        if (afterList) {
            afterList();
        }
        return listing;
    }
    void extract(const std::filesystem::path& archive, const std::optional<std::string>& password,
                 ArchiveEntrySink& into,
                 const Cancellation& cancellation = Cancellation::never()) const override {
        ++extracts;
        inner->extract(archive, password, into, cancellation);
    }

    std::shared_ptr<const ArchiveEngine> inner = std::make_shared<RarEngine>();
    // Runs each time list() has returned, as another program would between
    // the listing and the extraction.
    std::function<void()> afterList;
    mutable int lists = 0;
    mutable int extracts = 0;
};

struct Outcome {
    std::variant<ExtractionResult, ExtractionError> value;

    bool succeeded() const { return std::holds_alternative<ExtractionResult>(value); }
    const ExtractionResult& result() const { return std::get<ExtractionResult>(value); }
    const std::filesystem::path& output() const { return result().output(); }
    // The error, or engineFailure as a stand-in when the call succeeded, so
    // that EXPECT_EQ shows something readable either way.
    ExtractionError error() const {
        return succeeded() ? ExtractionError(ExtractionError::EngineFailure{})
                           : std::get<ExtractionError>(value);
    }
};

class ExtractorHarness {
public:
    ExtractorHarness() : dir(temp.path()) {}

    Outcome extract(const std::filesystem::path& archive,
                    ExtractionOptions options = ExtractionOptions{}) {
        const std::filesystem::path destination =
            options.destinationDirectory.value_or(archive.parent_path());
        const std::set<std::string> before = directoryNames(destination);
        ExtractionHandlers handlers;
        handlers.password = [this](const PasswordRequest& request) {
            requests.push_back(request);
            if (passwords.empty()) {
                return std::optional<std::string>();
            }
            std::optional<std::string> next = passwords.front();
            passwords.erase(passwords.begin());
            return next;
        };
        handlers.progress = [this](const ExtractionProgress& progress) {
            reports.push_back(progress);
            if (onProgress) {
                onProgress(progress);
            }
        };
        handlers.isCancelled = [this] {
            ++cancelPolls;
            return isCancelled ? isCancelled(cancelPolls) : false;
        };
        Outcome outcome{ExtractionError::engineFailure()};
        try {
            outcome.value = Extractor(engine).extract(archive, options, handlers);
        } catch (const ExtractionError& error) {
            outcome.value = error;
        }
        std::set<std::string> expectedBefore = before;
        expectedBefore.insert(madeByOthers.begin(), madeByOthers.end());
        for (const std::string& name : removedByOthers) {
            expectedBefore.erase(name);
        }
        expectOnlyOutputAdded(destination, expectedBefore, outcome);
        return outcome;
    }

    // The destination holds what it held before plus at most the output,
    // and no workspace.
    static void expectOnlyOutputAdded(const std::filesystem::path& destination,
                                      const std::set<std::string>& before, const Outcome& outcome) {
        std::set<std::string> expected = before;
        if (outcome.succeeded()) {
            EXPECT_EQ(outcome.output().parent_path(), destination);
            expected.insert(outcome.output().filename().string());
        }
        EXPECT_EQ(directoryNames(destination), expected);
    }

    TempDirectory temp;
    const std::filesystem::path& dir;
    std::shared_ptr<CountingEngine> engine = std::make_shared<CountingEngine>();

    // Answers for password requests, in order; none once used up.
    std::vector<std::optional<std::string>> passwords;
    std::vector<PasswordRequest> requests;
    std::vector<ExtractionProgress> reports;
    // Names another program creates in the destination during the call.
    std::set<std::string> madeByOthers;
    // Names another program removes from the destination during the call.
    std::set<std::string> removedByOthers;
    // Called after each progress report is recorded.
    std::function<void(const ExtractionProgress&)> onProgress;
    // Given the 1-based count of polls so far; absent never cancels.
    std::function<bool(int)> isCancelled;
    int cancelPolls = 0;
};

// Every regular file, directory and link below root, as relative paths
// ("dir/", "link@", "file"), for comparing whole trees.
inline std::set<std::string> treeOf(const std::filesystem::path& root) {
    std::set<std::string> items;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        std::string name = it->path().lexically_relative(root).string();
        if (it->is_symlink()) {
            name += "@";
        } else if (it->is_directory()) {
            name += "/";
        }
        items.insert(name);
    }
    return items;
}

// A fresh harness for each test, its directory at hand as `dir`:
//   using ExtractorTest = ExtractorFixture;
//   TEST_F(ExtractorTest, ...) { Outcome outcome = h.extract(dir / "a.rar"); }
class ExtractorFixture : public ::testing::Test {
protected:
    ExtractorHarness h;
    const std::filesystem::path& dir = h.dir;
};

// The names of the workspaces a directory holds (those of dead jobs too).
inline std::set<std::string> workspacesIn(const std::filesystem::path& directory) {
    std::set<std::string> found;
    for (const std::string& name : directoryNames(directory)) {
        if (name.starts_with(Workspace::namePrefix))
            found.insert(name);
    }
    return found;
}

}  // namespace tovani::testing
