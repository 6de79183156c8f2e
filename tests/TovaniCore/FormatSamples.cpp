#include "TovaniCore/FormatSamples.h"

#include <cstdio>
#include <stdexcept>

#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {

namespace fs = std::filesystem;
using Kind = ArchiveFormat::Kind;

void runOrThrow(const fs::path& directory, const std::string& program,
                const std::vector<std::string>& arguments) {
    const ToolRun run = runTool(directory, program, arguments);
    if (run.exitCode != 0) {
        throw std::runtime_error(program + " failed: " + run.output);
    }
}

fs::path writeZip(const fs::path& file, const std::string& entryName, const std::string& contents) {
    writeFile(file.parent_path() / ".zip-entry", contents);
    runOrThrow(file.parent_path(), "python3",
               {"-c",
                "import sys, zipfile\n"
                "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                "    z.write(sys.argv[3], sys.argv[2])\n",
                file.string(), entryName, ".zip-entry"});
    fs::remove(file.parent_path() / ".zip-entry");
    return file;
}

std::string oldTarHeader(const std::string& name, std::uint64_t size) {
    std::string header(512, '\0');
    header.replace(0, name.size(), name);
    auto octal = [&](std::size_t at, std::size_t width, std::uint64_t value) {
        char text[32];
        std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(width - 1),
                      static_cast<unsigned long long>(value));
        header.replace(at, width - 1, text);
    };
    octal(100, 8, 0644);
    octal(108, 8, 1000);
    octal(116, 8, 1000);
    octal(124, 12, size);
    octal(136, 12, 1700000000);
    header[156] = '0';
    header.replace(148, 8, std::string(8, ' '));
    unsigned sum = 0;
    for (char c : header) {
        sum += static_cast<unsigned char>(c);
    }
    char text[8];
    std::snprintf(text, sizeof text, "%06o", sum);
    header.replace(148, 6, text);
    header[154] = '\0';
    return header;
}

namespace {

// a.txt in the directory, the content every sample holds.
void writeContent(const fs::path& directory) {
    writeFile(directory / "a.txt", "hello, formats\n");
}

FormatSample byTool(std::string label, Kind kind, std::string fileName, std::string program,
                    std::vector<std::string> arguments) {
    return FormatSample{std::move(label), kind,
                        [fileName, program, arguments](const fs::path& directory) {
                            writeContent(directory);
                            fs::remove(directory / fileName);
                            runOrThrow(directory, program, arguments);
                            return directory / fileName;
                        }};
}

FormatSample byBsdtar(std::string label, Kind kind, std::string fileName,
                      std::vector<std::string> options) {
    options.insert(options.end(), {"-cf", fileName, "a.txt"});
    return byTool(std::move(label), kind, std::move(fileName), "bsdtar", std::move(options));
}

}  // namespace

std::vector<FormatSample> formatSamples() {
    return {
        {"zip", Kind::zip,
         [](const fs::path& directory) {
             return writeZip(directory / "sample.zip", "a.txt", "hello");
         }},
        byTool("empty zip", Kind::zip, "empty.zip", "python3",
               {"-c", "import zipfile; zipfile.ZipFile('empty.zip', 'w').close()"}),
        byTool("rar5", Kind::rar, "sample.rar", "rar", {"a", "-idq", "sample.rar", "a.txt"}),
        {"rar4", Kind::rar,
         [](const fs::path& directory) {
             writeRar4(directory / "sample4.rar", {StoredEntry::file("a.txt", "hello")});
             return directory / "sample4.rar";
         }},
        byTool("7z", Kind::sevenZip, "sample.7z", "7z",
               {"a", "-bd", "-bso0", "sample.7z", "a.txt"}),
        byBsdtar("ustar", Kind::tar, "ustar.tar", {"--format", "ustar"}),
        byBsdtar("pax", Kind::tar, "pax.tar", {"--format", "pax"}),
        byBsdtar("gnu tar", Kind::tar, "gnu.tar", {"--format", "gnutar"}),
        byBsdtar("v7 tar", Kind::tar, "v7.tar", {"--format", "v7"}),
        byBsdtar("cpio odc", Kind::cpio, "odc.cpio", {"--format", "odc"}),
        byBsdtar("cpio newc", Kind::cpio, "newc.cpio", {"--format", "newc"}),
        byBsdtar("cpio binary", Kind::cpio, "bin.cpio", {"--format", "bin"}),
        byBsdtar("tar.gz", Kind::gzip, "sample.tar.gz", {"-z"}),
        byBsdtar("tar.bz2", Kind::bzip2, "sample.tar.bz2", {"-j"}),
        byBsdtar("tar.xz", Kind::xz, "sample.tar.xz", {"-J"}),
        byBsdtar("tar.zst", Kind::zstd, "sample.tar.zst", {"--zstd"}),
        byBsdtar("tar.lz4", Kind::lz4, "sample.tar.lz4", {"--lz4"}),
        byBsdtar("tar.lzma", Kind::lzma, "sample.tar.lzma", {"--lzma"}),
        byTool("gz", Kind::gzip, "a.txt.gz", "gzip", {"-kf", "a.txt"}),
        byTool("bz2", Kind::bzip2, "a.txt.bz2", "bzip2", {"-kf", "a.txt"}),
        byTool("xz", Kind::xz, "a.txt.xz", "xz", {"-kf", "a.txt"}),
        byTool("lzma", Kind::lzma, "a.txt.lzma", "lzma", {"-kf", "a.txt"}),
        byTool("zst", Kind::zstd, "a.txt.zst", "zstd", {"-qf", "a.txt"}),
        byTool("lz4", Kind::lz4, "a.txt.lz4", "lz4", {"-qf", "a.txt", "a.txt.lz4"}),
    };
}

fs::path sfxSample(const fs::path& directory) {
    writeContent(directory);
    runOrThrow(directory, "rar", {"a", "-idq", "-sfx", "sfx.rar", "a.txt"});
    return directory / "sfx.sfx";
}

}  // namespace tovani::testing
