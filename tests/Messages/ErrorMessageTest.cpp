#include "Messages/ErrorMessage.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cerrno>
#include <limits>
#include <stdexcept>
#include <string>

#include "TovaniCore/ExtractionError.h"

namespace tovani {
namespace {

struct Texts {
    std::string title;
    std::string detail;
    bool offersFolderChoice;
    bool operator==(const Texts&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Texts& t) {
        return out << "{" << t.title << " | " << t.detail << " | " << t.offersFolderChoice << "}";
    }
};

Texts texts(const std::exception& error, const QString& archive = "Photos.rar") {
    ErrorMessage message = errorMessage(error, archive);
    return {message.title.toStdString(), message.detail.toStdString(), message.offersFolderChoice};
}

const std::string defaultTitle = "“Photos.rar” could not be extracted.";

// Byte counts follow the default locale; pin it so the digits are known.
class ErrorMessageWithLocale : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

TEST(ErrorMessage, DamagedWithAndWithoutEntry) {
    const std::string title = "“Photos.rar” is damaged.";
    EXPECT_EQ(
        texts(ExtractionError::damaged("img/1.jpg")),
        (Texts{title, "“img/1.jpg” failed its integrity check. Nothing was extracted.", false}));
    EXPECT_EQ(texts(ExtractionError::damaged("")),
              (Texts{title, "“” failed its integrity check. Nothing was extracted.", false}));
    EXPECT_EQ(
        texts(ExtractionError::damaged(std::nullopt)),
        (Texts{title, "The archive could not be read to the end. Nothing was extracted.", false}));
}

TEST(ErrorMessage, ArchiveLevelFailures) {
    EXPECT_EQ(texts(ExtractionError::volumeMissing("Photos.part2.rar")),
              (Texts{"A part of “Photos.rar” is missing.",
                     "“Photos.part2.rar” was not found. Put all the parts in the same folder and "
                     "try again.",
                     false}));
    EXPECT_EQ(texts(ExtractionError::unsafePath("../../etc/passwd")),
              (Texts{"“Photos.rar” was not extracted because it is unsafe.",
                     "The archive contains an item that would be saved outside the extraction "
                     "folder: “../../etc/passwd”.",
                     false}));
    EXPECT_EQ(texts(ExtractionError::cannotOpen()),
              (Texts{"“Photos.rar” could not be opened.",
                     "Check that the file still exists and that you have permission to read it.",
                     false}));
    EXPECT_EQ(texts(ExtractionError::notAnArchive()),
              (Texts{"“Photos.rar” is not a valid RAR archive.",
                     "The file may be incomplete or in a different format.", false}));
    EXPECT_EQ(texts(ExtractionError::outOfMemory()),
              (Texts{defaultTitle, "There is not enough memory to unpack this archive.", false}));
    EXPECT_EQ(
        texts(ExtractionError::unsupportedFormat()),
        (Texts{defaultTitle, "The archive uses a newer RAR format that this version cannot unpack.",
               false}));
    EXPECT_EQ(texts(ExtractionError::confinementFailed()),
              (Texts{defaultTitle,
                     "The archive was not opened: its reader could not be shut off from your "
                     "files on this system.",
                     false}));
}

TEST(ErrorMessage, AnUnreadableVolumeIsNamedWithWhatIsWrongWithIt) {
    using Reason = ExtractionError::VolumeUnreadable::Reason;
    const std::string title = "“Photos.rar” could not be opened.";
    const struct {
        Reason reason;
        std::string detail;
    } cases[] = {
        {Reason::notAFile, "“Photos.part2.rar” is a folder, a device or a pipe, not a file."},
        {Reason::empty, "“Photos.part2.rar” is empty. Copy or download that part again."},
        {Reason::noPermission, "You do not have permission to read “Photos.part2.rar”."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(texts(ExtractionError::volumeUnreadable("Photos.part2.rar", c.reason)),
                  (Texts{title, c.detail, false}));
    }
}

TEST(ErrorMessage, OnlyAnUnwritableDestinationOffersAFolderChoice) {
    const std::string title = "“Photos.rar” cannot be extracted here.";
    const std::string detail =
        "Nothing can be saved in “Shared”. Choose another folder to extract the contents there.";
    EXPECT_EQ(texts(ExtractionError::destinationNotWritable("/srv/Shared")),
              (Texts{title, detail, true}));
    EXPECT_EQ(texts(ExtractionError::destinationNotWritable("/srv/Shared/")),
              (Texts{title, detail, true}));
    EXPECT_EQ(texts(ExtractionError::destinationNotWritable("/")).detail,
              "Nothing can be saved in “/”. Choose another folder to extract the contents there.");
}

TEST(ErrorMessage, WriteFailures) {
    EXPECT_EQ(
        texts(ExtractionError::writeFailed("docs/a.txt", ENOSPC)),
        (Texts{defaultTitle, "The disk ran out of space during extraction. Nothing was extracted.",
               false}));
    EXPECT_EQ(texts(ExtractionError::writeFailed("docs/a.txt", EACCES)),
              (Texts{defaultTitle, "“docs/a.txt” could not be saved: Permission denied.", false}));
    // A path holding a placeholder is inserted as it stands.
    EXPECT_EQ(texts(ExtractionError::writeFailed("%2 %1.txt", EACCES)).detail,
              "“%2 %1.txt” could not be saved: Permission denied.");
}

TEST(ErrorMessage, FailuresTheUserCannotActOnAreUnexpected) {
    for (const ExtractionError& error :
         {ExtractionError::passwordRequired(), ExtractionError::wrongPassword(),
          ExtractionError::cancelled(), ExtractionError::engineFailure()}) {
        EXPECT_EQ(
            texts(error),
            (Texts{defaultTitle, "An unexpected error occurred while reading the archive.", false}))
            << error;
    }
}

TEST(ErrorMessage, OtherErrorsKeepTheirOwnDescription) {
    EXPECT_EQ(texts(std::runtime_error("Die Datei fehlt – “x”")),
              (Texts{defaultTitle, "Die Datei fehlt – “x”", false}));
}

TEST(ErrorMessage, ArchiveNameIsInsertedAsItStands) {
    EXPECT_EQ(texts(ExtractionError::notAnArchive(), "%1 ☃.rar").title,
              "“%1 ☃.rar” is not a valid RAR archive.");
}

// The two texts that name the format follow the archive's name: RAR names
// keep the RAR texts, other formats are named, and a name that claims no
// format gets texts that name none.
TEST(ErrorMessage, FormatTextsNameTheFormatTheArchivesNameClaims) {
    // What the texts call the file: "RAR" for the RAR texts, "" for the
    // texts that name no format.
    const struct {
        QString name;
        std::string called;
    } cases[] = {
        {"Photos.rar", "RAR"},
        {"PHOTOS.RAR", "RAR"},
        {"Photos.part2.rar", "RAR"},
        {"Photos.001.rar", "RAR"},
        {"Photos.r00", "RAR"},
        {"Photos.R17", "RAR"},
        {"Photos.s03", "RAR"},
        {"Photos.zip", "zip archive"},
        {"Photos.ZIP", "zip archive"},
        {"Photos.zip.001", "zip archive"},
        {"Photos.z01", "zip archive"},
        {"Photos.7z", "7z archive"},
        {"Photos.7z.002", "7z archive"},
        {"Photos.tar", "tar archive"},
        {"Photos.tar.gz", "tar.gz archive"},
        {"Photos.TGZ", "tar.gz archive"},
        {"Photos.tar.bz2", "tar.bz2 archive"},
        {"Photos.tbz2", "tar.bz2 archive"},
        {"Photos.tar.xz", "tar.xz archive"},
        {"Photos.txz", "tar.xz archive"},
        {"Photos.tar.zst", "tar.zst archive"},
        {"Photos.tar.lz4", "tar.lz4 archive"},
        {"Photos.tar.lzma", "tar.lzma archive"},
        {"Photos.cpio", "cpio archive"},
        {"notes.txt.gz", "gzip file"},
        {"notes.txt.bz2", "bzip2 file"},
        {"notes.txt.xz", "xz file"},
        {"notes.txt.lzma", "lzma file"},
        {"notes.txt.zst", "zstd file"},
        {"notes.txt.lz4", "lz4 file"},
        // Names that claim no format Ostrel opens, or only look close to one.
        {"Photos", ""},
        {"Photos.rar.txt", ""},
        {"Photos.rarx", ""},
        {"Photos.r7", ""},
        {"Photos.tar.gz.part", ""},
        {"Photos.zip/", ""},
        {"", ""},
        // Only the last component of a path counts.
        {"backup.zip/Photos", ""},
    };
    for (const auto& c : cases) {
        const std::string name = c.name.toStdString();
        std::string title = "“" + name + "” is not a valid " + c.called + ".";
        std::string detail = "This " + c.called + " uses a method that this version cannot unpack.";
        if (c.called == "RAR") {
            title = "“" + name + "” is not a valid RAR archive.";
            detail = "The archive uses a newer RAR format that this version cannot unpack.";
        } else if (c.called.empty()) {
            title = "“" + name + "” is not an archive that Ostrel can open.";
            detail = "The archive uses a format that this version cannot unpack.";
        }
        EXPECT_EQ(texts(ExtractionError::notAnArchive(), c.name),
                  (Texts{title, "The file may be incomplete or in a different format.", false}))
            << name;
        EXPECT_EQ(texts(ExtractionError::unsupportedFormat(), c.name),
                  (Texts{"“" + name + "” could not be extracted.", detail, false}))
            << name;
    }
}

TEST(ErrorMessage, ANameThatLooksLikeAPlaceholderIsNotFilledWithTheFormat) {
    EXPECT_EQ(texts(ExtractionError::notAnArchive(), "%2 %1.zip").title,
              "“%2 %1.zip” is not a valid zip archive.");
    EXPECT_EQ(texts(ExtractionError::notAnArchive(), "%2.gz").title,
              "“%2.gz” is not a valid gzip file.");
}

TEST_F(ErrorMessageWithLocale, InsufficientSpaceFormatsBothCounts) {
    const std::string title = "There is not enough free space to extract “Photos.rar”.";
    EXPECT_EQ(texts(ExtractionError::insufficientSpace(1'234'567'890, 350)),
              (Texts{title, "The contents need 1.23 GB, but only 350 bytes is available.", false}));
    EXPECT_EQ(
        texts(ExtractionError::insufficientSpace(std::numeric_limits<std::uint64_t>::max(), 0))
            .detail,
        "The contents need 9.22 EB, but only Zero KB is available.");
    // Inodes run short: 100,000 empty files need no block but one inode each.
    EXPECT_EQ(texts(ExtractionError::insufficientSpace(
                  100'003, 25'000, ExtractionError::InsufficientSpace::Unit::items)),
              (Texts{title,
                     "The contents are 100003 files and folders, but the disk has room for "
                     "only 25000 more.",
                     false}));
}

}  // namespace
}  // namespace tovani
