#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "RarBridge/tovani_bridge.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using testing::HostOs;
using testing::kFileTime1970;
using testing::Redirection;
using testing::StoredEntry;
using testing::TempDirectory;

// An entry record with its texts copied out of the handle.
struct Entry {
    std::string name;
    std::string target;
    tovani_entry record;
};

// Owns a handle for one test.
struct Opened {
    tovani_archive* handle = nullptr;
    tovani_archive_info info{};
    tovani_status status = TOVANI_ENGINE_FAILURE;

    Opened(const fs::path& archive, bool forExtraction, const char* password = nullptr) {
        status = tovani_open(archive.c_str(), forExtraction, password, &handle, &info);
    }
    ~Opened() { tovani_close(handle); }

    // Reads every entry, skipping each; stops at the first failure.
    std::vector<Entry> readAll(tovani_status* last = nullptr) {
        std::vector<Entry> entries;
        tovani_status result;
        tovani_entry record{};
        while ((result = tovani_read_entry(handle, &record)) == TOVANI_OK) {
            entries.push_back(Entry{record.name_utf8, record.target_utf8, record});
            if ((result = tovani_skip_entry(handle)) != TOVANI_OK) {
                break;
            }
        }
        if (last != nullptr) {
            *last = result;
        }
        return entries;
    }
};

bool collect(const uint8_t* data, size_t size, void* context) {
    if (data != nullptr) {
        static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), size);
    }
    return true;
}

bool refuse(const uint8_t*, size_t, void*) {
    return false;
}

