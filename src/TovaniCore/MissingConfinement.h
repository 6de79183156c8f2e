// MissingConfinement names the confinement layers this system's kernel does
// not offer at all, so the archive's reader ran without them. A layer the
// kernel offers but that could not be applied never gets here: the reader
// then refuses to read (ExtractionError::confinementFailed()).
//
//   const MissingConfinement& missing = result.missingConfinement();
//   if (missing.any()) log(missing.describe());  // "file-system rules (Landlock)"
#pragma once

#include <string>

namespace tovani {

struct MissingConfinement {
    bool fileSystemRules = false;    // Landlock
    bool systemCallFilter = false;   // seccomp
    bool addressSpaceLimit = false;  // RLIMIT_AS

    bool any() const { return fileSystemRules || systemCallFilter || addressSpaceLimit; }

    // The missing layers, comma-separated, for a log line; "" when none.
    std::string describe() const {
        std::string text;
        const auto add = [&text](bool missing, const char* name) {
            if (missing) {
                text += text.empty() ? "" : ", ";
                text += name;
            }
        };
        add(fileSystemRules, "file-system rules (Landlock)");
        add(systemCallFilter, "system-call filter (seccomp)");
        add(addressSpaceLimit, "address-space limit");
        return text;
    }

    bool operator==(const MissingConfinement&) const = default;
};

}  // namespace tovani
