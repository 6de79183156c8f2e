// ReferenceCorpus is the set of archives the differential test extracts with
// both ostrel-extract and Debian's `unrar x`: archives `rar` makes with many
// of its options, old-format ones from the project's writer (RAR 1.5 to 4.x
// headers, which this `rar` no longer writes), and the inputs that once
// crashed the library. Each is made at test time
// in a directory of the test's own.
//
//   for (const CorpusCase& item : referenceCorpus()) {
//       ReferenceArchive archive = item.make(dir.path());
//       // extract archive.path (with archive.password) both ways, compare
//   }
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tovani::testing {

struct ReferenceArchive {
    // The volume both tools are given (the first one unless the case says).
    std::filesystem::path path;
    // Given to both tools when set.
    std::optional<std::string> password;
};

struct CorpusCase {
    std::string name;
    // Makes the archive inside the directory given, which is otherwise empty.
    std::function<ReferenceArchive(const std::filesystem::path&)> make;
};

const std::vector<CorpusCase>& referenceCorpus();

}  // namespace tovani::testing