// Every time the format stores reaches the bridge whole: FILETIMEs from 1601
// to far beyond 2185 (where the library's own clock wraps), Unix times with
// their nanoseconds, and no time when the header has none.
TEST(TovaniBridgeTime, EveryStoredTimeArrivesWholeToTheNanosecond) {
    struct Case {
        const char* name;
        std::optional<std::uint64_t> fileTime;
        std::optional<std::uint32_t> unixTime;
        std::optional<std::int64_t> seconds;  // none: no time expected
        std::uint32_t nanoseconds;
    };
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    const Case cases[] = {
        {"epoch", kFileTime1970, std::nullopt, 0, 0},
        {"1969", kFileTime1970 - kTicksPerSecond / 2, std::nullopt, -1, 500'000'000},
        {"1601", 1, std::nullopt, -11'644'473'600, 100},
        {"2200", kFileTime1970 + 7'258'118'400 * kTicksPerSecond + 3, std::nullopt, 7'258'118'400,
         300},
        {"9999", kFileTime1970 + 253'402'300'799 * kTicksPerSecond + 9'999'999, std::nullopt,
         253'402'300'799, 999'999'900},
        {"micro", kFileTime1970 + 15, std::nullopt, 0, 1500},
        {"unix", std::nullopt, testing::kDefaultMtime, testing::kDefaultMtime, 0},
        {"2106", std::nullopt, 0xFFFF'FFFF, 0xFFFF'FFFF, 0},
        {"none", std::nullopt, std::nullopt, std::nullopt, 0},
    };
    std::vector<StoredEntry> stored;
    for (const Case& item : cases) {
        StoredEntry entry = StoredEntry::file(item.name, "x");
        entry.unixMtime = item.unixTime;
        entry.fileTime = item.fileTime;
        stored.push_back(entry);
    }
    TempDirectory dir;
    testing::writeRar5(dir / "t.rar", stored);
    // The nanoseconds of a Unix time come from a rar-made archive.
    const fs::path file = dir / "in" / "exact.txt";
    testing::makeTree(dir / "in", {{"exact.txt", "ns"}});
    const struct timespec times[2] = {{1'600'000'000, 123'456'789}, {1'600'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const fs::path made = testing::rar(dir / "in", "../ns.rar", {"-tsm"}, {"exact.txt"});

    Opened archive(dir / "t.rar", false);
    ASSERT_EQ(archive.status, TOVANI_OK);
    tovani_status last;
    const std::vector<Entry> entries = archive.readAll(&last);
    EXPECT_EQ(last, TOVANI_END_OF_ARCHIVE);
    ASSERT_EQ(entries.size(), std::size(cases));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Case& item = cases[i];
        const tovani_entry& record = entries[i].record;
        EXPECT_EQ(record.has_mtime, item.seconds.has_value()) << item.name;
        if (item.seconds && record.has_mtime) {
            EXPECT_EQ(record.mtime_seconds, *item.seconds) << item.name;
            EXPECT_EQ(record.mtime_nanoseconds, item.nanoseconds) << item.name;
        }
    }
    Opened exact(made, false);
    ASSERT_EQ(exact.status, TOVANI_OK);
    const std::vector<Entry> exactEntries = exact.readAll(&last);
    ASSERT_EQ(exactEntries.size(), 1u);
    EXPECT_EQ(exactEntries[0].record.mtime_seconds, 1'600'000'000);
    EXPECT_EQ(exactEntries[0].record.mtime_nanoseconds, 123'456'789u);
}

// A Windows link's or junction's target arrives with "/" for "\\", as unrar x
// reads it, so the link rules see its climbs and its drive.
TEST(TovaniBridgeLinks, WindowsLinksAndJunctionsAreSymbolicAndTargetsNeverGoStale) {
    TempDirectory dir;
    testing::writeRar5(
        dir / "l.rar",
        {StoredEntry::link(Redirection::unixSymlink, "unix", "../up"),
         StoredEntry::file("plain.txt", "data"),
         StoredEntry::link(Redirection::windowsSymlink, "winlink", "..\\sub\\target",
                           HostOs::windows),
         StoredEntry::link(Redirection::junction, "junction", "\\??\\D:\\dir", HostOs::windows),
         StoredEntry::directory("dir"),
         StoredEntry::link(Redirection::hardLink, "hard", "plain.txt"),
         StoredEntry::link(Redirection::fileCopy, "copy", ""),
         StoredEntry::file("after.txt", "x")});

    Opened archive(dir / "l.rar", false);
    ASSERT_EQ(archive.status, TOVANI_OK);
    const std::vector<Entry> entries = archive.readAll();
    ASSERT_EQ(entries.size(), 8u);
    const std::vector<std::pair<tovani_link_type, std::string>> expected{
        {TOVANI_LINK_SYMBOLIC, "../up"},
        {TOVANI_LINK_NONE, ""},
        {TOVANI_LINK_SYMBOLIC, "../sub/target"},
        {TOVANI_LINK_SYMBOLIC, "/?\?/D:/dir"},
        {TOVANI_LINK_NONE, ""},
        {TOVANI_LINK_HARD, "plain.txt"},
        {TOVANI_LINK_COPY, ""},
        {TOVANI_LINK_NONE, ""}};
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].name);
        EXPECT_EQ(entries[i].record.link_type, expected[i].first);
        EXPECT_EQ(entries[i].target, expected[i].second);
    }
    EXPECT_TRUE(entries[4].record.is_directory);
    EXPECT_FALSE(entries[1].record.is_directory);
}

TEST(TovaniBridgeEntry, CarriesNamesSizesModesAndHostsAsStored) {
    TempDirectory dir;
    StoredEntry setuid = StoredEntry::file("../evil/\xC3\xBC \xE2\x82\xAC.sh", "#!/bin/sh\n");
    setuid.attributes = 0104755;
    testing::writeRar5(dir / "e.rar", {setuid, StoredEntry::file("/abs", "", HostOs::windows)});

    Opened archive(dir / "e.rar", false);
    ASSERT_EQ(archive.status, TOVANI_OK);
    EXPECT_FALSE(archive.info.is_volume);
    EXPECT_FALSE(archive.info.is_solid);
    EXPECT_FALSE(archive.info.has_encrypted_headers);
    const std::vector<Entry> entries = archive.readAll();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "../evil/\xC3\xBC \xE2\x82\xAC.sh");
    EXPECT_EQ(entries[0].record.unpacked_size, 10u);
    EXPECT_EQ(entries[0].record.packed_size, 10u);
    EXPECT_TRUE(entries[0].record.has_unix_mode);
    EXPECT_EQ(entries[0].record.attributes, 0104755u);
    EXPECT_FALSE(entries[0].record.is_encrypted);
    EXPECT_EQ(entries[1].name, "/abs");
    EXPECT_FALSE(entries[1].record.has_unix_mode);
    EXPECT_EQ(entries[1].record.attributes, 0x20u);
}

