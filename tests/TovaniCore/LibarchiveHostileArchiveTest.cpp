// Hostile zip, 7z and tar archives, each extracted by an unprivileged user
// who owns a victim file beside the destination: each attack ends refused,
// damaged or with the offending entry skipped, the victim byte-identical,
// and nothing in the destination but the output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "TovaniCore/Extractor.h"
#include "TovaniCore/ExtractorHarness.h"
#include "TovaniCore/LibarchiveArchives.h"
#include "TovaniCore/LibarchiveEngine.h"
#include "support/OtherUser.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;
using Reason = SkippedEntry::Reason;

constexpr const char* kVictimContents = "the user's own file\n";

// What an extraction ended with, as text that crosses the process boundary.
std::string describe(const E& error) {
    std::ostringstream text;
    text << error;
    return text.str();
}

std::string describeSuccess(const ExtractionResult& result) {
    std::string text = "extracted " + result.output().filename().string();
    for (const SkippedEntry& skipped : result.skipped()) {
        text += ", skipped " + skipped.path + " (" +
                std::to_string(static_cast<int>(skipped.reason)) + ")";
    }
    return text;
}

std::string skippedText(const std::string& path, Reason reason) {
    return ", skipped " + path + " (" + std::to_string(static_cast<int>(reason)) + ")";
}

// Python that writes an archive; VICTIM in it stands for the victim's path
// and OUTSIDE for its folder.
struct Attack {
    std::string name;
    std::string archive;
    std::string script;
    // The error, or "extracted <output>" with the skipped entries.
    std::string outcome;
    // Checks the output once extracted (the parent runs it as root).
    std::function<void(const fs::path& output)> check = {};
};

const std::string kTar =
    "import tarfile, io\n"
    "def add(t, name, data=b'', **fields):\n"
    "    i = tarfile.TarInfo(name); i.size = len(data)\n"
    "    for k, v in fields.items(): setattr(i, k, v)\n"
    "    t.addfile(i, io.BytesIO(data))\n";
