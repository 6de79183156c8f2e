// The checks every archive fuzzer makes: mutated archives through a real
// engine and the extractor. The engine's decoder runs in a confined process
// of its own, so a fault of its library must come back as an error here,
// never as a crash of this process. After every input: no crash or
// sanitizer report in this process, nothing created outside the scratch
// destination, at most one new item in it, and no workspace left behind.
//
//   extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
//       return fuzzing::extractChecked(std::make_shared<tovani::RarEngine>(), "fuzz.rar",
//                                      data, size);
//   }
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "TovaniCore/Extractor.h"

namespace fuzzing {

namespace fs = std::filesystem;

[[noreturn]] inline void fail(const std::string& why) {
    std::fprintf(stderr, "invariant violated: %s\n", why.c_str());
    std::abort();
}

inline const fs::path& scratch() {
    static const fs::path path = [] {
        std::string pattern = (fs::temp_directory_path() / "ostrel-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            fail("mkdtemp");
        return fs::path(pattern);
    }();
    return path;
}

inline std::size_t countItems(const fs::path& directory) {
    std::size_t count = 0;
    for (auto it = fs::directory_iterator(directory); it != fs::directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

inline void clear(const fs::path& directory) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(directory, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::remove_all(directory, ec);
    fs::create_directories(directory);
}

// Writes the input as an archive of the given name and extracts it with the
// engine, checking the invariants afterwards.
inline int extractChecked(std::shared_ptr<const tovani::ArchiveEngine> engine,
                          const std::string& name, const std::uint8_t* data, std::size_t size) {
    const fs::path in = scratch() / "in";
    const fs::path out = scratch() / "out";
    clear(in);
    clear(out);
    const fs::path archive = in / name;
    {
        std::ofstream file(archive, std::ios::binary);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    tovani::ExtractionHandlers handlers;
    int asked = 0;
    // One password, then give up, so that encrypted inputs exercise both paths.
    handlers.password = [&](const tovani::PasswordRequest&) -> std::optional<std::string> {
        return asked++ == 0 ? std::optional<std::string>("password") : std::nullopt;
    };
    handlers.progress = [](const tovani::ExtractionProgress& progress) {
        if (progress.completedBytes > progress.totalBytes)
            fail("progress beyond total");
    };
    handlers.isCancelled = [] { return false; };

    const tovani::Extractor extractor(std::move(engine));
    bool succeeded = false;
    try {
        tovani::ExtractionResult result =
            extractor.extract(archive, tovani::ExtractionOptions{false, out}, handlers);
        succeeded = true;
        if (result.output().parent_path() != out)
            fail("output outside the destination");
    } catch (const tovani::ExtractionError&) {
    } catch (const fs::filesystem_error&) {
    }

    const std::size_t items = countItems(out);
    if (items > 1 || (succeeded && items != 1))
        fail("destination holds " + std::to_string(items));
    for (const auto& item : fs::directory_iterator(out)) {
        if (item.path().filename().string().rfind(".extract-", 0) == 0)
            fail("workspace left");
    }
    if (countItems(in) != 1)
        fail("something was created beside the archive");
    if (countItems(scratch()) != 2)
        fail("something was created in the scratch directory");
    // The runner gives the fuzzer a temporary directory of its own.
    if (countItems(scratch().parent_path()) != 1)
        fail("something was created beside scratch");
    return 0;
}

}  // namespace fuzzing
