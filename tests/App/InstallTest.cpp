// `cmake --install` lays out what a package holds: the programs, the private
// core library and the decoder, each found relative to the other wherever the
// install is moved, with the desktop file, icons, metainfo and man pages. It
// refreshes the desktop's caches when it installs where the desktop looks, so
// that Ostrel is offered for RAR archives at once, and says what to run when
// it installs anywhere else.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <filesystem>

#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

struct Installed {
    int exitCode = -1;
    QString output;
};

Installed install(const fs::path& prefix, const QString& dataDirs) {
    QProcess cmake;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_DIRS", dataDirs);
    environment.insert("HOME", QFile::decodeName(prefix.parent_path().c_str()));
    environment.remove("XDG_DATA_HOME");
    environment.remove("DESTDIR");
    cmake.setProcessEnvironment(environment);
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start("cmake",
                {"--install", OSTREL_BUILD_DIR, "--prefix", QFile::decodeName(prefix.c_str())});
    Installed result;
    if (cmake.waitForFinished(120000)) {
        result.exitCode = cmake.exitCode();
    }
    result.output = QString::fromUtf8(cmake.readAll());
    return result;
}

TEST(Install, IntoAFolderTheDesktopReadsRefreshesItsDesktopDatabase) {
    TempDirectory dir;
    const fs::path prefix = dir / "prefix";
    const Installed result = install(prefix, QFile::decodeName((prefix / "share").c_str()));
    ASSERT_EQ(result.exitCode, 0) << result.output.toStdString();
    const fs::path applications = prefix / "share/applications";
    const std::string desktopFile = readFile(applications / "org.ostrel.Ostrel.desktop");
    EXPECT_NE(desktopFile.find("\nStartupWMClass=Ostrel\n"), std::string::npos);
    // The installed program by its absolute path, whatever the PATH holds.
    const std::string program = (prefix / "bin/ostrel").string();
    EXPECT_NE(desktopFile.find("\nTryExec=" + program + "\n"), std::string::npos) << desktopFile;
    EXPECT_NE(desktopFile.find("\nExec=" + program + " %F\n"), std::string::npos) << desktopFile;
    EXPECT_NE(readFile(applications / "mimeinfo.cache").find("application/vnd.rar="),
              std::string::npos)
        << result.output.toStdString();
}

TEST(Install, ElsewhereSaysWhatToRunAndTouchesNoCache) {
    TempDirectory dir;
    const fs::path prefix = dir / "staging";
    const Installed result = install(prefix, "/nonexistent/share");
    ASSERT_EQ(result.exitCode, 0) << result.output.toStdString();
    EXPECT_TRUE(fs::exists(prefix / "share/applications/org.ostrel.Ostrel.desktop"));
    EXPECT_FALSE(fs::exists(prefix / "share/applications/mimeinfo.cache"));
    EXPECT_TRUE(result.output.contains("update-desktop-database")) << result.output.toStdString();
}

TEST(Install, KeepsTheCoreLibraryPrivateAndInstallsWhatThePackageShips) {
    TempDirectory dir;
    const fs::path prefix = dir / "prefix";
    const Installed result = install(prefix, "/nonexistent/share");
    ASSERT_EQ(result.exitCode, 0) << result.output.toStdString();

    const fs::path privateLibrary = prefix / OSTREL_INSTALL_PRIVATE_LIBDIR / "libTovaniCore.so.1";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(privateLibrary)) ||
                fs::is_symlink(fs::symlink_status(privateLibrary)));
    // Nothing of Ostrel's in the folder every program's libraries are looked up in.
    const fs::path publicFolder = (prefix / OSTREL_INSTALL_PRIVATE_LIBDIR).parent_path();
    for (const auto& entry : fs::directory_iterator(publicFolder)) {
        EXPECT_EQ(entry.path().filename(), "ostrel") << entry.path();
    }
    // The link name is for linking against the library, which only Ostrel does.
    EXPECT_FALSE(fs::exists(fs::symlink_status(privateLibrary.parent_path() / "libTovaniCore.so")));
    for (const char* file :
         {"bin/ostrel", "bin/ostrel-extract", "share/man/man1/ostrel.1",
          "share/man/man1/ostrel-extract.1", "share/metainfo/org.ostrel.Ostrel.metainfo.xml",
          "share/icons/hicolor/scalable/apps/org.ostrel.Ostrel.svg",
          "share/icons/hicolor/48x48/apps/org.ostrel.Ostrel.png",
          "share/icons/hicolor/128x128/apps/org.ostrel.Ostrel.png"}) {
        EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
    }
    EXPECT_TRUE(fs::is_regular_file(prefix / OSTREL_INSTALL_DECODERDIR / "ostrel-decoder"));
    EXPECT_NE(readFile(prefix / "share/metainfo/org.ostrel.Ostrel.metainfo.xml")
                  .find("<mediatype>application/vnd.rar</mediatype>"),
              std::string::npos);
}

// The tool reaches the library through its runpath and the library reaches
// the decoder by a path relative to itself, so an install moved elsewhere
// still extracts, and never through the build tree.
TEST(Install, MovedInstallExtractsThroughItsOwnLibraryAndDecoder) {
    TempDirectory dir;
    const fs::path prefix = dir / "prefix";
    const Installed result = install(prefix, "/nonexistent/share");
    ASSERT_EQ(result.exitCode, 0) << result.output.toStdString();
    const fs::path moved = dir / "moved";
    fs::rename(prefix, moved);

    makeTree(dir / "input", {{"a.txt", "alpha\n"}, {"docs/b.txt", "beta\n"}});
    const fs::path archive = rar(dir / "input", dir / "sample.rar", {}, {"a.txt", "docs"});
    fs::create_directory(dir / "output");
    const ToolRun run =
        runTool(dir.path(), (moved / "bin/ostrel-extract").string(),
                {"--quiet", "--destination", (dir / "output").string(), archive.string()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(readFile(dir / "output/sample/a.txt"), "alpha\n");
    EXPECT_EQ(readFile(dir / "output/sample/docs/b.txt"), "beta\n");

    // With its decoder gone, the moved install fails rather than finding another one.
    fs::remove(moved / OSTREL_INSTALL_DECODERDIR / "ostrel-decoder");
    const ToolRun without =
        runTool(dir.path(), (moved / "bin/ostrel-extract").string(),
                {"--quiet", "--destination", (dir / "output").string(), archive.string()});
    EXPECT_EQ(without.exitCode, 1) << without.output;
    EXPECT_FALSE(fs::exists(dir / "output/sample 2"));
}

}  // namespace
}  // namespace tovani::testing
