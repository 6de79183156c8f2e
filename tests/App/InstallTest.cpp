// `cmake --install` refreshes the desktop's caches when it installs where the
// desktop looks, so that Ostrel is offered for RAR archives at once, and says
// what to run when it installs anywhere else.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <filesystem>

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

}  // namespace
}  // namespace tovani::testing
