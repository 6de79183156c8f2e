#include "TovaniCore/SpaceRequirement.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/PathSanitizer.h"

namespace tovani::SpaceRequirement {

namespace {

constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();
// What one kept file size costs in memory, its table's share included.
constexpr std::size_t keptPerFile = 48;

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
    // Paths of one tree share long beginnings: those are skipped a word at
    // a time.
    std::size_t start = 0;
    while (start + sizeof(std::uint64_t) <= shared &&
           std::memcmp(a.data() + start, b.data() + start, sizeof(std::uint64_t)) == 0) {
        start += sizeof(std::uint64_t);
    }
    for (std::size_t index = start; index < shared; ++index) {
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

// What a file's name is kept as: a hash of its sanitized path with ASCII
// letters in lower case. Names that share a key share the largest size
// among them, so a collision can only make a copy count more.
std::uint64_t fileKey(const std::vector<std::string>& components) {
    std::string path = joined(components, components.size());
    for (char& c : path) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return std::hash<std::string>{}(path);
}

}  // namespace

Tally::Tally(std::uint64_t blockSize, std::size_t maxKept)
    : blockSize_(blockSize), maxKept_(maxKept) {}

// size rounded up to whole blocks, and never less than one block.
std::uint64_t Tally::onDisk(std::uint64_t size) const {
    if (blockSize_ == 0) {
        return size;
    }
    const std::uint64_t blocks =
        std::max<std::uint64_t>(1, size / blockSize_ + (size % blockSize_ != 0));
    return blocks > saturated / blockSize_ ? saturated : blocks * blockSize_;
}

void Tally::keep(std::size_t bytes) {
    keptBytes_ += bytes;
    if (keptBytes_ > maxKept_) {
        throw ExtractionError::outOfMemory();
    }
}

void Tally::addFolder(std::string path) {
    if (!folderPaths_.empty() && folderPaths_.back() == path) {
        return;
    }
    keep(path.size());
    folderPaths_.push_back(std::move(path));
    if (folderPaths_.size() > 2 * compactedSize_ + 1024) {
        compact();
        keptBytes_ = 0;
        for (const std::string& folder : folderPaths_) {
            keptBytes_ += folder.size();
        }
        keptBytes_ += largeFiles_.size() * keptPerFile;
    }
}

void Tally::compact() const {
    std::sort(folderPaths_.begin(), folderPaths_.end(), componentsBefore);
    folderPaths_.erase(std::unique(folderPaths_.begin(), folderPaths_.end()), folderPaths_.end());
    compactedSize_ = folderPaths_.size();
}

std::uint64_t Tally::sizeNamedBy(std::string_view path) const {
    try {
        const std::vector<std::string> parts = PathSanitizer::components(path);
        const auto found = largeFiles_.find(fileKey(parts));
        return found != largeFiles_.end() ? found->second : 0;
    } catch (const std::exception&) {
        // A link or copy of an unsafe path is skipped when met.
        return 0;
    }
}

void Tally::add(const ArchiveEntry& entry) {
    if (++entries_ > PathSanitizer::maxEntries) {
        throw ExtractionError::outOfMemory();
    }
    const std::vector<std::string> components = PathSanitizer::components(entry.path);
    const bool isDirectory = entry.isDirectory();
    addFolder(joined(components, isDirectory ? components.size() : components.size() - 1));
    if (isDirectory) {
        return;
    }
    if (!std::holds_alternative<ArchiveEntry::HardLink>(entry.kind)) {
        ++madeItems_;
    }
    // What the entry writes, and the size of the file its path then names:
    // a hard link writes nothing but names its target's file, a copy writes
    // and names as much as its source's file, whatever either declares.
    std::uint64_t written = entry.unpackedSize;
    std::optional<std::uint64_t> named;
    if (const auto* copy = std::get_if<ArchiveEntry::Copy>(&entry.kind)) {
        written = sizeNamedBy(copy->source);
        named = written;
    } else if (const auto* link = std::get_if<ArchiveEntry::HardLink>(&entry.kind)) {
        written = 0;
        named = sizeNamedBy(link->target);
    } else if (entry.isFile()) {
        named = written;
    }
    if (named && onDisk(*named) > onDisk(0)) {
        const auto [at, inserted] = largeFiles_.try_emplace(fileKey(components), *named);
        if (inserted) {
            keep(keptPerFile);
        } else {
            at->second = std::max(at->second, *named);
        }
    }
    // An empty file takes an inode and no block, as does a link whose
    // target fits the inode.
    total_ = saturatingAdd(total_, written == 0 ? 0 : onDisk(written));
}

std::uint64_t Tally::folderCount() const {
    compact();
    std::uint64_t folders = 0;
    std::string_view previous;
    for (const std::string& folder : folderPaths_) {
        folders += componentCount(folder) - sharedComponents(previous, folder);
        previous = folder;
    }
    return folders;
}

std::uint64_t Tally::bytes() const {
    std::uint64_t folderBytes = 0;
    if (__builtin_mul_overflow(folderCount(), onDisk(0), &folderBytes)) {
        return saturated;
    }
    return saturatingAdd(total_, folderBytes);
}

std::uint64_t Tally::items() const {
    return saturatingAdd(madeItems_, folderCount());
}

std::uint64_t bytes(std::span<const ArchiveEntry> entries, std::uint64_t blockSize) {
    Tally tally(blockSize);
    for (const ArchiveEntry& entry : entries) {
        tally.add(entry);
    }
    return tally.bytes();
}

}  // namespace tovani::SpaceRequirement
