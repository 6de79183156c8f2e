#include "TovaniCore/ArchiveFormat.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/FormatSamples.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using ArchiveFormat::Kind;
using E = ExtractionError;

// What detect() says about a file: the kind's name, or the error.
std::string detected(const fs::path& file) {
    try {
        return std::string(ArchiveFormat::name(ArchiveFormat::detect(file)));
    } catch (const ExtractionError& error) {
        return error.what();
    }
}

// Real archives and compressed files, as their own tools write them, each
// under a name that says something else: only the content may count.
TEST(ArchiveFormat, RecognisesWhatTheToolsWriteWhateverTheName) {
    TempDirectory dir;
    for (const FormatSample& sample : formatSamples()) {
        const fs::path made = sample.make(dir.path());
        const fs::path misnamed = dir / ("misnamed-" + sample.label + ".txt");
        fs::copy_file(made, misnamed);
        EXPECT_EQ(detected(made), ArchiveFormat::name(sample.kind)) << sample.label;
        EXPECT_EQ(detected(misnamed), ArchiveFormat::name(sample.kind)) << sample.label;
    }
}

// A RAR behind a program (a self-extracting archive), and what stands in for
// one: the RAR library searches a file's first 2 MiB, and so does detection.
TEST(ArchiveFormat, FindsARarBehindAProgramWithinTwoMebibytes) {
    TempDirectory dir;
    writeRar5(dir / "inner.rar", {StoredEntry::file("a.txt", "a")});
    writeRar4(dir / "inner4.rar", {StoredEntry::file("a.txt", "a")});
    const std::string rar5 = readFile(dir / "inner.rar");
    const std::string rar4 = readFile(dir / "inner4.rar");
    const std::string program =
        "\x7f"
        "ELF" +
        std::string(4000, '\x01');
    struct Case {
        std::string label;
        std::string bytes;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"rar sfx made by rar", readFile(sfxSample(dir.path())), "rar"},
        {"rar5 behind a program", program + rar5, "rar"},
        {"rar4 behind a program", program + rar4, "rar"},
        {"rar 1 MiB in", std::string(1 << 20, 'x') + rar5, "rar"},
        {"rar at the last place searched", std::string((2 << 20) - 16, 'x') + rar5, "rar"},
        {"rar one byte further", std::string((2 << 20) - 15, 'x') + rar5, "notAnArchive"},
        {"rar within the first bytes", "x" + rar5, "notAnArchive"},
        {"rar across a read chunk", std::string(7 + (64 << 10) - 3, 'x') + rar5, "rar"},
        {"old rar mark without its sfx mark", program + "RE~^" + std::string(100, 0),
         "notAnArchive"},
        {"old rar mark with its sfx mark",
         std::string(28, 'x') + "RSFX" + std::string(100, 'y') + "RE~^" + std::string(100, 0),
         "rar"},
        {"rar5 signature without its last byte", program + "Rar!\x1a\x07\x01", "notAnArchive"},
    };
    for (const Case& c : cases) {
        writeFile(dir / "x.exe", c.bytes);
        EXPECT_EQ(detected(dir / "x.exe"), c.expected) << c.label;
    }
}

