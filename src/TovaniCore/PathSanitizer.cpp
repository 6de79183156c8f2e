#include "TovaniCore/PathSanitizer.h"

#include <algorithm>
#include <cerrno>

#include "TovaniCore/ExtractionError.h"

namespace tovani::PathSanitizer {

namespace {

// Non-empty pieces of a link target between separators, in order. Windows
// writes targets with backslashes, and a Windows program following the link
// reads them so: "..\..\x" climbs twice wherever it is read.
std::vector<std::string_view> pieces(std::string_view path) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            result.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return result;
}

// A target rooted anywhere: "/x", "\x" (also "\\server\share" and
// "\??\C:\x") or a drive, "C:\x" and "C:x" alike.
bool isAbsoluteTarget(std::string_view target) {
    if (target.front() == '/' || target.front() == '\\') {
        return true;
    }
    const auto first = static_cast<unsigned char>(target.front());
    return target.size() >= 2 && target[1] == ':' &&
           ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'));
}

}  // namespace

std::vector<std::string> components(std::string_view entryPath) {
    auto refuse = [&] { return ExtractionError::unsafePath(std::string(entryPath)); };
    // A NUL would cut the path short in every system call, turning "..\0x"
    // into "..", so it can never be an ordinary name character.
    if (entryPath.find('\0') != std::string_view::npos) {
        throw refuse();
    }
    if (!entryPath.empty() && entryPath.front() == '/') {
        throw refuse();
    }
    std::vector<std::string> result;
    std::size_t pathBytes = 0;
    // Piece by piece, so that a path far over the limits costs no more than
    // the limits allow before it is refused.
    std::size_t start = 0;
    while (start <= entryPath.size()) {
        const std::size_t end = std::min(entryPath.find('/', start), entryPath.size());
        const std::string_view piece = entryPath.substr(start, end - start);
        start = end + 1;
        if (piece.empty() || piece == ".") {
            continue;
        }
        if (piece == "..") {
            throw refuse();
        }
        pathBytes += (result.empty() ? 0 : 1) + piece.size();
        const bool overLimit = piece.size() > maxComponentBytes || pathBytes > maxPathBytes ||
                               result.size() >= maxDepth;
        result.emplace_back(piece);
        if (overLimit) {
            std::string named;
            for (const std::string& component : result) {
                named += named.empty() ? "" : "/";
                named += component;
            }
            throw ExtractionError::writeFailed(std::move(named), ENAMETOOLONG);
        }
    }
    if (result.empty()) {
        throw refuse();
    }
    return result;
}

bool isSafeLinkTarget(std::string_view target, std::span<const std::string> linkAt) {
    // symlink() stops at a NUL, so "..\0x" would be stored as "..".
    if (target.empty() || isAbsoluteTarget(target) || linkAt.empty() ||
        target.find('\0') != std::string_view::npos) {
        return false;
    }
    std::size_t climbs = 0;
    bool sawName = false;
    for (std::string_view piece : pieces(target)) {
        if (piece == ".") {
            continue;
        }
        if (piece == "..") {
            if (sawName) {
                return false;
            }
            ++climbs;
        } else {
            sawName = true;
        }
    }
    return climbs < linkAt.size();
}

bool staysInTopLevelItem(std::string_view target, std::span<const std::string> linkAt) {
    // Depth of the directory holding the link, the top-level item being 0; a
    // link that is the top-level item itself has nothing to stay in.
    if (linkAt.size() < 2) {
        return false;
    }
    long depth = static_cast<long>(linkAt.size()) - 1;
    for (std::string_view piece : pieces(target)) {
        if (piece == "..") {
            if (--depth <= 0) {
                return false;
            }
        } else if (piece == ".") {
            if (depth <= 0) {
                return false;
            }
        } else {
            ++depth;
        }
    }
    return true;
}

}  // namespace tovani::PathSanitizer
