#include "Messages/NamedFormat.h"

#include <QRegularExpression>
#include <array>

namespace tovani {
namespace {

struct Suffix {
    const char* pattern;  // matched against the end of the name
    NamedFormat::Kind kind;
    const char* name;
};

using Kind = NamedFormat::Kind;

// In order: a compound suffix comes before its last part (".tar.gz" before
// ".gz"). A lettered old-style RAR volume runs from .r00 to .y99; ".z01" and
// up are far more often the parts of a spanned zip.
constexpr std::array kSuffixes{
    Suffix{R"(\.(rar|[r-y]\d\d))", Kind::rar, "RAR"},
    Suffix{R"(\.(zipx?|zip\.\d{3,}|z\d\d+))", Kind::archive, "zip"},
    Suffix{R"(\.7z(\.\d{3,})?)", Kind::archive, "7z"},
    Suffix{R"(\.(tar\.gz|tgz))", Kind::archive, "tar.gz"},
    Suffix{R"(\.(tar\.bz2?|tbz2?|tb2))", Kind::archive, "tar.bz2"},
    Suffix{R"(\.(tar\.xz|txz))", Kind::archive, "tar.xz"},
    Suffix{R"(\.(tar\.zst|tzst))", Kind::archive, "tar.zst"},
    Suffix{R"(\.tar\.lz4)", Kind::archive, "tar.lz4"},
    Suffix{R"(\.(tar\.lzma|tlz))", Kind::archive, "tar.lzma"},
    Suffix{R"(\.tar)", Kind::archive, "tar"},
    Suffix{R"(\.cpio(\.gz)?)", Kind::archive, "cpio"},
    Suffix{R"(\.gz)", Kind::compressedFile, "gzip"},
    Suffix{R"(\.bz2?)", Kind::compressedFile, "bzip2"},
    Suffix{R"(\.xz)", Kind::compressedFile, "xz"},
    Suffix{R"(\.lzma)", Kind::compressedFile, "lzma"},
    Suffix{R"(\.zst)", Kind::compressedFile, "zstd"},
    Suffix{R"(\.lz4)", Kind::compressedFile, "lz4"},
};

}  // namespace

NamedFormat namedFormat(const QString& fileName) {
    const QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    for (const Suffix& suffix : kSuffixes) {
        const QRegularExpression pattern(QStringLiteral("%1$").arg(QLatin1String(suffix.pattern)),
                                         QRegularExpression::CaseInsensitiveOption);
        if (pattern.match(name).hasMatch()) {
            return {suffix.kind, QString::fromLatin1(suffix.name)};
        }
    }
    return {};
}

}  // namespace tovani