TEST(TovaniBridgeEntry, ReadsTheOldFormatWithUnicodeNames) {
    TempDirectory dir;
    testing::writeRar4(dir / "old.rar", {StoredEntry::directory("d\xC3\xA9j\xC3\xA0"),
                                         StoredEntry::file("d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC", "12"),
                                         StoredEntry::rar4Symlink("link", "target")});
    Opened archive(dir / "old.rar", false);
    ASSERT_EQ(archive.status, TOVANI_OK);
    const std::vector<Entry> entries = archive.readAll();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "d\xC3\xA9j\xC3\xA0");
    EXPECT_TRUE(entries[0].record.is_directory);
    EXPECT_EQ(entries[1].name, "d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC");
    EXPECT_EQ(entries[1].record.unpacked_size, 2u);
    EXPECT_EQ(entries[2].record.link_type, TOVANI_LINK_SYMBOLIC);
    EXPECT_EQ(entries[2].target, "");
}

// Names whose bytes are not UTF-8: a Windows RAR 2.x/3.x name without its
// Unicode form is in the OEM code page; anything else is escaped, so that
// two names never become one.
TEST(TovaniBridgeNames, LegacyBytesAreDecodedOrEscapedAndNeverMerge) {
    TempDirectory dir;
    testing::writeRar5(dir / "bytes.rar", {StoredEntry::file("report.pdf\xFF.exe", "first"),
                                           StoredEntry::file("report.pdf\xFE.txt", "second"),
                                           StoredEntry::file("over\xC0\xAFlong", "third")});
    StoredEntry windows = StoredEntry::file("caf\x82.txt", "w", HostOs::windows);
    windows.rar4LegacyName = true;
    StoredEntry unix = StoredEntry::file("caf\xE9.txt", "u");
    unix.rar4LegacyName = true;
    testing::writeRar4(dir / "legacy.rar", {windows, unix});

    Opened rar5(dir / "bytes.rar", false);
    ASSERT_EQ(rar5.status, TOVANI_OK);
    std::vector<Entry> entries = rar5.readAll();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "report.pdf%FF.exe");
    EXPECT_EQ(entries[1].name, "report.pdf%FE.txt");
    EXPECT_EQ(entries[2].name, "over%C0%AFlong");

    Opened rar4(dir / "legacy.rar", false);
    ASSERT_EQ(rar4.status, TOVANI_OK);
    entries = rar4.readAll();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "caf\xC3\xA9.txt");
    EXPECT_EQ(entries[1].name, "caf%E9.txt");
}

// rar -ver keeps older versions as "name;N"; like unrar x, only the current
// one is read, in both formats, and however many there are.
TEST(TovaniBridgeVersions, OnlyTheCurrentVersionIsRead) {
    TempDirectory dir;
    std::vector<StoredEntry> stored;
    for (int version = 1; version <= 2000; ++version) {
        StoredEntry old = StoredEntry::file("doc.txt;" + std::to_string(version), "old");
        old.rar4OldVersion = true;
        stored.push_back(old);
    }
    stored.push_back(StoredEntry::file("doc.txt", "current"));
    testing::writeRar4(dir / "old.rar", stored);
    testing::makeTree(dir / "in", {{"note.txt", "first"}});
    testing::rar(dir / "in", "../new.rar", {"-ver"}, {"note.txt"});
    testing::writeFile(dir / "in/note.txt", "second");
    testing::rar(dir / "in", "../new.rar", {"-ver"}, {"note.txt"});

    for (const char* archive : {"old.rar", "new.rar"}) {
        SCOPED_TRACE(archive);
        Opened opened(dir / archive, true);
        ASSERT_EQ(opened.status, TOVANI_OK);
        tovani_entry record{};
        ASSERT_EQ(tovani_read_entry(opened.handle, &record), TOVANI_OK);
        const std::string name = record.name_utf8;
        std::string data;
        ASSERT_EQ(tovani_extract_entry(opened.handle, collect, &data), TOVANI_OK);
        EXPECT_EQ(name.find(';'), std::string::npos) << name;
        EXPECT_TRUE(data == "current" || data == "second") << data;
        EXPECT_EQ(tovani_read_entry(opened.handle, &record), TOVANI_END_OF_ARCHIVE);
    }
}

// The library holds 2,047 characters of a target and cuts the rest without
// a word: a link whose target may be cut comes without one (and is skipped).
TEST(TovaniBridgeLinks, ATargetTheLibraryMayHaveCutIsNotDelivered) {
    TempDirectory dir;
    const std::string whole(2046, 'a');
    const std::string tooLong(3000, 'b');
    testing::writeRar5(dir / "l.rar", {StoredEntry::link(Redirection::unixSymlink, "whole", whole),
                                       StoredEntry::link(Redirection::unixSymlink, "cut", tooLong),
                                       StoredEntry::file("after.txt", "x")});
    Opened archive(dir / "l.rar", false);
    ASSERT_EQ(archive.status, TOVANI_OK);
    tovani_status last = TOVANI_OK;
    const std::vector<Entry> entries = archive.readAll(&last);
    EXPECT_EQ(last, TOVANI_END_OF_ARCHIVE);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].target, whole);
    EXPECT_EQ(entries[1].record.link_type, TOVANI_LINK_SYMBOLIC);
    EXPECT_EQ(entries[1].target, "");
}

