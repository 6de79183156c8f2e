// Properties of the path rules on arbitrary text: component lists hold no
// empty, ".", ".." or "/"-bearing piece and keep within the limits; a
// refusal is unsafePath carrying the path unchanged, or ENAMETOOLONG naming
// a path over a limit; a link target judged safe, resolved textually from
// the link's directory with "/" or with "/" and a backslash as separators,
// never leaves the root and names no Windows drive.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/PathSanitizer.h"

namespace {

using tovani::ExtractionError;

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "property violated: %s\n", why);
    std::abort();
}

std::vector<std::string> checkedComponents(const std::string& path, bool& refused) {
    refused = false;
    try {
        std::vector<std::string> parts = tovani::PathSanitizer::components(path);
        if (parts.empty())
            fail("empty component list");
        std::size_t bytes = parts.size() - 1;
        for (const std::string& part : parts) {
            if (part.empty() || part == "." || part == ".." ||
                part.find('/') != std::string::npos) {
                fail("bad component");
            }
            if (part.size() > tovani::PathSanitizer::maxComponentBytes)
                fail("component over the limit");
            bytes += part.size();
        }
        if (bytes > tovani::PathSanitizer::maxPathBytes ||
            parts.size() > tovani::PathSanitizer::maxDepth) {
            fail("path over the limit");
        }
        return parts;
    } catch (const ExtractionError& error) {
        const auto* tooLong = error.as<ExtractionError::WriteFailed>();
        const bool overLimit = tooLong != nullptr && tooLong->code == ENAMETOOLONG &&
                               tooLong->path.size() <= path.size();
        if (!(error == ExtractionError::unsafePath(path)) && !overLimit)
            fail("wrong refusal");
        refused = true;
        return {};
    } catch (...) {
        fail("unexpected exception");
    }
}

// Depth below the root after following target from the link's directory,
// split at any of separators; negative once it climbs out.
long resolvedDepth(const std::vector<std::string>& linkAt, const std::string& target,
                   const char* separators) {
    long depth = static_cast<long>(linkAt.size()) - 1;
    std::size_t start = 0;
    while (start <= target.size()) {
        std::size_t end = target.find_first_of(separators, start);
        if (end == std::string::npos)
            end = target.size();
        const std::string piece = target.substr(start, end - start);
        if (piece == "..") {
            if (--depth < 0)
                return depth;
        } else if (!piece.empty() && piece != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return depth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string linkPath = input.ConsumeRandomLengthString(256);
    const std::string target = input.ConsumeRemainingBytesAsString();

    bool refused = false;
    const std::vector<std::string> linkAt = checkedComponents(linkPath, refused);
    checkedComponents(target, refused);

    if (tovani::PathSanitizer::isSafeLinkTarget(target, linkAt)) {
        if (target.empty() || target.front() == '/' || target.front() == '\\')
            fail("absolute or empty target judged safe");
        if (target.size() >= 2 && target[1] == ':' &&
            ((target[0] >= 'A' && target[0] <= 'Z') || (target[0] >= 'a' && target[0] <= 'z')))
            fail("target on a Windows drive judged safe");
        // As Linux reads it, and as a Windows program would.
        if (resolvedDepth(linkAt, target, "/") < 0 || resolvedDepth(linkAt, target, "/\\") < 0)
            fail("safe target leaves the root");
    }
    return 0;
}