// Starts of files that are cut short, nearly a signature, or no archive.
TEST(ArchiveFormat, JudgesOddAndTruncatedStarts) {
    using namespace std::string_literals;
    const std::string header = oldTarHeader("a.txt", 5);
    std::string badChecksum = header;
    badChecksum[0] = 'b';
    std::string ustarOnly(512, '\0');
    ustarOnly.replace(257, 6, "ustar\0"s);
    std::string ustarGnu(512, '\0');
    ustarGnu.replace(257, 8, "ustar  \0"s);
    const std::string lzmaHeader = "\x5d\x00\x00\x80\x00"s + std::string(8, '\xff') + "\x00"s;
    std::string lzmaOddDictionary = lzmaHeader;
    lzmaOddDictionary[3] = '\x81';
    std::string lzmaCutDictionary = lzmaHeader;
    lzmaCutDictionary.replace(1, 4, "\x00\x00\x30\x00"s);  // 3 MiB
    std::string lzmaKnownSize = lzmaHeader;
    lzmaKnownSize.replace(5, 8, "\x05\x00\x00\x00\x00\x00\x00\x00"s);
    std::string lzmaCoderByte = lzmaHeader;
    lzmaCoderByte[13] = '\x01';
    struct Case {
        std::string label;
        std::string bytes;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"empty", "", "notAnArchive"},
        {"text", "this is not an archive at all\n", "notAnArchive"},
        {"zeros", std::string(10240, '\0'), "notAnArchive"},
        {"rar4 signature alone", "Rar!\x1a\x07\x00"s, "rar"},
        {"rar5 signature alone", "Rar!\x1a\x07\x01\x00"s, "rar"},
        {"rar of a later version", "Rar!\x1a\x07\x02"s, "rar"},
        {"rar signature cut", "Rar!\x1a\x07"s, "notAnArchive"},
        {"rar of no version", "Rar!\x1a\x07\x05"s, "notAnArchive"},
        {"rar 1.4", "RE~^"s + std::string(20, '\0'), "rar"},
        {"zip local header", "PK\x03\x04"s, "zip"},
        {"empty zip", "PK\x05\x06"s + std::string(18, '\0'), "zip"},
        {"zip that fit one segment", "PK00PK\x03\x04"s, "zip"},
        {"spanned zip segment", "PK\x07\x08PK\x03\x04"s, "spanned zip"},
        {"zip signature cut", "PK\x03"s, "notAnArchive"},
        {"zip central header first", "PK\x01\x02"s, "notAnArchive"},
        {"7z", "7z\xbc\xaf\x27\x1c\x00\x04"s, "7z"},
        {"7z cut", "7z\xbc\xaf\x27"s, "notAnArchive"},
        {"xz", "\xfd\x37\x7a\x58\x5a\x00"s, "xz"},
        {"zstd", "\x28\xb5\x2f\xfd"s, "zstd"},
        {"lz4 frame", "\x04\x22\x4d\x18"s, "lz4"},
        {"lz4 legacy", "\x02\x21\x4c\x18"s, "lz4"},
        {"gzip", "\x1f\x8b\x08\x00"s, "gzip"},
        {"gzip of another method", "\x1f\x8b\x07\x00"s, "notAnArchive"},
        {"bzip2", "BZh91AY&SY"s, "bzip2"},
        {"empty bzip2", "BZh9\x17\x72\x45\x38\x50\x90"s, "bzip2"},
        {"bzip2 of level 0", "BZh01AY&SY"s, "notAnArchive"},
        {"bzip2 without a block", "BZh9xxxxxx"s, "notAnArchive"},
        {"old tar", header, "tar"},
        {"old tar with a wrong checksum", badChecksum, "notAnArchive"},
        {"old tar cut", header.substr(0, 511), "notAnArchive"},
        {"ustar magic", ustarOnly, "tar"},
        {"gnu tar magic", ustarGnu, "tar"},
        {"cpio odc", "070707"s, "cpio"},
        {"cpio newc", "070701"s, "cpio"},
        {"cpio crc", "070702"s, "cpio"},
        {"cpio binary", "\xc7\x71"s + std::string(24, '\0'), "cpio"},
        {"cpio binary swapped", "\x71\xc7"s + std::string(24, '\0'), "cpio"},
        {"cpio binary cut", "\xc7\x71"s + std::string(10, '\0'), "notAnArchive"},
        {"lzma", lzmaHeader, "lzma"},
        {"lzma cut", lzmaHeader.substr(0, 13), "notAnArchive"},
        {"lzma dictionary no tool writes", lzmaOddDictionary, "notAnArchive"},
        {"lzma dictionary cut to MiB", lzmaCutDictionary, "lzma"},
        {"lzma of known size", lzmaKnownSize, "lzma"},
        {"lzma whose coder starts with 1", lzmaCoderByte, "notAnArchive"},
        {"lzma properties out of range", "\xe1"s + lzmaHeader.substr(1), "notAnArchive"},
    };
    TempDirectory dir;
    for (const Case& c : cases) {
        writeFile(dir / "x.rar", c.bytes);
        EXPECT_EQ(detected(dir / "x.rar"), c.expected) << c.label;
    }
}

// Only regular files are read: a pipe or device is refused before it is
// opened, so detection never blocks on it or wakes it; a link the user
// opened is followed.
TEST(ArchiveFormat, OpensOnlyRegularFiles) {
    TempDirectory dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.zip").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.zip");
    writeFile(dir / "real.zip", "PK\x05\x06" + std::string(18, '\0'));
    fs::create_symlink(dir / "real.zip", dir / "link.rar");
    fs::create_symlink(dir / "pipe.zip", dir / "pipe-link.zip");
    auto notAFileNamed = [&](const std::string& name) {
        return std::string(E::volumeUnreadable(name, E::VolumeUnreadable::Reason::notAFile).what());
    };
    EXPECT_EQ(detected(dir / "pipe.zip"), notAFileNamed("pipe.zip"));
    EXPECT_EQ(detected(dir / "pipe-link.zip"), notAFileNamed("pipe-link.zip"));
    EXPECT_EQ(detected(dir / "folder.zip"), notAFileNamed("folder.zip"));
    EXPECT_EQ(detected("/dev/zero"), notAFileNamed("zero"));
    EXPECT_EQ(detected(dir / "link.rar"), "zip");
    EXPECT_EQ(detected(dir / "gone.zip"), "cannotOpen");
}

}  // namespace
}  // namespace tovani::testing
