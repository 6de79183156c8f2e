#include "Settings/ArchiveTypes.h"

#include <gtest/gtest.h>

#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "Settings/CoreApplication.h"
#include "Settings/DefaultAppStatus.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

using testing::readFile;
using testing::TempDirectory;
namespace fs = std::filesystem;

const fs::path kResources = fs::path(OSTREL_SOURCE_DIR) / "src/Resources";

QSet<QString> listedNames() {
    const QStringList names = archiveTypeNames();
    return QSet<QString>(names.begin(), names.end());
}

// The installed shared MIME database's own lists: the canonical types, and
// each alias with the type it stands for.
QSet<QString> databaseTypes() {
    QSet<QString> types;
    std::ifstream in("/usr/share/mime/types");
    for (std::string line; std::getline(in, line);) {
        types.insert(QString::fromStdString(line));
    }
    return types;
}

std::map<QString, QString> databaseAliases() {
    std::map<QString, QString> aliases;
    std::ifstream in("/usr/share/mime/aliases");
    for (std::string alias, type; in >> alias >> type;) {
        aliases[QString::fromStdString(alias)] = QString::fromStdString(type);
    }
    return aliases;
}

TEST(ArchiveTypes, EachNameIsTheMimeDatabasesOwnAndEachAliasStandsForItsType) {
    const QSet<QString> types = databaseTypes();
    const std::map<QString, QString> aliases = databaseAliases();
    ASSERT_GT(types.size(), 500) << "no shared MIME database in /usr/share/mime";

    for (const ArchiveType& type : archiveTypes()) {
        EXPECT_TRUE(types.contains(type.name)) << type.name.toStdString();
        EXPECT_NE(readableName(type), type.name) << "no description: " << type.name.toStdString();
        for (const QString& alias : type.aliases) {
            const auto found = aliases.find(alias);
            ASSERT_NE(found, aliases.end()) << alias.toStdString();
            EXPECT_EQ(found->second, type.name) << alias.toStdString();
        }
    }
    EXPECT_EQ(listedNames().size(), archiveTypeNames().size()) << "a name is listed twice";
    // The RAR status reads the first type.
    EXPECT_EQ(archiveTypes().front(),
              (ArchiveType{DefaultAppStatus::archiveType, DefaultAppStatus::archiveTypeAliases}));
}

TEST(ArchiveTypes, TheDesktopFileAndTheMetainfoListEveryNameAndNoOther) {
    const std::string desktop = readFile(kResources / "org.ostrel.Ostrel.desktop");
    const QRegularExpressionMatch line =
        QRegularExpression("\nMimeType=([^\n]*);\n").match(QString::fromStdString(desktop));
    ASSERT_TRUE(line.hasMatch());
    const QStringList inDesktopFile = line.captured(1).split(';');
    EXPECT_EQ(QSet<QString>(inDesktopFile.begin(), inDesktopFile.end()), listedNames());
    EXPECT_EQ(inDesktopFile.size(), listedNames().size());

    const QString metainfo =
        QString::fromStdString(readFile(kResources / "org.ostrel.Ostrel.metainfo.xml.in"));
    QStringList inMetainfo;
    QRegularExpressionMatchIterator media =
        QRegularExpression("<mediatype>([^<]*)</mediatype>").globalMatch(metainfo);
    while (media.hasNext()) {
        inMetainfo << media.next().captured(1);
    }
    EXPECT_EQ(QSet<QString>(inMetainfo.begin(), inMetainfo.end()), listedNames());
    EXPECT_EQ(inMetainfo.size(), listedNames().size());
}

// Real files of each format, made by the tools users have, are typed by the
// MIME database (by name and content, as a file manager does) as one of the
// listed types; so is each one under a name that says nothing, where its
// format has a signature the database knows (LZMA has none).
TEST(ArchiveTypes, RealFilesOfEveryFormatAreOfAListedType) {
    testing::ensureCoreApplication();
    TempDirectory dir;
    const struct {
        std::string file;
        std::string command;
        bool hasSignature = true;
    } cases[] = {
        {"a.rar", "rar a -inul a.rar payload"},
        {"a.zip",
         "python3 -c \"import zipfile; z = zipfile.ZipFile('a.zip', 'w'); "
         "z.write('payload'); z.close()\""},
        {"a.7z", "7z a -bd a.7z payload"},
        // Only the first part of a split set carries the signature.
        {"s.7z.001", "7z a -bd -v2k s.7z noise"},
        {"a.tar",
         "python3 -c \"import tarfile; t = tarfile.open('a.tar', 'w'); "
         "t.add('payload'); t.close()\""},
        {"a.tar.gz", "bsdtar -czf a.tar.gz payload"},
        {"a.tgz", "bsdtar -czf a.tgz payload"},
        {"a.tar.bz2", "bsdtar -cjf a.tar.bz2 payload"},
        {"a.tar.xz", "bsdtar -cJf a.tar.xz payload"},
        {"a.tar.zst", "bsdtar --zstd -cf a.tar.zst payload"},
        {"a.tar.lz4", "bsdtar --lz4 -cf a.tar.lz4 payload"},
        {"a.tar.lzma", "bsdtar --lzma -cf a.tar.lzma payload", false},
        {"a.cpio", "bsdtar --format newc -cf a.cpio payload"},
        {"a.cpio.gz", "bsdtar --format newc -czf a.cpio.gz payload"},
        {"n.txt.gz", "bsdtar --format raw -czf n.txt.gz payload"},
        {"n.txt.bz2", "bsdtar --format raw -cjf n.txt.bz2 payload"},
        {"n.txt.xz", "bsdtar --format raw -cJf n.txt.xz payload"},
        {"n.txt.lzma", "bsdtar --format raw --lzma -cf n.txt.lzma payload", false},
        {"n.txt.zst", "bsdtar --format raw --zstd -cf n.txt.zst payload"},
        {"n.txt.lz4", "bsdtar --format raw --lz4 -cf n.txt.lz4 payload"},
    };
    testing::writeFile(dir / "payload", "Notes for the archive.\n");
    std::string noise;
    for (int i = 0; i < 8192; ++i) {
        noise += static_cast<char>((i * 2654435761u) >> 13);
    }
    testing::writeFile(dir / "noise", noise);

    const QSet<QString> listed = listedNames();
    const QMimeDatabase database;
    for (const auto& c : cases) {
        QProcess maker;
        maker.setWorkingDirectory(QString::fromStdString(dir.path().string()));
        maker.setProcessChannelMode(QProcess::MergedChannels);
        maker.start("/bin/sh", {"-c", QString::fromStdString(c.command)});
        ASSERT_TRUE(maker.waitForFinished(60000)) << c.command;
        ASSERT_EQ(maker.exitCode(), 0) << c.command << ": " << maker.readAll().toStdString();
        const fs::path file = dir / c.file;
        ASSERT_TRUE(fs::is_regular_file(file)) << c.file;

        const QString typed =
            database.mimeTypeForFile(QString::fromStdString(file.string())).name();
        EXPECT_TRUE(listed.contains(typed)) << c.file << " is " << typed.toStdString();
        if (c.hasSignature) {
            const fs::path unnamed = dir / "download";
            fs::copy_file(file, unnamed, fs::copy_options::overwrite_existing);
            const QString byContent =
                database.mimeTypeForFile(QString::fromStdString(unnamed.string())).name();
            EXPECT_TRUE(listed.contains(byContent))
                << c.file << " without its name is " << byContent.toStdString();
        }
    }
}

}  // namespace
}  // namespace tovani
