#include "TovaniCore/SpaceRequirement.h"

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TovaniCore/PathSanitizer.h"

namespace tovani::SpaceRequirement {

namespace {

constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
    return b > saturated - a ? saturated : a + b;
}

// size rounded up to whole blocks, and never less than one block.
std::uint64_t onDisk(std::uint64_t size, std::uint64_t blockSize) {
    if (blockSize == 0) {
        return size;
    }
    const std::uint64_t blocks =
        std::max<std::uint64_t>(1, size / blockSize + (size % blockSize != 0));
    return blocks > saturated / blockSize ? saturated : blocks * blockSize;
}

std::string joined(const std::vector<std::string>& components, std::size_t count) {
    std::string path;
    for (std::size_t index = 0; index < count; ++index) {
        if (index > 0) {
            path += '/';
        }
        path += components[index];
    }
    return path;
}

// Component-wise order: "/" sorts before every other character, so that a
// directory's paths stay together ("a/b" before "a-c").
bool componentsBefore(const std::string& a, const std::string& b) {
    const std::size_t shared = std::min(a.size(), b.size());
    for (std::size_t index = 0; index < shared; ++index) {
        if (a[index] != b[index]) {
            if (a[index] == '/' || b[index] == '/') {
                return a[index] == '/';
            }
            return static_cast<unsigned char>(a[index]) < static_cast<unsigned char>(b[index]);
        }
    }
    return a.size() < b.size();
}

std::size_t componentCount(std::string_view path) {
    return path.empty() ? 0
                        : static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')) + 1;
}

// How many leading whole components two paths have in common.
std::size_t sharedComponents(std::string_view a, std::string_view b) {
    std::size_t count = 0;
    std::size_t at = 0;
    while (at < a.size() && at < b.size()) {
        const std::size_t endA = std::min(a.find('/', at), a.size());
        const std::size_t endB = std::min(b.find('/', at), b.size());
        if (a.substr(at, endA - at) != b.substr(at, endB - at)) {
            break;
        }
        ++count;
        at = endA + 1;
    }
    return count;
}

}  // namespace

std::uint64_t bytes(std::span<const ArchiveEntry> entries, std::uint64_t blockSize) {
    std::uint64_t total = 0;
    // Sizes of what copies may refer to, by sanitized path; later entries of
    // the same name replace earlier ones, as on disk.
    std::unordered_map<std::string, std::uint64_t> fileSizes;
    // Every directory an entry needs, by path; counted once each below.
    std::vector<std::string> directories;
    for (const ArchiveEntry& entry : entries) {
        const std::vector<std::string> components = PathSanitizer::components(entry.path);
        const bool isDirectory = entry.isDirectory();
        directories.push_back(
            joined(components, isDirectory ? components.size() : components.size() - 1));
        if (isDirectory) {
            continue;
        }
        std::uint64_t size = entry.unpackedSize;
        if (const auto* copy = std::get_if<ArchiveEntry::Copy>(&entry.kind)) {
            size = 0;
            try {
                const std::vector<std::string> source = PathSanitizer::components(copy->source);
                const auto found = fileSizes.find(joined(source, source.size()));
                if (found != fileSizes.end()) {
                    size = found->second;
                }
            } catch (const std::exception&) {
                // A copy of an unsafe path is skipped when met.
            }
        } else if (std::holds_alternative<ArchiveEntry::HardLink>(entry.kind)) {
            size = 0;
        }
        if (entry.isFile() || std::holds_alternative<ArchiveEntry::Copy>(entry.kind)) {
            fileSizes[joined(components, components.size())] = size;
        }
        total = add(total, onDisk(size, blockSize));
    }
    std::sort(directories.begin(), directories.end(), componentsBefore);
    directories.erase(std::unique(directories.begin(), directories.end()), directories.end());
    std::uint64_t count = 0;
    std::string_view previous;
    for (const std::string& directory : directories) {
        count += componentCount(directory) - sharedComponents(previous, directory);
        previous = directory;
    }
    std::uint64_t directoryBytes = 0;
    if (__builtin_mul_overflow(count, onDisk(0, blockSize), &directoryBytes)) {
        return saturated;
    }
    return add(total, directoryBytes);
}

}  // namespace tovani::SpaceRequirement
