// The end-of-archive walk against archives whose end is not where a naive
// reader expects it: junk after the record, a self-extractor stub before
// the signature, headers that cannot be walked without the password, and
// old archives written before the record was always there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RarBridge/tovani_archive_end.h"
#include "RarBridge/tovani_bridge.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using testing::StoredEntry;
using testing::TempDirectory;

// The status that ends reading every entry of the archive, skipping each.
tovani_status endOfReading(const fs::path& archive) {
    tovani_archive* handle = nullptr;
    tovani_archive_info info{};
    tovani_status status = tovani_open(archive.c_str(), false, nullptr, &handle, &info);
    tovani_entry entry{};
    while (status == TOVANI_OK && (status = tovani_read_entry(handle, &entry)) == TOVANI_OK) {
        status = tovani_skip_entry(handle);
    }
    tovani_close(handle);
    return status;
}

const std::vector<StoredEntry> kEntries = {StoredEntry::file("a.txt", std::string(3000, 'a')),
                                           StoredEntry::file("b.txt", std::string(3000, 'b'))};

TEST(ArchiveEnd, JunkAfterTheEndRecordAndAStubBeforeTheSignatureDoNotHideIt) {
    TempDirectory dir;
    testing::writeRar5(dir / "a.rar", kEntries);
    const std::string whole = testing::readFile(dir / "a.rar");
    testing::writeFile(dir / "junk.rar", whole + std::string(100, '\x7B'));
    testing::writeFile(dir / "sfx.rar", std::string(70000, '\x90') + whole);
    testing::writeFile(dir / "sfx-cut.rar",
                       std::string(70000, '\x90') + whole.substr(0, whole.size() - 8));
    EXPECT_EQ(FindEndRecord((dir / "junk.rar").c_str()), EndRecord::present);
    EXPECT_EQ(FindEndRecord((dir / "sfx.rar").c_str()), EndRecord::present);
    EXPECT_EQ(FindEndRecord((dir / "sfx-cut.rar").c_str()), EndRecord::missing);
    EXPECT_EQ(endOfReading(dir / "junk.rar"), TOVANI_END_OF_ARCHIVE);
    EXPECT_EQ(endOfReading(dir / "sfx-cut.rar"), TOVANI_DAMAGED);
}

TEST(ArchiveEnd, EncryptedHeadersAndUnreadableFilesAreNoVerdict) {
    TempDirectory dir;
    testing::makeTree(dir / "src", {{"a.txt", std::string(3000, 'a')}});
    testing::rar(dir / "src", (dir / "hp.rar").string(), {"-ma5", "-hpsecret"}, {"a.txt"});
    EXPECT_EQ(FindEndRecord((dir / "hp.rar").c_str()), EndRecord::unknown);
    EXPECT_EQ(FindEndRecord((dir / "gone.rar").c_str()), EndRecord::unknown);
    testing::writeFile(dir / "text.rar", "no signature here");
    EXPECT_EQ(FindEndRecord((dir / "text.rar").c_str()), EndRecord::unknown);
}

// Rewrites the version needed of the old-format archive's only entry and
// drops its end record, as RAR 1.5 left such archives.
void makeRar15Era(const fs::path& archive, std::uint8_t version) {
    testing::writeRar4(archive, {StoredEntry::file("a.txt", std::string(3000, 'a'))});
    std::string bytes = testing::readFile(archive);
    bytes.resize(bytes.size() - 7);
    const std::size_t header = 7 + 13;  // after the signature and main header
    const std::size_t headerSize = static_cast<unsigned char>(bytes[header + 5]) |
                                   static_cast<unsigned char>(bytes[header + 6]) << 8;
    bytes[header + 24] = static_cast<char>(version);
    const std::uint32_t crc = testing::crc32Of(bytes.substr(header + 2, headerSize - 2));
    bytes[header] = static_cast<char>(crc & 0xFF);
    bytes[header + 1] = static_cast<char>((crc >> 8) & 0xFF);
    testing::writeFile(archive, bytes);
}

TEST(ArchiveEnd, OnlyRar15EraArchivesMayLackTheRecord) {
    TempDirectory dir;
    makeRar15Era(dir / "old.rar", 15);
    makeRar15Era(dir / "cut.rar", 29);
    EXPECT_EQ(endOfReading(dir / "old.rar"), TOVANI_END_OF_ARCHIVE);
    EXPECT_EQ(endOfReading(dir / "cut.rar"), TOVANI_DAMAGED);
}

}  // namespace
}  // namespace tovani
