// Every format the libarchive engine opens, made by the tools that make it,
// listed by the engine and extracted by the extractor, and compared with the
// tree it was made from. Split sets go through the decoder session with the
// volume list an engine would resolve.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "TovaniCore/DecoderProcess.h"
#include "TovaniCore/DecoderSession.h"
#include "TovaniCore/ExtractorHarness.h"
#include "TovaniCore/LibarchiveArchives.h"
#include "TovaniCore/LibarchiveEngine.h"
#include "TovaniCore/StagingWriter.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;

struct Format {
    std::string label;
    std::string archive;
    std::function<void(const fs::path&)> make;
    std::optional<std::string> password = std::nullopt;
    bool keepsLinks = true;
    // The link's target is stored encrypted (zip): listed without it, skipped.
    bool hidesLinkTarget = false;
};

void bsdtar(const fs::path& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"tree"});
    tool(dir, "bsdtar", arguments);
}

void sevenZip(const fs::path& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"a", "-bd", "-snl"});
    arguments.push_back("tree");
    tool(dir, "7z", arguments);
}

// Files and folders only: Python's writer follows links.
void pythonZip(const fs::path& dir) {
    python(dir,
           "import zipfile\n"
           "with zipfile.ZipFile('t.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
           "    z.write('tree/a.txt'); z.write('tree/sub/b.txt'); z.write('tree/empty')\n");
}

const std::vector<Format>& formats() {
    static const std::vector<Format> all = {
        {"zip by bsdtar", "t.zip",
         [](const fs::path& d) {
             bsdtar(d, {"--format", "zip", "-cf", "t.zip"});
         }},
        {"zip by Python", "t.zip", pythonZip, std::nullopt, false},
        {"zip, AES", "t.zip",
         [](const fs::path& d) {
             sevenZip(d, {"-tzip", "-mem=AES256", "-psecret", "t.zip"});
         },
         "secret", true, true},
        {"zip, traditional encryption", "t.zip",
         [](const fs::path& d) {
             sevenZip(d, {"-tzip", "-mem=ZipCrypto", "-psecret", "t.zip"});
         },
         "secret", true, true},
        {"7z", "t.7z",
         [](const fs::path& d) {
             sevenZip(d, {"-ms=off", "t.7z"});
         }},
        {"7z, solid LZMA2", "t.7z",
         [](const fs::path& d) {
             sevenZip(d, {"-ms=on", "-m0=lzma2", "t.7z"});
         }},
        {"7z, BZip2", "t.7z",
         [](const fs::path& d) {
             sevenZip(d, {"-m0=bzip2", "t.7z"});
         }},
        {"tar", "t.tar",
         [](const fs::path& d) {
             bsdtar(d, {"-cf", "t.tar"});
         }},
        {"tar, pax", "t.tar",
         [](const fs::path& d) {
             bsdtar(d, {"--format", "pax", "-cf", "t.tar"});
         }},
        {"tar.gz", "t.tar.gz",
         [](const fs::path& d) {
             bsdtar(d, {"-czf", "t.tar.gz"});
         }},
        {"tar.bz2", "t.tar.bz2",
         [](const fs::path& d) {
             bsdtar(d, {"-cjf", "t.tar.bz2"});
         }},
        {"tar.xz", "t.tar.xz",
         [](const fs::path& d) {
             bsdtar(d, {"-cJf", "t.tar.xz"});
         }},
        {"tar.zst", "t.tar.zst",
         [](const fs::path& d) {
             bsdtar(d, {"--zstd", "-cf", "t.tar.zst"});
         }},
        {"tar.lz4", "t.tar.lz4",
         [](const fs::path& d) {
             bsdtar(d, {"--lz4", "-cf", "t.tar.lz4"});
         }},
        {"tar.lzma", "t.tar.lzma",
         [](const fs::path& d) {
             bsdtar(d, {"--lzma", "-cf", "t.tar.lzma"});
         }},
        {"cpio", "t.cpio",
         [](const fs::path& d) {
             bsdtar(d, {"--format", "newc", "-cf", "t.cpio"});
         }},
    };
    return all;
}