// unrar extracts every file of an old archive whose comment header is
// damaged, and so does the bridge; a damaged file header still fails.
TEST(TovaniBridgeComment, ADamagedCommentSpoilsOnlyTheComment) {
    TempDirectory dir;
    const std::vector<StoredEntry> entries{StoredEntry::file("c.txt", "content")};
    testing::writeRar4(dir / "service.rar", entries, testing::Rar4Archive{"note", true, true});
    testing::writeRar4(dir / "embedded.rar", entries, testing::Rar4Archive{"note", false, true});
    testing::writeRar4(dir / "file.rar", entries);
    // The file header's checksum follows the signature and the main header.
    std::string bytes = testing::readFile(dir / "file.rar");
    bytes[7 + 13] = static_cast<char>(bytes[7 + 13] ^ 0x5A);
    testing::writeFile(dir / "file.rar", bytes);

    for (const char* name : {"service.rar", "embedded.rar"}) {
        SCOPED_TRACE(name);
        Opened archive(dir / name, true);
        ASSERT_EQ(archive.status, TOVANI_OK);
        tovani_entry record{};
        ASSERT_EQ(tovani_read_entry(archive.handle, &record), TOVANI_OK);
        std::string data;
        EXPECT_EQ(tovani_extract_entry(archive.handle, collect, &data), TOVANI_OK);
        EXPECT_EQ(data, "content");
        EXPECT_EQ(tovani_read_entry(archive.handle, &record), TOVANI_END_OF_ARCHIVE);
    }
    Opened damaged(dir / "file.rar", false);
    ASSERT_EQ(damaged.status, TOVANI_OK);
    tovani_status last = TOVANI_OK;
    damaged.readAll(&last);
    EXPECT_EQ(last, TOVANI_DAMAGED);
}

// A RAR 1.5-4.x symbolic link stores its target as its data: extraction
// delivers it with the entry, checked like data; listing reads no data.
TEST(TovaniBridgeLinks, OldLinksCarryTheirTargetFromTheirData) {
    TempDirectory dir;
    StoredEntry damaged = StoredEntry::rar4Symlink("damaged", "file.txt");
    damaged.wrongCrc = true;
    // RAR 1.5 had no directory flag; the mode's 0x10 bit must not make one.
    StoredEntry rar15Link = StoredEntry::rar4Symlink("rar15", "file.txt");
    rar15Link.rar4Version = 15;
    testing::writeRar4(dir / "links.rar", {StoredEntry::file("file.txt", "t"),
                                           StoredEntry::rar4Symlink("link", "file.txt"),
                                           StoredEntry::rar4Symlink("up", "../../etc/passwd"),
                                           StoredEntry::rar4Symlink("bytes", "caf\xE9"),
                                           StoredEntry::rar4Symlink("huge", std::string(5000, 'a')),
                                           StoredEntry::rar4Symlink("nul", std::string("a\0b", 3)),
                                           rar15Link, StoredEntry::file("after.txt", "x")});
    testing::writeRar4(dir / "damaged.rar", {damaged});

    Opened extracting(dir / "links.rar", true);
    ASSERT_EQ(extracting.status, TOVANI_OK);
    tovani_status last = TOVANI_OK;
    std::vector<Entry> entries = extracting.readAll(&last);
    EXPECT_EQ(last, TOVANI_END_OF_ARCHIVE);
    ASSERT_EQ(entries.size(), 8u);
    const char* const targets[] = {"", "file.txt", "../../etc/passwd", "caf%E9",
                                   "", "",         "file.txt",         ""};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].target, targets[i]) << entries[i].name;
    }
    EXPECT_EQ(entries[1].record.link_type, TOVANI_LINK_SYMBOLIC);
    EXPECT_EQ(entries[6].record.link_type, TOVANI_LINK_SYMBOLIC);
    EXPECT_FALSE(entries[6].record.is_directory);

    Opened listing(dir / "links.rar", false);
    ASSERT_EQ(listing.status, TOVANI_OK);
    entries = listing.readAll(&last);
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries[1].target, "");

    Opened corrupt(dir / "damaged.rar", true);
    ASSERT_EQ(corrupt.status, TOVANI_OK);
    tovani_entry record{};
    EXPECT_EQ(tovani_read_entry(corrupt.handle, &record), TOVANI_DAMAGED);
}

