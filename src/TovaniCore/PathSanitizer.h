// PathSanitizer decides whether a path taken from an archive may be used
// inside the staging directory. It is pure string logic and touches no file.
//
//   auto parts = PathSanitizer::components("docs/./readme.txt");  // {"docs", "readme.txt"}
//   PathSanitizer::components("../x");                            // throws unsafePath("../x")
//   PathSanitizer::isSafeLinkTarget("../x", parts);               // true: stays below the root
//   PathSanitizer::staysInTopLevelItem("../x", parts);            // false: leaves "docs"
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tovani::PathSanitizer {

// Splits an entry path at "/" into its components, outermost first, dropping
// empty and "." pieces. Throws ExtractionError::unsafePath carrying the whole
// path when it is absolute, contains "..", or leaves nothing. Never empty.
std::vector<std::string> components(std::string_view entryPath);

// Whether a symbolic link whose own components are linkAt may point at target:
// the target must be relative, may climb only through a leading run of "..",
// and at most as many levels as there are directories above the link.
[[nodiscard]] bool isSafeLinkTarget(std::string_view target, std::span<const std::string> linkAt);

// Whether a symbolic link whose own components are linkAt, with target,
// resolves inside its top-level item (linkAt's first component) taken alone:
// false when it is that item itself, or when its target reaches the level
// of that item or above. Such a link stays inside an output folder, but
// would point at the destination's own contents if the item were moved out
// on its own.
[[nodiscard]] bool staysInTopLevelItem(std::string_view target,
                                       std::span<const std::string> linkAt);

}  // namespace tovani::PathSanitizer