std::shared_ptr<const ArchiveEngine> libarchiveEngine() {
    return std::make_shared<LibarchiveEngine>();
}

TEST(LibarchiveEngine, EachFormatListsAndExtractsTheTreeItWasMadeFrom) {
    for (const Format& format : formats()) {
        SCOPED_TRACE(format.label);
        ExtractorHarness h;
        h.engine->inner = libarchiveEngine();
        makeSampleTree(h.dir / "src");
        format.make(h.dir / "src");
        fs::rename(h.dir / "src" / format.archive, h.dir / format.archive);
        const fs::path archive = h.dir / format.archive;

        std::map<std::string, ArchiveEntry> listed;
        try {
            for (const ArchiveEntry& entry : h.engine->list(archive, format.password).entries) {
                listed[entry.path] = entry;
            }
        } catch (const ExtractionError& error) {
            ADD_FAILURE() << error;
            continue;
        }
        ASSERT_TRUE(listed.contains("tree/a.txt"));
        EXPECT_EQ(listed["tree/a.txt"].unpackedSize, 6u);
        EXPECT_EQ(listed["tree/sub/b.txt"].unpackedSize, sampleProse().size());
        EXPECT_EQ(listed["tree/a.txt"].isEncrypted, format.password.has_value());
        if (format.keepsLinks) {
            EXPECT_EQ(listed["tree/link"].kind,
                      ArchiveEntry::Kind(ArchiveEntry::SymbolicLink{
                          format.hidesLinkTarget ? std::nullopt : std::optional("a.txt")}));
        }

        h.passwords = {format.password};
        const Outcome outcome = h.extract(archive);
        ASSERT_TRUE(outcome.succeeded()) << outcome.error();
        EXPECT_EQ(outcome.output(), h.dir / "tree");
        std::set<std::string> expected{"a.txt", "sub/", "sub/b.txt", "empty/"};
        if (format.hidesLinkTarget) {
            EXPECT_EQ(outcome.result().skipped(),
                      (std::vector<SkippedEntry>{
                          {"tree/link", SkippedEntry::Reason::unreadableLinkTarget}}));
        } else if (format.keepsLinks) {
            expected.insert("link@");
            EXPECT_EQ(fs::read_symlink(h.dir / "tree" / "link"), "a.txt");
        }
        EXPECT_EQ(treeOf(h.dir / "tree"), expected);
        EXPECT_EQ(readFile(h.dir / "tree" / "a.txt"), "alpha\n");
        EXPECT_EQ(readFile(h.dir / "tree" / "sub" / "b.txt"), sampleProse());
        EXPECT_EQ(h.requests.size(), format.password ? 1u : 0u);
    }
}

// A single compressed file holds one file of unstated size, named after the
// archive without its compression suffix.
TEST(LibarchiveEngine, SingleCompressedFileBecomesTheFileItHolds) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> compressors = {
        {"notes.txt.gz", {"gzip", "-k", "notes.txt"}},
        {"notes.txt.bz2", {"bzip2", "-k", "notes.txt"}},
        {"notes.txt.xz", {"xz", "-k", "notes.txt"}},
        {"notes.txt.lzma", {"xz", "-k", "--format=lzma", "notes.txt"}},
        {"notes.txt.zst", {"zstd", "-q", "notes.txt"}},
        {"notes.txt.lz4", {"lz4", "-q", "notes.txt", "notes.txt.lz4"}},
        {"empty.txt.gz", {"gzip", "-k", "empty.txt"}},
        {"empty.txt.xz", {"xz", "-k", "empty.txt"}},
    };
    for (const auto& [name, command] : compressors) {
        SCOPED_TRACE(name);
        ExtractorHarness h;
        h.engine->inner = libarchiveEngine();
        makeTree(h.dir / "src", {{"notes.txt", sampleProse()}, {"empty.txt", ""}});
        const std::string inside = name.substr(0, name.rfind('.'));
        const std::string contents = inside == "notes.txt" ? sampleProse() : "";
        tool(h.dir / "src", command.front(), {command.begin() + 1, command.end()});
        fs::rename(h.dir / "src" / name, h.dir / name);

        const ArchiveListing listing = h.engine->list(h.dir / name, std::nullopt);
        ASSERT_EQ(listing.entries.size(), 1u);
        EXPECT_EQ(listing.entries[0].path, inside);
        EXPECT_TRUE(listing.entries[0].isFile());
        const Outcome outcome = h.extract(h.dir / name);
        ASSERT_TRUE(outcome.succeeded()) << outcome.error();
        EXPECT_EQ(outcome.output(), h.dir / inside);
        EXPECT_EQ(readFile(h.dir / inside), contents);
    }
}