TEST(TovaniBridgeData, ExtractDeliversVerifiedDataAndRefusalCancels) {
    TempDirectory dir;
    testing::writeRar5(dir / "d.rar",
                       {StoredEntry::file("a.txt", "alpha"), StoredEntry::file("b.txt", "beta")});
    Opened archive(dir / "d.rar", true);
    ASSERT_EQ(archive.status, TOVANI_OK);
    tovani_entry record{};
    ASSERT_EQ(tovani_read_entry(archive.handle, &record), TOVANI_OK);
    std::string data;
    EXPECT_EQ(tovani_extract_entry(archive.handle, collect, &data), TOVANI_OK);
    EXPECT_EQ(data, "alpha");
    ASSERT_EQ(tovani_read_entry(archive.handle, &record), TOVANI_OK);
    EXPECT_EQ(tovani_extract_entry(archive.handle, refuse, nullptr), TOVANI_CANCELLED);
}

TEST(TovaniBridgeData, WrongDataChecksumIsDamaged) {
    TempDirectory dir;
    StoredEntry bad = StoredEntry::file("bad.txt", "payload");
    bad.wrongCrc = true;
    testing::writeRar5(dir / "d.rar", {bad});
    Opened archive(dir / "d.rar", true);
    ASSERT_EQ(archive.status, TOVANI_OK);
    tovani_entry record{};
    ASSERT_EQ(tovani_read_entry(archive.handle, &record), TOVANI_OK);
    std::string data;
    EXPECT_EQ(tovani_extract_entry(archive.handle, collect, &data), TOVANI_DAMAGED);
}

TEST(TovaniBridgeVolumes, FreshHandleHasNoMissingVolumeAndSingleFileNoFurtherVolumes) {
    TempDirectory dir;
    testing::writeRar5(dir / "one.rar", {StoredEntry::file("a", "1")});
    Opened archive(dir / "one.rar", false);
    ASSERT_EQ(archive.status, TOVANI_OK);
    ASSERT_NE(tovani_missing_volume(archive.handle), nullptr);
    EXPECT_STREQ(tovani_missing_volume(archive.handle), "");
    archive.readAll();
    EXPECT_EQ(tovani_next_volume_count(archive.handle), 0u);
    EXPECT_STREQ(tovani_missing_volume(archive.handle), "");
}

TEST(TovaniBridgeVolumes, RecordsVolumesVisitedAndTheOneMissing) {
    TempDirectory dir;
    std::string big(5000, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 31);
    }
    const std::vector<fs::path> volumes =
        testing::writeRar4Volumes(dir / "set.rar", {StoredEntry::file("big", big)}, 2000);
    ASSERT_EQ(volumes.size(), 3u);
    {
        Opened archive(volumes[0], true);
        ASSERT_EQ(archive.status, TOVANI_OK);
        EXPECT_TRUE(archive.info.is_volume);
        EXPECT_TRUE(archive.info.is_first_volume);
        tovani_entry record{};
        ASSERT_EQ(tovani_read_entry(archive.handle, &record), TOVANI_OK);
        std::string data;
        EXPECT_EQ(tovani_extract_entry(archive.handle, collect, &data), TOVANI_OK);
        EXPECT_EQ(data, big);
        ASSERT_EQ(tovani_next_volume_count(archive.handle), 2u);
        EXPECT_EQ(tovani_next_volume_path(archive.handle, 0), volumes[1].string());
        EXPECT_EQ(tovani_next_volume_path(archive.handle, 1), volumes[2].string());
    }
    fs::remove(volumes[2]);
    Opened archive(volumes[0], true);
    ASSERT_EQ(archive.status, TOVANI_OK);
    tovani_entry record{};
    ASSERT_EQ(tovani_read_entry(archive.handle, &record), TOVANI_OK);
    std::string data;
    EXPECT_EQ(tovani_extract_entry(archive.handle, collect, &data), TOVANI_VOLUME_MISSING);
    EXPECT_EQ(tovani_missing_volume(archive.handle), volumes[2].string());
}