const std::string kZip = "import zipfile\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::vector<Attack> attacks() {
    return {
        {"ZipSlipDotDot", "slip.zip",
         kZip + "zipfile.ZipFile('slip.zip','w').writestr('../outside/victim', b'owned')\n",
         describe(E::unsafePath("../outside/victim"))},
        {"TarSlipAbsolute", "abs.tar",
         kTar + "with tarfile.open('abs.tar','w') as t: add(t, 'VICTIM', b'owned')\n",
         describe(E::unsafePath("VICTIM"))},
        {"TarSlipDotDot", "slip.tar.gz",
         kTar + "with tarfile.open('slip.tar.gz','w:gz') as t:\n"
                "    add(t, 'ok.txt', b'fine'); add(t, 'x/../../outside/victim', b'owned')\n",
         describe(E::unsafePath("x/../../outside/victim"))},
        {"SymlinkOutThenFileThroughIt", "through.tar",
         kTar + "with tarfile.open('through.tar','w') as t:\n"
                "    add(t, 'dir', type=tarfile.SYMTYPE, linkname='OUTSIDE')\n"
                "    add(t, 'dir/victim', b'owned')\n",
         "extracted dir" + skippedText("dir", Reason::unsafeLinkTarget)},
        {"SymlinkInsideThenFileThroughIt", "inside.tar",
         kTar + "with tarfile.open('inside.tar','w') as t:\n"
                "    add(t, 'sub', type=tarfile.DIRTYPE, mode=0o755)\n"
                "    add(t, 'link', type=tarfile.SYMTYPE, linkname='sub')\n"
                "    add(t, 'link/file', b'through')\n",
         describe(E::unsafePath("link/file"))},
        {"ZipSymlinkThenFileThroughIt", "through.zip",
         kZip + "z = zipfile.ZipFile('through.zip','w')\n"
                "i = zipfile.ZipInfo('dir'); i.external_attr = (0o120777 << 16)\n"
                "z.writestr(i, 'OUTSIDE'); z.writestr('dir/victim', b'owned'); z.close()\n",
         "extracted dir" + skippedText("dir", Reason::unsafeLinkTarget)},
        {"HardLinkOutside", "hard.tar",
         kTar + "with tarfile.open('hard.tar','w') as t:\n"
                "    add(t, 'a.txt', b'a')\n"
                "    add(t, 'h1', type=tarfile.LNKTYPE, linkname='../outside/victim')\n"
                "    add(t, 'h2', type=tarfile.LNKTYPE, linkname='VICTIM')\n",
         "extracted a.txt" + skippedText("h1", Reason::unsafeLinkTarget) +
             skippedText("h2", Reason::unsafeLinkTarget)},
        {"HardLinkToASymlink", "hardsym.tar",
         kTar + "with tarfile.open('hardsym.tar','w') as t:\n"
                "    add(t, 'd/a.txt', b'a')\n"
                "    add(t, 'd/s', type=tarfile.SYMTYPE, linkname='a.txt')\n"
                "    add(t, 'd/h', type=tarfile.LNKTYPE, linkname='d/s')\n",
         "extracted d" + skippedText("d/h", Reason::unsafeLinkTarget)},
        {"DuplicateNamesLaterWins", "dup.tar",
         kTar + "with tarfile.open('dup.tar','w') as t:\n"
                "    add(t, 'a.txt', b'first'); add(t, 'a.txt', b'second')\n",
         "extracted a.txt", [](const fs::path& output) { EXPECT_EQ(readFile(output), "second"); }},
        {"DeviceNodesAndFifos", "dev.tar",
         kTar + "with tarfile.open('dev.tar','w') as t:\n"
                "    add(t, 'null', type=tarfile.CHRTYPE, devmajor=1, devminor=3)\n"
                "    add(t, 'disk', type=tarfile.BLKTYPE, devmajor=8, devminor=0)\n"
                "    add(t, 'pipe', type=tarfile.FIFOTYPE)\n"
                "    add(t, 'a.txt', b'a')\n",
         "extracted a.txt" + skippedText("null", Reason::specialFile) +
             skippedText("disk", Reason::specialFile) + skippedText("pipe", Reason::specialFile)},
        {"SetuidSetgidSticky", "suid.tar",
         kTar + "with tarfile.open('suid.tar','w') as t:\n"
                "    add(t, 'd', type=tarfile.DIRTYPE, mode=0o1777)\n"
                "    add(t, 'd/tool', b'#!/bin/sh\\n', mode=0o6755)\n",
         "extracted d",
         [](const fs::path& output) {
             struct stat info {};
             ASSERT_EQ(::stat((output / "tool").c_str(), &info), 0);
             EXPECT_EQ(info.st_mode & 07000, 0u);
             EXPECT_EQ(info.st_mode & 0100, 0100u);
             ASSERT_EQ(::stat(output.c_str(), &info), 0);
             EXPECT_EQ(info.st_mode & 07000, 0u);
         }},
        {"TarSizeFieldLies", "lies.tar",
         kTar + "i = tarfile.TarInfo('big.bin'); i.size = 4096\n"
                "open('lies.tar','wb').write(i.tobuf() + b'x' * 512 + b'\\0' * 1024)\n",
         describe(E::damaged("big.bin"))},
        {"TruncatedInsideAnEntry", "cut.tar.gz",
         kTar + "import os\n"
                "with tarfile.open('cut.tar.gz','w:gz') as t:\n"
                "    add(t, 'a.bin', os.urandom(500000)); add(t, 'b.bin', os.urandom(500000))\n"
                "data = open('cut.tar.gz','rb').read(); "
                "open('cut.tar.gz','wb').write(data[:300000])\n",
         describe(E::damaged("a.bin"))},
        {"TruncatedBetweenEntries", "cut.tar",
         kTar + "with tarfile.open('whole.tar','w') as t:\n"
                "    add(t, 'a.bin', b'a' * 1024); add(t, 'b.bin', b'b' * 1024)\n"
                "open('cut.tar','wb').write(open('whole.tar','rb').read()[:512 + 1024])\n",
         describe(E::damaged(std::nullopt))},
        {"TruncatedAfterAnEntrysPadding", "cut.tar.xz",
         kTar + "import lzma\n"
                "with tarfile.open('whole.tar','w') as t:\n"
                "    add(t, 'a.bin', b'a' * 1000); add(t, 'b.bin', b'b' * 1000)\n"
                "data = open('whole.tar','rb').read()[:512 + 1024]\n"
                "open('cut.tar.xz','wb').write(lzma.compress(data))\n",
         describe(E::damaged(std::nullopt))},
        {"ZipBadCrc", "crc.zip",
         kZip + "zipfile.ZipFile('crc.zip','w').writestr('a.txt', b'A' * 100)\n"
                "d = bytearray(open('crc.zip','rb').read()); d[30 + 5 + 10] ^= 1\n"
                "open('crc.zip','wb').write(d)\n",
         describe(E::damaged("a.txt"))},
        {"ZipLocalSizeDiffersFromCentral", "sizes.zip",
         kZip + "import struct\n"
                "zipfile.ZipFile('sizes.zip','w').writestr('a.txt', b'A' * 100)\n"
                "d = bytearray(open('sizes.zip','rb').read())\n"
                "d[18:26] = struct.pack('<II', 1000, 1000)\n"
                "open('sizes.zip','wb').write(d)\n",
         describe(E::damaged("a.txt"))},
        {"ZipEntriesOverlap", "overlap.zip",
         kZip +
             "import struct\n"
             "z = zipfile.ZipFile('overlap.zip','w', zipfile.ZIP_DEFLATED)\n"
             "z.writestr('a.txt', b'A' * 100000); z.writestr('b.txt', b'B' * 100000); z.close()\n"
             "d = bytearray(open('overlap.zip','rb').read())\n"
             "second = d.rfind(b'PK\\x01\\x02')\n"
             "d[second + 42:second + 46] = struct.pack('<I', 0)\n"
             "open('overlap.zip','wb').write(d)\n",
         "extracted a.txt",
         [](const fs::path& output) { EXPECT_EQ(readFile(output), std::string(100000, 'A')); }},
        {"ZipSlipAbsolute", "abs.zip",
         kZip +
             "z = zipfile.ZipFile('abs.zip','w'); z.writestr('x' * len('VICTIM'), b'owned')\n"
             "z.close(); d = open('abs.zip','rb').read().replace(b'x' * len('VICTIM'), b'VICTIM')\n"
             "open('abs.zip','wb').write(d)\n",
         describe(E::unsafePath("VICTIM"))},
        {"ZipBackslashNames", "back.zip",
         kZip + "zipfile.ZipFile('back.zip','w').writestr('..\\\\outside\\\\victim', b'owned')\n",
         describe(E::unsafePath("../outside/victim"))},
        // A model of 4 GB, the most a 7z can ask for: the decoder has room
        // for it where the machine has the memory (the suite's machines do),
        // and touches only the pages it uses.
        {"HugeSevenZipDictionary", "huge.7z",
         "import subprocess, struct, zlib\n"
         "open('a.txt','w').write('a' * 1000)\n"
         "subprocess.run(['7z','a','-bd','-mhc=off','-m0=PPMd:mem=16m:o=6','huge.7z','a.txt'],\n"
         "               check=True, capture_output=True)\n"
         "d = bytearray(open('huge.7z','rb').read())\n"
         "at = d.index(b'\\x23\\x03\\x04\\x01\\x05')\n"
         "d[at + 6:at + 10] = struct.pack('<I', 0xFFFF0000)\n"
         "offset, size = struct.unpack('<QQ', d[12:28])\n"
         "header = d[32 + offset:32 + offset + size]\n"
         "d[28:32] = struct.pack('<I', zlib.crc32(header))\n"
         "d[8:12] = struct.pack('<I', zlib.crc32(d[12:32]))\n"
         "open('huge.7z','wb').write(d)\n",
         "extracted a.txt"},
        {"ControlCharactersInNames", "ctl.zip",
         kZip +
             "zipfile.ZipFile('ctl.zip','w').writestr('d/a\\x1b[31mred\\nline\\x07.txt', b'x')\n",
         "extracted d"},
    };
}

