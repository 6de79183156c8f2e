// SkippedEntriesMessage is the wording of the alert that lists the entries a
// successful extraction left out (refused links). Nothing is made for an
// empty list; at most 8 paths are listed, then a count of the rest.
//
//   if (auto message = skippedEntriesMessage(result.skipped(), "a.rar")) {
//       show(message->title, message->detail);
//   }
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "TovaniCore/SkippedEntry.h"

namespace tovani {

struct SkippedEntriesMessage {
    QString title;
    QString detail;

    bool operator==(const SkippedEntriesMessage&) const = default;
};

// archiveName is the file name of the archive (the set's first volume).
std::optional<SkippedEntriesMessage> skippedEntriesMessage(const std::vector<SkippedEntry>& skipped,
                                                           const QString& archiveName);

}  // namespace tovani
