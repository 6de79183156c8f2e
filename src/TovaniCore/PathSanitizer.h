// PathSanitizer decides whether a path taken from an archive may be used
// inside the staging directory. It is pure string logic and touches no file.
//
//   auto parts = PathSanitizer::components("docs/./readme.txt");  // {"docs", "readme.txt"}
//   PathSanitizer::components("../x");                            // throws unsafePath("../x")
//   PathSanitizer::isSafeLinkTarget("../x", parts);               // true: stays below the root
//   PathSanitizer::staysInTopLevelItem("../x", parts);            // false: leaves "docs"
//   PathSanitizer::components(std::string(300, 'n'));  // throws writeFailed(…, ENAMETOOLONG)
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tovani::PathSanitizer {

// The limits every path from an archive is held to here, whatever the decoder
// checked on its side.
// A component's bytes: the longest name Linux file systems take.
inline constexpr std::size_t maxComponentBytes = 255;
// The components' bytes joined by "/": the longest relative path one
// openat2 takes, which is how the writer opens an entry's folder.
inline constexpr std::size_t maxPathBytes = 4095;
// Components: more folders deep than any real tree nests, and few enough
// that a path never costs the walks over it more than that many steps.
inline constexpr std::size_t maxDepth = 1024;
// Entries one archive may list: well above the largest trees people pack
// (a whole distribution's sources, a photo library), and low enough that
// what this side keeps per entry stays within a desktop's memory. More is
// refused as ExtractionError::outOfMemory.
inline constexpr std::size_t maxEntries = 4'000'000;

// Splits an entry path at "/" into its components, outermost first, dropping
// empty and "." pieces. Throws ExtractionError::unsafePath carrying the whole
// path when it is absolute, contains "..", or leaves nothing. Throws
// ExtractionError::writeFailed(ENAMETOOLONG) carrying the components up to
// the first one over a limit, as the file system would name it, when a
// component, the path or its depth is over a limit above. Never empty.
std::vector<std::string> components(std::string_view entryPath);

// Whether a symbolic link whose own components are linkAt may point at target:
// the target must be relative, may climb only through a leading run of "..",
// and at most as many levels as there are directories above the link. A
// target is read as Windows reads it too: a backslash separates, and one that
// starts with a backslash or a drive ("C:") is absolute.
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