class LibarchiveHostileArchive : public ::testing::TestWithParam<Attack> {};

TEST_P(LibarchiveHostileArchive, EndsRefusedOrSkippedWithTheVictimUntouched) {
    const Attack& attack = GetParam();
    const OtherUser& user = OtherUser::get();
    TempDirectory temp;
    const fs::path dir = temp.path();
    ::chmod(dir.c_str(), 0755);
    const fs::path in = dir / "in";
    const fs::path out = dir / "out";
    const fs::path outside = dir / "outside";
    const fs::path victim = outside / "victim";
    fs::create_directories(in);
    fs::create_directories(out);
    fs::create_directories(outside);
    makeTree(outside, {{"victim", kVictimContents}});
    for (const fs::path& owned : {out, outside, victim}) {
        ASSERT_EQ(::chown(owned.c_str(), user.uid(), user.gid()), 0);
    }
    const std::string script =
        replaced(replaced(attack.script, "VICTIM", victim.string()), "OUTSIDE", outside.string());
    python(in, script);
    const std::string expected =
        replaced(replaced(attack.outcome, "VICTIM", victim.string()), "OUTSIDE", outside.string());

    const std::string result = user.run([&] {
        try {
            return describeSuccess(Extractor(std::make_shared<LibarchiveEngine>())
                                       .extract(in / attack.archive, ExtractionOptions{false, out},
                                                ExtractionHandlers{}));
        } catch (const ExtractionError& error) {
            return describe(error);
        }
    });
    EXPECT_EQ(result, expected);
    EXPECT_EQ(readFile(victim), kVictimContents);
    EXPECT_EQ(directoryNames(outside), (std::set<std::string>{"victim"}));
    const std::set<std::string> left = directoryNames(out);
    if (result.starts_with("extracted ")) {
        ASSERT_EQ(left.size(), 1u);
        if (attack.check) {
            attack.check(out / *left.begin());
        }
    } else {
        EXPECT_TRUE(left.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Attacks, LibarchiveHostileArchive, ::testing::ValuesIn(attacks()),
                         [](const ::testing::TestParamInfo<Attack>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace tovani::testing
