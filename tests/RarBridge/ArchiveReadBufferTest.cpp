// The UnRAR library reads archives through a 64 KiB buffer and, when
// extracting, without the quick open cache (third_party/unrar/patches). These
// archives put headers on both sides of many buffer boundaries, a file larger
// than the buffer in the middle, and quick open records that serve some or
// all headers, so that a stale buffer or a lost position shows as a wrong
// name or wrong contents.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "RarBridge/tovani_bridge.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using testing::TempDirectory;

// Incompressible, so that the archive is about as large as its files.
std::string noise(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : out) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> tree() {
    std::vector<std::pair<std::string, std::string>> files;
    for (uint32_t i = 0; i < 120; ++i) {
        files.emplace_back("t/f" + std::to_string(1000 + i) + ".bin", noise(i * 37 % 3000, i));
        if (i == 60) {
            files.emplace_back("t/m-big.bin", noise(200'000, 999));
        }
    }
    return files;
}

bool collect(const uint8_t* data, size_t size, void* context) {
    if (data != nullptr) {
        static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), size);
    }
    return true;
}

// Lists the archive, then extracts it, skipping every third entry when asked;
// returns name -> contents of what was extracted, or fails the test.
std::vector<std::pair<std::string, std::string>> listThenExtract(const fs::path& archive,
                                                                 const char* password,
                                                                 bool skipSome, size_t* listed) {
    std::vector<std::pair<std::string, std::string>> extracted;
    tovani_archive* handle = nullptr;
    tovani_archive_info info{};
    EXPECT_EQ(tovani_open(archive.c_str(), false, password, &handle, &info), TOVANI_OK);
    tovani_entry entry{};
    *listed = 0;
    tovani_status status;
    while ((status = tovani_read_entry(handle, &entry)) == TOVANI_OK) {
        ++*listed;
        EXPECT_EQ(tovani_skip_entry(handle), TOVANI_OK);
    }
    EXPECT_EQ(status, TOVANI_END_OF_ARCHIVE);
    tovani_close(handle);

    EXPECT_EQ(tovani_open(archive.c_str(), true, password, &handle, &info), TOVANI_OK);
    size_t index = 0;
    while ((status = tovani_read_entry(handle, &entry)) == TOVANI_OK) {
        std::string name = entry.name_utf8;
        if (skipSome && index++ % 3 == 0) {
            EXPECT_EQ(tovani_skip_entry(handle), TOVANI_OK) << name;
            continue;
        }
        std::string data;
        EXPECT_EQ(tovani_extract_entry(handle, collect, &data), TOVANI_OK) << name;
        extracted.emplace_back(std::move(name), std::move(data));
    }
    EXPECT_EQ(status, TOVANI_END_OF_ARCHIVE);
    tovani_close(handle);
    return extracted;
}

// Every extracted entry is the folder or a file with its exact contents;
// returns how many files there were.
size_t expectExact(const std::vector<std::pair<std::string, std::string>>& extracted) {
    const auto files = tree();
    size_t matched = 0;
    for (const auto& [name, data] : extracted) {
        if (name == "t") {
            continue;
        }
        bool found = false;
        for (const auto& [path, contents] : files) {
            if (path == name) {
                found = true;
                EXPECT_EQ(data.size(), contents.size()) << name;
                EXPECT_TRUE(data == contents) << name;
            }
        }
        EXPECT_TRUE(found) << name;
        matched += found ? 1 : 0;
    }
    return matched;
}

TEST(ArchiveReadBuffer, EveryKindOfArchiveListsAndExtractsExactly) {
    const size_t files = tree().size();
    struct Case {
        const char* name;
        std::vector<std::string> switches;
        const char* password;
        bool alsoSkipping;
    };
    const std::vector<Case> cases = {
        {"plain.rar", {"-m1"}, nullptr, true},
        {"all-quick-open.rar", {"-m1", "-qo+"}, nullptr, true},
        {"no-quick-open.rar", {"-m1", "-qo-"}, nullptr, true},
        {"solid.rar", {"-m1", "-s"}, nullptr, true},
        {"stored.rar", {"-m0", "-qo+"}, nullptr, true},
        {"headers.rar", {"-m1", "-qo+", "-hpsecret"}, "secret", true},
        // Volumes smaller than the buffer: each next one is read at offsets
        // that the buffer held for the one before.
        // Skipping a file that goes on in the next volume is left out: the
        // library then offers its continuation as one more entry.
        {"set.rar", {"-m0", "-v40k"}, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDirectory dir;
        testing::makeTree(dir.path(), tree());
        const fs::path archive = testing::rar(dir.path(), c.name, c.switches, {"t"});
        for (bool skipSome : {false, true}) {
            if (skipSome && !c.alsoSkipping) {
                continue;
            }
            SCOPED_TRACE(skipSome ? "skipping some" : "extracting all");
            size_t listed = 0;
            const auto extracted = listThenExtract(archive, c.password, skipSome, &listed);
            EXPECT_EQ(listed, files + 1);  // and the folder
            const size_t skipped = skipSome ? (files + 1 + 2) / 3 : 0;
            EXPECT_EQ(extracted.size(), files + 1 - skipped);
            const size_t matched = expectExact(extracted);
            if (!skipSome) {
                EXPECT_EQ(matched, files);
            }
        }
    }
}

}  // namespace
}  // namespace tovani
