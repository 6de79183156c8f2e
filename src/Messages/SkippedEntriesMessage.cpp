#include "Messages/SkippedEntriesMessage.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <limits>

namespace tovani {
namespace {

class Texts {
    Q_DECLARE_TR_FUNCTIONS(SkippedEntriesMessage)
};

constexpr std::size_t listedEntries = 8;

}  // namespace

std::optional<SkippedEntriesMessage> skippedEntriesMessage(const std::vector<SkippedEntry>& skipped,
                                                           const QString& archiveName) {
    if (skipped.empty()) {
        return std::nullopt;
    }
    QStringList lines;
    for (std::size_t i = 0; i < skipped.size() && i < listedEntries; ++i) {
        lines << QStringLiteral("• ") + QString::fromStdString(skipped[i].path);
    }
    if (skipped.size() > listedEntries) {
        auto more = static_cast<int>(
            std::min<std::size_t>(skipped.size() - listedEntries, std::numeric_limits<int>::max()));
        lines << Texts::tr("…and %n more", nullptr, more);
    }
    const auto any = [&skipped](auto matches) {
        return std::any_of(skipped.begin(), skipped.end(), matches);
    };
    const bool special =
        any([](const SkippedEntry& e) { return e.reason == SkippedEntry::Reason::specialFile; });
    const bool links =
        any([](const SkippedEntry& e) { return e.reason != SkippedEntry::Reason::specialFile; });
    QStringList why;
    if (links) {
        why << Texts::tr(
            "Links that point outside the extraction folder, or whose "
            "destination cannot be verified, are skipped for safety.");
    }
    if (special) {
        why << Texts::tr("Devices, pipes and sockets in an archive are never created.");
    }
    SkippedEntriesMessage message;
    message.title = Texts::tr("Some items in “%1” were not extracted.").arg(archiveName);
    message.detail =
        why.join(QLatin1Char(' ')) + QStringLiteral("\n\n") + lines.join(QLatin1Char('\n'));
    return message;
}

}  // namespace tovani
