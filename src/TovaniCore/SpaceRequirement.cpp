#include "TovaniCore/SpaceRequirement.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

#include "TovaniCore/PathSanitizer.h"

namespace tovani::SpaceRequirement {

namespace {

constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return b > saturated - a ? saturated : a + b;
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

Tally::Tally(std::uint64_t blockSize) : blockSize_(blockSize) {}

// size rounded up to whole blocks, and never less than one block.
std::uint64_t Tally::onDisk(std::uint64_t size) const {
    if (blockSize_ == 0) {
        return size;
    }
    const std::uint64_t blocks =
        std::max<std::uint64_t>(1, size / blockSize_ + (size % blockSize_ != 0));
    return blocks > saturated / blockSize_ ? saturated : blocks * blockSize_;
}

void Tally::addFolder(std::string path) {
    if (!folderPaths_.empty() && folderPaths_.back() == path) {
        return;
    }
    folderPaths_.push_back(std::move(path));
    if (folderPaths_.size() > 2 * compactedSize_ + 1024) {
        compact();
    }
}

void Tally::compact() const {
    std::sort(folderPaths_.begin(), folderPaths_.end(), componentsBefore);
    folderPaths_.erase(std::unique(folderPaths_.begin(), folderPaths_.end()), folderPaths_.end());
    compactedSize_ = folderPaths_.size();
}

void Tally::add(const ArchiveEntry& entry) {
    const std::vector<std::string> components = PathSanitizer::components(entry.path);
    const bool isDirectory = entry.isDirectory();
    addFolder(joined(components, isDirectory ? components.size() : components.size() - 1));
    if (isDirectory) {
        return;
    }
    std::uint64_t size = entry.unpackedSize;
    if (const auto* copy = std::get_if<ArchiveEntry::Copy>(&entry.kind)) {
        size = 0;
        try {
            const std::vector<std::string> source = PathSanitizer::components(copy->source);
            const auto found = largeFiles_.find(joined(source, source.size()));
            if (found != largeFiles_.end()) {
                size = found->second;
            }
        } catch (const std::exception&) {
            // A copy of an unsafe path is skipped when met.
        }
    } else if (std::holds_alternative<ArchiveEntry::HardLink>(entry.kind)) {
        size = 0;
    }
    if (entry.isFile() || std::holds_alternative<ArchiveEntry::Copy>(entry.kind)) {
        std::string path = joined(components, components.size());
        if (onDisk(size) > onDisk(0)) {
            largeFiles_.insert_or_assign(std::move(path), size);
        } else {
            largeFiles_.erase(path);
        }
    }
    total_ = saturatingAdd(total_, onDisk(size));
}

std::uint64_t Tally::bytes() const {
    compact();
    std::uint64_t folders = 0;
    std::string_view previous;
    for (const std::string& folder : folderPaths_) {
        folders += componentCount(folder) - sharedComponents(previous, folder);
        previous = folder;
    }
    std::uint64_t folderBytes = 0;
    if (__builtin_mul_overflow(folders, onDisk(0), &folderBytes)) {
        return saturated;
    }
    return saturatingAdd(total_, folderBytes);
}

std::uint64_t bytes(std::span<const ArchiveEntry> entries, std::uint64_t blockSize) {
    Tally tally(blockSize);
    for (const ArchiveEntry& entry : entries) {
        tally.add(entry);
    }
    return tally.bytes();
}

}  // namespace tovani::SpaceRequirement