TEST(TovaniBridgePassword, EncryptedHeadersNeedTheRightPasswordToOpen) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"secret.txt", "hidden"}});
    const fs::path archive = testing::rar(dir.path(), "h.rar", {"-hpsecret"}, {"secret.txt"});

    Opened none(archive, false);
    EXPECT_EQ(none.status, TOVANI_PASSWORD_REQUIRED);
    EXPECT_EQ(none.handle, nullptr);
    // The empty password is handed over like any other; the library itself
    // then reports that it has no password.
    Opened empty(archive, false, "");
    EXPECT_EQ(empty.status, TOVANI_PASSWORD_REQUIRED);
    EXPECT_EQ(empty.handle, nullptr);
    Opened wrong(archive, false, "wrong");
    EXPECT_EQ(wrong.status, TOVANI_WRONG_PASSWORD);
    EXPECT_EQ(wrong.handle, nullptr);
    Opened right(archive, false, "secret");
    ASSERT_EQ(right.status, TOVANI_OK);
    EXPECT_TRUE(right.info.has_encrypted_headers);
    const std::vector<Entry> entries = right.readAll();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "secret.txt");
    EXPECT_TRUE(entries[0].record.is_encrypted);
}

TEST(TovaniBridgeOpen, FailuresLeaveNoHandle) {
    TempDirectory dir;
    testing::writeFile(dir / "text.rar", "this is not an archive at all");
    tovani_archive* handle = reinterpret_cast<tovani_archive*>(&dir);
    tovani_archive_info info{true, true, true, true};
    EXPECT_EQ(tovani_open((dir / "text.rar").c_str(), false, nullptr, &handle, &info),
              TOVANI_NOT_AN_ARCHIVE);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(info.is_volume);  // written only on success
    EXPECT_EQ(tovani_open((dir / "absent.rar").c_str(), false, nullptr, &handle, &info),
              TOVANI_CANNOT_OPEN);
    EXPECT_EQ(handle, nullptr);
}

// Test programs run in the "C" locale, where the library alone cannot turn a
// non-ASCII wide path into the bytes of the file name.
// unrar reports "Main archive header is corrupt" for a signature followed by
// anything but the main header; the library alone would list it as empty.
TEST(TovaniBridgeOpen, AnArchiveWithoutItsMainHeaderIsDamaged) {
    TempDirectory dir;
    const std::string rar4("Rar!\x1A\x07\x00", 7);
    const std::string rar5("Rar!\x1A\x07\x01\x00", 8);
    // End-of-archive records with valid checksums, and no main header.
    const std::string rar4End("\xC4\x3D\x7B\x00\x40\x07\x00", 7);
    const std::string rar5End("\x19\xB2\x3A\x35\x03\x05\x00\x00", 8);
    for (const std::string& bytes : {rar4, rar4 + rar4End, rar5 + rar5End}) {
        testing::writeFile(dir / "x.rar", bytes);
        for (const bool forExtraction : {false, true}) {
            Opened archive(dir / "x.rar", forExtraction);
            EXPECT_EQ(archive.status, TOVANI_DAMAGED) << bytes.size();
            EXPECT_EQ(archive.handle, nullptr);
        }
    }
}

TEST(TovaniBridgeOpen, NonAsciiPathsOpenWhateverTheLocale) {
    TempDirectory dir;
    const fs::path folder = dir / "Fotos \xC3\xA9t\xC3\xA9";
    fs::create_directory(folder);
    const std::vector<fs::path> volumes = testing::writeRar4Volumes(
        folder / "\xE2\x82\xAC.rar", {StoredEntry::file("big", std::string(3000, 'x'))}, 2000);
    ASSERT_EQ(volumes.size(), 2u);

    Opened archive(volumes[0], true);
    ASSERT_EQ(archive.status, TOVANI_OK);
    tovani_entry record{};
    ASSERT_EQ(tovani_read_entry(archive.handle, &record), TOVANI_OK);
    std::string data;
    EXPECT_EQ(tovani_extract_entry(archive.handle, collect, &data), TOVANI_OK);
    EXPECT_EQ(data.size(), 3000u);
    ASSERT_EQ(tovani_next_volume_count(archive.handle), 1u);
    EXPECT_EQ(tovani_next_volume_path(archive.handle, 0), volumes[1].string());
}

TEST(TovaniBridgeClose, NullHandleIsIgnored) {
    tovani_close(nullptr);
}

}  // namespace
}  // namespace tovani
