#include "CommandLine/ReferenceCorpus.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include "support/PatternedBytes.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {

namespace fs = std::filesystem;

namespace {

// Input files sit in "in", so that the archives beside them are not inputs.
fs::path inputs(const fs::path& dir,
                const std::vector<std::pair<std::string, std::string>>& files) {
    const fs::path root = dir / "in";
    fs::create_directories(root);
    makeTree(root, files);
    return root;
}

// A tree with what most archives hold: nested folders, an empty folder, an
// empty file, text and incompressible data.
fs::path plainTree(const fs::path& dir) {
    return inputs(dir, {{"docs/a.txt", "alpha\n"},
                        {"docs/sub/b.txt", std::string(5000, 'b')},
                        {"docs/empty.txt", ""},
                        {"docs/blank/", ""},
                        {"docs/data.bin", patterned(3000, 7)}});
}

void setTime(const fs::path& file, std::int64_t seconds, long nanoseconds) {
    const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    if (::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::system_error(errno, std::generic_category(), "utimensat");
    }
}

// Whole seconds for every item of the tree that has none of its own (the
// test of times sets nanoseconds on purpose), so that only that test meets
// what times do.
void roundTimes(const fs::path& root) {
    std::vector<fs::path> items;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        items.push_back(item.path());
    }
    for (const fs::path& item : items) {
        struct stat info {};
        if (::lstat(item.c_str(), &info) == 0 && info.st_mtim.tv_sec > 1750000000) {
            setTime(item, 1700000000, 0);
        }
    }
}

