// Archives whose headers crash the installed UnRAR library are refused by
// the bridge before the library sees them, also as a later volume of a set.
#include "RarBridge/tovani_header_guard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "RarBridge/tovani_bridge.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

std::string vint(std::uint64_t value) {
    std::string out;
    do {
        std::uint8_t byte = value & 0x7F;
        value >>= 7;
        out.push_back(static_cast<char>(value != 0 ? byte | 0x80 : byte));
    } while (value != 0);
    return out;
}

std::string block(const std::string& afterSize) {
    const std::string header = vint(afterSize.size()) + afterSize;
    const std::uint32_t crc = crc32Of(header);
    std::string out;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(crc >> (8 * i)));
    return out + header;
}

const std::string kSignature("Rar!\x1a\x07\x01\x00", 8);

// A RAR 5 archive whose main header carries a metadata record that names
// the archive with namePayload (flags 1, then the name length and text).
std::string archiveWithNameRecord(const std::string& namePayload) {
    const std::string record = vint(2) + vint(1) + namePayload;
    const std::string extra = vint(record.size()) + record;
    const std::string main = vint(1) + vint(1) + vint(extra.size()) + vint(0) + extra;
    const std::string end = vint(5) + vint(0) + vint(0);
    return kSignature + block(main) + block(end);
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

tovani_status open(const fs::path& archive) {
    tovani_archive* handle = nullptr;
    tovani_archive_info info{};
    const tovani_status status = tovani_open(archive.c_str(), false, nullptr, &handle, &info);
    tovani_close(handle);
    return status;
}

TEST(HeaderGuardAttack, EmptyArchiveNameRecordIsRefusedBeforeTheLibraryCrashesOnIt) {
    TempDirectory dir;
    writeFile(dir / "crash.rar", archiveWithNameRecord(vint(0)));
    EXPECT_EQ(open(dir / "crash.rar"), TOVANI_NOT_AN_ARCHIVE);

    // The input the fuzzer found: the same record behind a wrong header CRC.
    const std::string found(
        "Rar!\x1a\x07\x01\x00\xf3\xe1\x82\xeb\x0b\x01\x05\x07\x00\x06\x02\x01\x00\xf3\xe1\x04", 24);
    writeFile(dir / "found.rar", found);
    EXPECT_EQ(open(dir / "found.rar"), TOVANI_NOT_AN_ARCHIVE);
}

TEST(HeaderGuard, OrdinaryNameRecordsAndOtherFilesPass) {
    EXPECT_TRUE(HeaderCrashesLibrary(bytesOf(archiveWithNameRecord(vint(0)))));
    EXPECT_TRUE(
        HeaderCrashesLibrary(bytesOf("MZ self-extractor stub" + archiveWithNameRecord(vint(0)))));
    EXPECT_FALSE(HeaderCrashesLibrary(bytesOf(archiveWithNameRecord(vint(3) + "abc"))));
    EXPECT_FALSE(HeaderCrashesLibrary(bytesOf("not an archive")));
    EXPECT_FALSE(HeaderCrashesLibrary(bytesOf(kSignature + "\x01\x02")));

    TempDirectory dir;
    writeFile(dir / "named.rar", archiveWithNameRecord(vint(3) + "abc"));
    EXPECT_EQ(open(dir / "named.rar"), TOVANI_OK);
}

TEST(HeaderGuard, NextVolumeNamesFollowTheLibrarysSchemes) {
    EXPECT_EQ(NextVolumeName("a.part1.rar"), "a.part2.rar");
    EXPECT_EQ(NextVolumeName("a.part09.rar"), "a.part10.rar");
    EXPECT_EQ(NextVolumeName("a.PART99.RAR"), "a.PART100.RAR");
    EXPECT_EQ(NextVolumeName("a.rar"), "a.r00");
    EXPECT_EQ(NextVolumeName("a.r09"), "a.r10");
    EXPECT_EQ(NextVolumeName("a.r99"), "a.s00");
    EXPECT_EQ(NextVolumeName("a.zip"), "");
}

// Rewrites a volume's main header so that its extra area is the crashing
// metadata record, keeping its archive flags and volume number.
void plantCrashingRecord(const fs::path& volume) {
    std::string bytes = readFile(volume);
    std::size_t at = 12;
    auto readVint = [&]() {
        std::uint64_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const auto byte = static_cast<std::uint8_t>(bytes.at(at++));
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0)
                return value;
        }
    };
    const std::uint64_t size = readVint();
    const std::size_t start = at;
    ASSERT_EQ(readVint(), 1u);
    const std::uint64_t flags = readVint();
    const std::uint64_t oldExtra = (flags & 1) != 0 ? readVint() : 0;
    const std::string fields = bytes.substr(at, start + size - oldExtra - at);
    const std::string record = vint(2) + vint(1) + vint(0);
    const std::string extra = vint(record.size()) + record;
    const std::string main = vint(1) + vint(flags | 1) + vint(extra.size()) + fields + extra;
    writeFile(volume, bytes.substr(0, 8) + block(main) + bytes.substr(start + size));
}

TEST(HeaderGuardAttack, CrashingLaterVolumeRefusesTheWholeSet) {
    TempDirectory dir;
    makeTree(dir / "src", {{"big.bin", std::string(60000, 'b')}});
    const fs::path first =
        rar(dir / "src", (dir / "set.rar").string(), {"-m0", "-v20k"}, {"big.bin"});
    const std::vector<fs::path> volumes = volumeFiles(first);
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(open(first), TOVANI_OK);
    plantCrashingRecord(volumes[2]);
    EXPECT_EQ(open(first), TOVANI_NOT_AN_ARCHIVE);
    EXPECT_EQ(open(volumes[1]), TOVANI_NOT_AN_ARCHIVE);
}

}  // namespace
}  // namespace tovani::testing