TEST(LibarchiveEngine, FileNoFormatClaimsIsNotAnArchive) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"text.zip", "just some text, no archive\n"},
        {"empty.7z", ""},
        {"noise.tar.gz", std::string(3000, '\x7f')},
    };
    for (const auto& [name, contents] : files) {
        SCOPED_TRACE(name);
        ExtractorHarness h;
        h.engine->inner = libarchiveEngine();
        makeTree(h.dir, {{name, contents}});
        EXPECT_EQ(h.extract(h.dir / name).error(), E::notAnArchive());
    }
}

// Zip passwords follow the RAR prompt: asked for once the listing shows
// encrypted files, asked again after a wrong one. A 7z that this libarchive
// cannot decrypt fails as such, without asking.
TEST(LibarchiveEngine, PasswordsAreAskedForAndEncryptionNoOneDecryptsIsNamed) {
    struct Case {
        std::string label;
        std::vector<std::string> switches;
        std::vector<std::optional<std::string>> answers;
        std::optional<ExtractionError> error;
        std::vector<bool> retries;  // of each request made
    };
    const std::vector<Case> cases = {
        {"AES zip, wrong then right",
         {"-tzip", "-mem=AES256", "-psecret"},
         {"wrong", "secret"},
         std::nullopt,
         {false, true}},
        {"traditional zip, wrong then right",
         {"-tzip", "-mem=ZipCrypto", "-psecret"},
         {"wrong", "secret"},
         std::nullopt,
         {false, true}},
        {"zip, declined", {"-tzip", "-psecret"}, {}, E::cancelled(), {false}},
        {"7z, encrypted data", {"-t7z", "-psecret"}, {"secret"}, E::unsupportedEncryption(), {}},
        {"7z, encrypted names",
         {"-t7z", "-psecret", "-mhe=on"},
         {"secret"},
         E::unsupportedEncryption(),
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ExtractorHarness h;
        h.engine->inner = libarchiveEngine();
        makeTree(h.dir / "src", {{"secret.txt", "hidden"}});
        std::vector<std::string> command{"a", "-bd"};
        command.insert(command.end(), c.switches.begin(), c.switches.end());
        command.insert(command.end(), {"../locked.bin", "secret.txt"});
        tool(h.dir / "src", "7z", command);
        h.passwords = c.answers;
        const Outcome outcome = h.extract(h.dir / "locked.bin");
        if (c.error) {
            EXPECT_EQ(outcome.error(), *c.error);
        } else {
            ASSERT_TRUE(outcome.succeeded()) << outcome.error();
            EXPECT_EQ(readFile(outcome.output()), "hidden");
        }
        std::vector<bool> retries;
        for (const PasswordRequest& request : h.requests) {
            retries.push_back(request.isRetry);
        }
        EXPECT_EQ(retries, c.retries);
    }
}

// Zip names: flagged UTF-8, unflagged bytes that are UTF-8, and CP437 from
// Windows' own writer; a Unicode-path field beside a header name. Listing
// and extraction name each file alike, the Unicode path where there is one.
TEST(LibarchiveEngine, ZipNamesAreReadAsTheirWritersMeantThem) {
    // Each name is written as the placeholder, then its bytes put in place.
    struct Case {
        std::string label;
        std::string script;
        std::string expected;
    };
    const std::string write =
        "import zipfile, struct, zlib\n"
        "def put(name, stored, flags=0, extra=b''):\n"
        "    z = zipfile.ZipFile('names.zip', 'w')\n"
        "    i = zipfile.ZipInfo('P' * len(stored)); i.extra = extra\n"
        "    z.writestr(i, b'x'); z.close()\n"
        "    d = open('names.zip', 'rb').read().replace(b'P' * len(stored), stored)\n"
        "    d = bytearray(d)\n"
        "    for sig, at in ((b'PK\\x03\\x04', 6), (b'PK\\x01\\x02', 8)):\n"
        "        p = d.index(sig); d[p + at] |= flags\n"
        "    open('names.zip', 'wb').write(d)\n";
    const std::vector<Case> cases = {
        {"flagged UTF-8", write + "put('x', 'caf\\u00e9.txt'.encode(), 0x08)\n", "caf\xc3\xa9.txt"},
        {"unflagged UTF-8", write + "put('x', 'caf\\u00e9.txt'.encode())\n", "caf\xc3\xa9.txt"},
        {"CP437", write + "put('x', b'caf\\x82 \\x8e.txt')\n", "caf\xc3\xa9 \xc3\x84.txt"},
        {"Unicode path field",
         write + "u = '\\u00fcber.txt'.encode(); h = b'uber.txt'\n"
                 "put('x', h, 0, struct.pack('<HHBI', 0x7075, 5 + len(u), 1, zlib.crc32(h)) + u)\n",
         "\xc3\xbc"
         "ber.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ExtractorHarness h;
        h.engine->inner = libarchiveEngine();
        fs::create_directories(h.dir / "src");
        python(h.dir / "src", c.script);
        fs::rename(h.dir / "src" / "names.zip", h.dir / "names.zip");
        const ArchiveListing listing = h.engine->list(h.dir / "names.zip", std::nullopt);
        ASSERT_EQ(listing.entries.size(), 1u);
        EXPECT_EQ(listing.entries[0].path, c.expected);
        const Outcome outcome = h.extract(h.dir / "names.zip");
        ASSERT_TRUE(outcome.succeeded()) << outcome.error();
        EXPECT_EQ(outcome.output(), h.dir / listing.entries[0].path);
    }
}

// The parts of a byte-split set are read as one stream, and each part is
// among the archive's files that the app may trash.
TEST(LibarchiveEngine, SplitSetIsReadAsOneStreamFromItsParts) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> sets = {
        {"t.7z", {"a", "-bd", "-v20k", "-mx=0", "t.7z", "tree"}},
        {"t.zip", {"a", "-bd", "-tzip", "-v20k", "-mx=0", "t.zip", "tree"}},
    };
    for (const auto& [name, command] : sets) {
        SCOPED_TRACE(name);
        TempDirectory dir;
        makeSampleTree(dir.path());
        tool(dir.path(), "7z", command);
        std::vector<fs::path> volumes;
        for (int part = 1; fs::exists(dir.path() / (name + ".00" + std::to_string(part))); ++part) {
            volumes.push_back(dir.path() / (name + ".00" + std::to_string(part)));
        }
        ASSERT_GE(volumes.size(), 2u);
        const DecoderSession::Call call{DecoderProcess::installedPath(),
                                        DecoderProtocol::Backend::libarchive, volumes};
        const ArchiveListing listing =
            DecoderSession::list(call, std::nullopt, Cancellation::never());
        EXPECT_EQ(listing.files, volumes);
        StagingWriter writer(dir.path() / "out", std::nullopt, 0, {}, {});
        DecoderSession::extract(call, std::nullopt, writer, Cancellation::never());
        EXPECT_EQ(readFile(dir.path() / "out" / "tree" / "sub" / "b.txt"), sampleProse());

        // Without its last part the set is damaged, never cut short silently.
        volumes.pop_back();
        const DecoderSession::Call shorter{DecoderProcess::installedPath(),
                                           DecoderProtocol::Backend::libarchive, volumes};
        EXPECT_THROW((void)DecoderSession::list(shorter, std::nullopt, Cancellation::never()),
                     ExtractionError);
    }
}

}  // namespace
}  // namespace tovani::testing