// The items directly in root, which rar then takes with all they hold.
std::vector<std::string> topLevel(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(root)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Makes an archive with rar from the tree the builder lays out in "in".
CorpusCase rarCase(std::string name, std::vector<std::string> switches,
                   std::function<fs::path(const fs::path&)> tree = plainTree,
                   std::optional<std::string> password = std::nullopt) {
    return {name, [=](const fs::path& dir) {
                const fs::path root = tree(dir);
                roundTimes(root);
                std::vector<std::string> all = switches;
                if (password) {
                    all.push_back("-p" + *password);
                }
                return ReferenceArchive{
                    rar(root, "../" + name + ".rar", all, topLevel(root)).lexically_normal(),
                    password};
            }};
}

fs::path rarMade(const fs::path& root, const std::string& name, std::vector<std::string> switches) {
    roundTimes(root);
    return rar(root, "../" + name, std::move(switches), topLevel(root)).lexically_normal();
}

CorpusCase writerCase(std::string name, std::function<void(const fs::path& archive)> write) {
    return {name, [=](const fs::path& dir) {
                const fs::path archive = dir / (name + ".rar");
                write(archive);
                return ReferenceArchive{archive, std::nullopt};
            }};
}

StoredEntry rar4Entry(StoredEntry entry, std::uint8_t version, HostOs host = HostOs::unix) {
    entry.rar4Version = version;
    entry.host = host;
    return entry;
}

std::vector<CorpusCase> makeCorpus() {
    std::vector<CorpusCase> corpus;
    // ---- made by rar ----
    corpus.push_back(rarCase("tree", {}));
    corpus.push_back(rarCase("stored", {"-m0"}));
    corpus.push_back(rarCase("solid", {"-s"}));
    corpus.push_back(rarCase("password", {}, plainTree, "secret"));
    corpus.push_back(rarCase("header-password", {"-hpsecret"}, plainTree, "secret"));
    corpus.push_back(rarCase("solid-password", {"-s"}, plainTree, "p\xc3\xa4ss"));
    corpus.push_back(rarCase("unicode-names", {}, [](const fs::path& dir) {
        return inputs(dir, {{"caf\xc3\xa9.txt", "cafe"},
                            {"\xe6\x97\xa5\xe6\x9c\xac/\xe8\xaa\x9e.txt", "ja"},
                            {"\xc3\xbc dir/\xc3\x9f x.txt", "de"},
                            {"emoji \xf0\x9f\x98\x80.txt", "smile"}});
    }));
    corpus.push_back(rarCase("modes", {}, [](const fs::path& dir) {
        const fs::path root = inputs(dir, {{"m/private.txt", "p"},
                                           {"m/run.sh", "#!/bin/sh\n"},
                                           {"m/group.txt", "g"},
                                           {"m/setuid", "s"},
                                           {"m/locked/", ""}});
        fs::permissions(root / "m/private.txt", fs::perms(0600));
        fs::permissions(root / "m/run.sh", fs::perms(0755));
        fs::permissions(root / "m/group.txt", fs::perms(0664));
        fs::permissions(root / "m/setuid", fs::perms(04755));
        fs::permissions(root / "m/locked", fs::perms(0750));
        return root;
    }));
    corpus.push_back(rarCase("symlinks", {"-ol"}, [](const fs::path& dir) {
        const fs::path root = inputs(dir, {{"s/file.txt", "target"}, {"s/dir/inner.txt", "in"}});
        fs::create_symlink("file.txt", root / "s/link");
        fs::create_symlink("dir", root / "s/dirlink");
        fs::create_symlink("dir/inner.txt", root / "s/deeplink");
        fs::create_symlink("missing", root / "s/dangling");
        return root;
    }));
    corpus.push_back(rarCase("hard-links", {"-oh"}, [](const fs::path& dir) {
        const fs::path root = inputs(dir, {{"h/one.txt", "shared body"}});
        fs::create_hard_link(root / "h/one.txt", root / "h/two.txt");
        return root;
    }));
    corpus.push_back(rarCase("copies", {"-oi:1"}, [](const fs::path& dir) {
        return inputs(dir, {{"c/one.bin", patterned(4000, 3)},
                            {"c/two.bin", patterned(4000, 3)},
                            {"c/three.bin", patterned(4000, 3)}});
    }));
    corpus.push_back(rarCase("times", {"-tsm", "-tsc", "-tsa"}, [](const fs::path& dir) {
        const fs::path root =
            inputs(dir, {{"t/exact.txt", "ns"}, {"t/round.txt", "s"}, {"t/old.txt", "1990"}});
        setTime(root / "t/exact.txt", 1600000000, 123456789);
        setTime(root / "t/round.txt", 1700000000, 0);
        setTime(root / "t/old.txt", 640000000, 500000000);
        return root;
    }));
    corpus.push_back(rarCase("comment", {"-z../note.txt"}, [](const fs::path& dir) {
        writeFile(dir / "note.txt", "An archive comment.\n");
        return inputs(dir, {{"c.txt", "content"}});
    }));
    corpus.push_back(rarCase("volumes", {"-v20k", "-m0"}, [](const fs::path& dir) {
        return inputs(dir, {{"v/big.bin", patterned(70000, 1)}, {"v/small.txt", "s"}});
    }));
    // A set named name.000.rar, name.001.rar …, given by its first volume
    // and by a later one.
    for (const char* given : {"num.000.rar", "num.002.rar"}) {
        const std::string name = std::string("numbered-volumes-from-") + given;
        corpus.push_back(
            {name.substr(0, name.size() - 4), [given](const fs::path& dir) {
                 const fs::path root = inputs(dir, {{"n/big.bin", patterned(50000, 2)}});
                 const fs::path first = rarMade(root, "num.rar", {"-v20k", "-m0"});
                 std::vector<fs::path> parts = volumeFiles(first);
                 for (std::size_t i = 0; i < parts.size(); ++i) {
                     const std::string number = "00" + std::to_string(i);
                     fs::rename(parts[i], dir / ("num." + number + ".rar"));
                 }
                 return ReferenceArchive{dir / given, std::nullopt};
             }});
    }
    corpus.push_back(
        {"versions", [](const fs::path& dir) {
             const fs::path root = inputs(dir, {{"doc.txt", "first"}});
             rarMade(root, "versions.rar", {"-ver"});
             writeFile(root / "doc.txt", "second, longer");
             setTime(root / "doc.txt", 1700000100, 0);
             return ReferenceArchive{rarMade(root, "versions.rar", {"-ver"}), std::nullopt};
         }});
    // A small file with the largest dictionary (4 GiB), which the library
    // allocates whole.
    corpus.push_back(
        {"dictionary-4g", [](const fs::path& dir) {
             const fs::path root = inputs(dir, {{"d/text.txt", std::string(100000, 'd')}});
             const fs::path archive = rarMade(root, "dictionary-4g.rar", {"-md4g"});
             setRar5Dictionary(archive, 15);
             return ReferenceArchive{archive, std::nullopt};
         }});
    corpus.push_back({"only-empty-encrypted", [](const fs::path& dir) {
                          const fs::path root = inputs(dir, {{"e/empty.txt", ""}, {"e/void/", ""}});
                          return ReferenceArchive{
                              rarMade(root, "only-empty-encrypted.rar", {"-psecret"}),
                              std::nullopt};
                      }});
    corpus.push_back({"corrupt-main-header", [](const fs::path& dir) {
                          const fs::path root = plainTree(dir);
                          const fs::path archive = rarMade(root, "corrupt-main-header.rar", {});
                          // The byte after the signature is the main header's checksum.
                          std::string bytes = readFile(archive);
                          bytes[8] = static_cast<char>(bytes[8] ^ 0x55);
                          writeFile(archive, bytes);
                          return ReferenceArchive{archive, std::nullopt};
                      }});
    corpus.push_back({"no-main-header", [](const fs::path& dir) {
                          // A RAR 5 signature and an end-of-archive record.
                          writeFile(dir / "no-main-header.rar",
                                    std::string("Rar!\x1A\x07\x01\x00"
                                                "\x19\xB2\x3A\x35\x03\x05\x00\x00",
                                                16));
                          return ReferenceArchive{dir / "no-main-header.rar", std::nullopt};
                      }});
    corpus.push_back({"rar4-signature-only", [](const fs::path& dir) {
                          writeFile(dir / "rar4-signature-only.rar",
                                    std::string("Rar!\x1A\x07\x00", 7));
                          return ReferenceArchive{dir / "rar4-signature-only.rar", std::nullopt};
                      }});
    // ---- RAR 5, crafted ----
    corpus.push_back(writerCase("invalid-utf8-names", [](const fs::path& archive) {
        writeRar5(archive, {StoredEntry::file("report.pdf\xff.exe", "first"),
                            StoredEntry::file("report.pdf\xfe.txt", "second")});
    }));
    corpus.push_back(writerCase("long-link-target", [](const fs::path& archive) {
        std::string target;
        while (target.size() < 3000) {
            target += "abcdefghi/";
        }
        writeRar5(archive, {StoredEntry::file("f.txt", "f"),
                            StoredEntry::link(Redirection::unixSymlink, "l", target)});
    }));
    corpus.push_back(writerCase("host-windows", [](const fs::path& archive) {
        StoredEntry readOnly = StoredEntry::file("w/read-only.txt", "r", HostOs::windows);
        readOnly.attributes = 0x21;
        writeRar5(archive, {StoredEntry::directory("w", HostOs::windows),
                            StoredEntry::file("w/a.txt", "a", HostOs::windows), readOnly});
    }));
    // Link targets as Windows writes them, in Windows links and in Unix ones.
    corpus.push_back(writerCase("windows-link-targets", [](const fs::path& archive) {
        const auto windowsLink = [](Redirection type, const char* name, const char* target) {
            return StoredEntry::link(type, name, target, HostOs::windows);
        };
        writeRar5(archive,
                  {StoredEntry::directory("l"), StoredEntry::file("l/sub/f.txt", "f"),
                   windowsLink(Redirection::windowsSymlink, "l/relative", "sub\\f.txt"),
                   windowsLink(Redirection::windowsSymlink, "l/climbs", "..\\..\\x"),
                   windowsLink(Redirection::windowsSymlink, "l/drive", "C:\\Windows"),
                   windowsLink(Redirection::windowsSymlink, "l/share", "\\\\server\\share"),
                   windowsLink(Redirection::junction, "l/junction", "\\??\\C:\\dir"),
                   StoredEntry::link(Redirection::unixSymlink, "l/unix-drive", "C:\\x"),
                   StoredEntry::link(Redirection::unixSymlink, "l/unix-climbs", "..\\..\\x")});
    }));
    // A host system the format does not name: its attribute word is no mode.
    corpus.push_back(writerCase("host-other", [](const fs::path& archive) {
        writeRar5(archive, {StoredEntry::directory("o", HostOs::other),
                            StoredEntry::file("o/a.txt", "a", HostOs::other)});
    }));
    corpus.push_back(writerCase("rar29-host-other", [](const fs::path& archive) {
        writeRar4(archive, {rar4Entry(StoredEntry::directory("o"), 29, HostOs::other),
                            rar4Entry(StoredEntry::file("o/a.txt", "a"), 29, HostOs::other)});
    }));
    // FILETIMEs before 1970 and after 2185, where the library's clock ends.
    corpus.push_back(writerCase("times-outside-1970-2185", [](const fs::path& archive) {
        constexpr std::uint64_t kTicksPerSecond = 10'000'000;
        const auto dated = [](const std::string& name, std::uint64_t fileTime) {
            StoredEntry entry = StoredEntry::file("t/" + name, name);
            entry.unixMtime.reset();
            entry.fileTime = fileTime;
            return entry;
        };
        writeRar5(
            archive,
            {StoredEntry::directory("t"), dated("1969.txt", kFileTime1970 - kTicksPerSecond / 2),
             dated("1903.txt", kFileTime1970 - 2'100'000'000 * kTicksPerSecond + 1'234'567),
             dated("1601.txt", 1),
             dated("2200.txt", kFileTime1970 + 7'258'118'400 * kTicksPerSecond + 3),
             dated("9999.txt", kFileTime1970 + 253'402'300'799 * kTicksPerSecond + 9'999'999)});
    }));
    // ---- RAR 1.5-4.x, crafted ----
    for (const std::uint8_t version : {15, 20, 29}) {
        const std::string name = "rar" + std::to_string(version);
        corpus.push_back(writerCase(name + "-unix", [version](const fs::path& archive) {
            writeRar4(archive, {rar4Entry(StoredEntry::directory("d"), version),
                                rar4Entry(StoredEntry::file("d/a.txt", "alpha"), version),
                                rar4Entry(StoredEntry::file("d/empty", ""), version)});
        }));
        corpus.push_back(writerCase(name + "-windows", [version](const fs::path& archive) {
            writeRar4(archive,
                      {rar4Entry(StoredEntry::directory("w"), version, HostOs::windows),
                       rar4Entry(StoredEntry::file("w/b.txt", "beta"), version, HostOs::windows)});
        }));
        corpus.push_back(writerCase(name + "-symlink", [version](const fs::path& archive) {
            writeRar4(archive, {rar4Entry(StoredEntry::file("file.txt", "t"), version),
                                rar4Entry(StoredEntry::rar4Symlink("link", "file.txt"), version)});
        }));
    }
    corpus.push_back(writerCase("rar4-unicode-name", [](const fs::path& archive) {
        writeRar4(archive, {StoredEntry::file("caf\xc3\xa9.txt", "unicode")});
    }));
    corpus.push_back(writerCase("rar4-legacy-name", [](const fs::path& archive) {
        StoredEntry entry = StoredEntry::file("caf\x82.txt", "legacy", HostOs::windows);
        entry.rar4LegacyName = true;
        writeRar4(archive, {entry});
    }));
    corpus.push_back(writerCase("rar4-comment", [](const fs::path& archive) {
        writeRar4(archive, {StoredEntry::file("c.txt", "c")},
                  Rar4Archive{"An old comment.", false, false});
    }));
    corpus.push_back(writerCase("rar4-service-comment", [](const fs::path& archive) {
        writeRar4(archive, {StoredEntry::file("c.txt", "c")},
                  Rar4Archive{"A newer comment.", true, false});
    }));
    corpus.push_back(writerCase("rar4-damaged-comment", [](const fs::path& archive) {
        writeRar4(archive, {StoredEntry::file("c.txt", "c")},
                  Rar4Archive{"An old comment.", false, true});
    }));
    corpus.push_back(writerCase("rar4-damaged-service-comment", [](const fs::path& archive) {
        writeRar4(archive, {StoredEntry::file("c.txt", "c")},
                  Rar4Archive{"A newer comment.", true, true});
    }));
    corpus.push_back(writerCase("rar4-versions", [](const fs::path& archive) {
        StoredEntry old = StoredEntry::file("doc.txt;1", "old");
        old.rar4OldVersion = true;
        writeRar4(archive, {old, StoredEntry::file("doc.txt", "current")});
    }));
    corpus.push_back({"rar4-old-style-volumes", [](const fs::path& dir) {
                          const std::vector<fs::path> files =
                              writeRar4Volumes(dir / "old.rar",
                                               {StoredEntry::file("big.bin", patterned(5000, 4)),
                                                StoredEntry::file("small.txt", "s")},
                                               2000);
                          return ReferenceArchive{files.front(), std::nullopt};
                      }});
    // ---- inputs that once crashed the library ----
    for (const auto& item : fs::directory_iterator(OSTREL_FUZZ_REGRESSIONS)) {
        const fs::path source = item.path();
        corpus.push_back({"regression-" + source.stem().string(), [source](const fs::path& dir) {
                              const fs::path archive = dir / source.filename();
                              fs::copy_file(source, archive);
                              return ReferenceArchive{archive, std::nullopt};
                          }});
    }
    return corpus;
}

}  // namespace

const std::vector<CorpusCase>& referenceCorpus() {
    static const std::vector<CorpusCase> corpus = makeCorpus();
    return corpus;
}

}  // namespace tovani::testing
