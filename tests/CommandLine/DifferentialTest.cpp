// Every archive of the reference corpus, extracted by ostrel-extract and by
// Debian's `unrar x`, must give the same tree: names, types, sizes,
// contents, link targets, hard-link groups, times to the nanosecond and
// modes after the umask, or the same failure. What differs on purpose is
// listed in kIntended below, the one place, with the reason; anything else
// fails.
#include <fnmatch.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>

#include "CommandLine/ReferenceCorpus.h"
#include "CommandLine/ToolProcess.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

enum class Aspect {
    unrarStatus,
    outcome,
    presence,
    type,
    content,
    target,
    hardLink,
    mtime,
    folderTime,
    mode
};

const char* aspectName(Aspect aspect) {
    static const char* const names[] = {"unrar status", "outcome", "presence",  "type",
                                        "content",      "target",  "hard link", "mtime",
                                        "folder time",  "mode"};
    return names[static_cast<int>(aspect)];
}

struct Intended {
    const char* cases;  // fnmatch patterns
    Aspect aspect;
    const char* paths;
    // The issue item still to fix; 0 for a difference the promise makes.
    int pendingItem;
    const char* why;
    // What ours must be instead, when the difference says what is right:
    // fnmatch patterns separated by '|', "now" meaning the time of our run.
    const char* ours = nullptr;
};

// Modes are compared after the umask of the test (022): Ostrel applies it,
// unrar sets the archive's mode as stored. Trees are compared inside the
// output folder (--always-create-folder), so placement does not show.
constexpr Intended kIntended[] = {
    {"modes", Aspect::mode, "m/setuid", 0, "no set-id bits are ever set"},
    {"*", Aspect::folderTime, "*", 0,
     "folders keep their time; unrar leaves the time of extraction"},
    {"numbered-volumes-from-num.002", Aspect::presence, "n/big.bin", 0,
     "a later volume extracts its whole set; unrar skips what began before it"},
    {"rar4-damaged-*comment", Aspect::unrarStatus, "", 0,
     "unrar fails on a damaged comment, yet extracts every file whole"},
    {"rar4-legacy-name", Aspect::presence, "*", 0,
     "Windows RAR 2.x-4.x names without Unicode form are read in code page 850"},
    {"invalid-utf8-names", Aspect::presence, "*", 0,
     "bytes that are not UTF-8 show as %XX; unrar cuts the name there, merging two"},
    {"long-link-target", Aspect::presence, "l", 0,
     "a link target the library may have cut is skipped and listed, not created cut"},
    {"windows-link-targets", Aspect::presence, "l/*drive", 0,
     "a link to a drive (C:) is absolute, as Windows reads it; unrar creates it"},
    {"windows-link-targets", Aspect::presence, "l/unix-climbs", 0,
     "a backslash separates in a link target, so ..\\..\\x escapes; unrar creates it"},
    {"times-outside-1970-2185", Aspect::mtime, "t/1969.txt", 0,
     "unrar wraps a time before 1970 into the far future", "-1.500000000"},
    {"times-outside-1970-2185", Aspect::mtime, "t/1903.txt", 0,
     "unrar wraps a time before 1970 into the far future", "-2100000000.123456700"},
    {"times-outside-1970-2185", Aspect::mtime, "t/1601.txt", 0,
     "unrar wraps it; ext4 holds nothing before 1901, which gives the time of extraction",
     "-11644473600.000000100|now"},
    {"times-outside-1970-2185", Aspect::mtime, "t/2200.txt", 0,
     "unrar wraps a time after 2185 into the 21st century", "7258118400.000000300|now"},
    {"times-outside-1970-2185", Aspect::mtime, "t/9999.txt", 0,
     "unrar wraps it; ext4 holds nothing after 2446, which gives the time of extraction",
     "253402300799.999999900|now"},
};

struct Found {
    Aspect aspect;
    std::string path;
    std::string detail;
    std::string ours = {};  // our value, for the aspects that have one
};

// When our run started and ended, in seconds since 1970.
struct RunWindow {
    std::int64_t from = 0;
    std::int64_t to = 0;
};

struct Item {
    char type = '?';
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
    std::string target;
    std::string hardLinkGroup;
    std::string mtime;  // seconds.nanoseconds
    unsigned mode = 0;
};

using Tree = std::map<std::string, Item>;

std::uint64_t fnv1a(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return hash;
}

std::string timeText(const struct timespec& time) {
    char nanoseconds[16];
    std::snprintf(nanoseconds, sizeof nanoseconds, ".%09ld", time.tv_nsec);
    return std::to_string(time.tv_sec) + nanoseconds;
}

Tree snapshot(const fs::path& root) {
    Tree tree;
    std::map<std::pair<dev_t, ino_t>, std::string> firstPathOfInode;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
        const fs::path& path = it->path();
        const std::string relative = path.lexically_relative(root).string();
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            throw std::system_error(errno, std::generic_category(), "lstat");
        }
        Item item;
        item.mtime = timeText(info.st_mtim);
        item.mode = info.st_mode & 07777;
        if (S_ISREG(info.st_mode)) {
            item.type = 'f';
            const std::string contents = readFile(path);
            item.size = contents.size();
            item.hash = fnv1a(contents);
            if (info.st_nlink > 1) {
                auto [found, added] =
                    firstPathOfInode.emplace(std::pair(info.st_dev, info.st_ino), relative);
                item.hardLinkGroup = found->second;
            }
        } else if (S_ISDIR(info.st_mode)) {
            item.type = 'd';
        } else if (S_ISLNK(info.st_mode)) {
            item.type = 'l';
            item.target = fs::read_symlink(path).string();
            item.mode = 0;  // Linux ignores a link's mode
        }
        tree.emplace(relative, std::move(item));
    }
    return tree;
}

std::string octal(unsigned mode) {
    std::ostringstream out;
    out << std::oct << mode;
    return out.str();
}

std::vector<Found> compareTrees(const Tree& ours, const Tree& theirs, unsigned umask) {
    std::vector<Found> found;
    auto add = [&](Aspect aspect, const std::string& path, const std::string& ourText,
                   const std::string& theirText) {
        found.push_back({aspect, path, "ours " + ourText + ", unrar " + theirText, ourText});
    };
    for (const auto& [path, mine] : ours) {
        if (!theirs.count(path)) {
            add(Aspect::presence, path, "has it", "has not");
        }
    }
    for (const auto& [path, other] : theirs) {
        const auto mine = ours.find(path);
        if (mine == ours.end()) {
            add(Aspect::presence, path, "has not", "has it");
            continue;
        }
        const Item& a = mine->second;
        if (a.type != other.type) {
            add(Aspect::type, path, std::string(1, a.type), std::string(1, other.type));
            continue;
        }
        if (a.size != other.size || a.hash != other.hash) {
            add(Aspect::content, path, std::to_string(a.size) + " bytes",
                std::to_string(other.size) + " bytes");
        }
        if (a.target != other.target) {
            add(Aspect::target, path, "\"" + a.target + "\"", "\"" + other.target + "\"");
        }
        if (a.hardLinkGroup != other.hardLinkGroup) {
            add(Aspect::hardLink, path, "\"" + a.hardLinkGroup + "\"",
                "\"" + other.hardLinkGroup + "\"");
        }
        if (a.mtime != other.mtime) {
            add(a.type == 'd' ? Aspect::folderTime : Aspect::mtime, path, a.mtime, other.mtime);
        }
        if (a.mode != (other.mode & ~umask)) {
            add(Aspect::mode, path, octal(a.mode), octal(other.mode & ~umask));
        }
    }
    return found;
}

// Whether our value is one the intended difference allows.
bool oursAsIntended(const char* allowed, const std::string& ours, const RunWindow& run) {
    if (allowed == nullptr) {
        return true;
    }
    std::istringstream alternatives(allowed);
    for (std::string pattern; std::getline(alternatives, pattern, '|');) {
        if (pattern == "now") {
            const std::int64_t seconds = std::strtoll(ours.c_str(), nullptr, 10);
            if (seconds >= run.from && seconds <= run.to) {
                return true;
            }
        } else if (::fnmatch(pattern.c_str(), ours.c_str(), 0) == 0) {
            return true;
        }
    }
    return false;
}

bool matches(const Intended& intended, const std::string& caseName, const Found& difference,
             const RunWindow& run) {
    return intended.aspect == difference.aspect &&
           ::fnmatch(intended.cases, caseName.c_str(), 0) == 0 &&
           ::fnmatch(intended.paths, difference.path.c_str(), 0) == 0 &&
           oursAsIntended(intended.ours, difference.ours, run);
}

}  // namespace

void PrintTo(const CorpusCase& item, std::ostream* out) {
    *out << item.name;
}

namespace {

std::string paramName(const ::testing::TestParamInfo<CorpusCase>& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        if (c == '-' || c == '.') {
            c = '_';
        }
    }
    return name;
}

class DifferentialTest : public ::testing::TestWithParam<CorpusCase> {
protected:
    void SetUp() override { previousUmask_ = ::umask(kUmask); }
    void TearDown() override { ::umask(previousUmask_); }

    static constexpr unsigned kUmask = 022;
    TempDirectory dir;

private:
    mode_t previousUmask_ = 0;
};

TEST_P(DifferentialTest, ExtractsLikeUnrar) {
    const CorpusCase& item = GetParam();
    const fs::path archiveDir = dir / "archive";
    fs::create_directories(archiveDir);
    const ReferenceArchive archive = item.make(archiveDir);

    const fs::path ours = dir / "ours";
    const fs::path theirs = dir / "theirs";
    fs::create_directories(ours);
    fs::create_directories(theirs);
    std::vector<std::string> ourArguments{"--always-create-folder", "--quiet", "--destination",
                                          ours.string()};
    std::vector<std::string> theirArguments{"x", "-y", "-idq"};
    if (archive.password) {
        writeFile(dir / "password.txt", *archive.password + "\n");
        ourArguments.insert(ourArguments.end(), {"--password-file", (dir / "password.txt")});
        theirArguments.push_back("-p" + *archive.password);
    } else {
        theirArguments.push_back("-p-");
    }
    ourArguments.push_back(archive.path.string());
    theirArguments.insert(theirArguments.end(), {archive.path.string(), theirs.string() + "/"});

    RunWindow window;
    window.from = std::time(nullptr);
    const ToolProcess::Result ourRun = ToolProcess::run(ourArguments, dir.path());
    window.to = std::time(nullptr);
    const ToolRun theirRun = runTool(dir.path(), "unrar", theirArguments);

    std::vector<Found> found;
    const bool weSucceeded = ourRun.exitCode == 0;
    bool theySucceeded = theirRun.exitCode == 0;
    if (!theySucceeded) {
        // Listed as a warning: unrar's tree is what counts.
        const Found status{Aspect::unrarStatus, "", theirRun.output};
        for (const Intended& intended : kIntended) {
            theySucceeded = theySucceeded || matches(intended, item.name, status, window);
        }
    }
    if (weSucceeded != theySucceeded) {
        found.push_back({Aspect::outcome, "",
                         "ours exit " + std::to_string(ourRun.exitCode) + " (" + ourRun.err +
                             "), unrar exit " + std::to_string(theirRun.exitCode) + " (" +
                             theirRun.output + ")"});
    } else if (weSucceeded) {
        const std::set<std::string> outputs = directoryNames(ours);
        ASSERT_EQ(outputs.size(), 1u) << "one output folder";
        found = compareTrees(snapshot(ours / *outputs.begin()), snapshot(theirs), kUmask);
    }
    if (!weSucceeded) {
        // A failed job leaves nothing, whatever unrar keeps.
        EXPECT_TRUE(directoryNames(ours).empty()) << ourRun.err;
    }

    std::vector<bool> used(std::size(kIntended), false);
    for (const Found& difference : found) {
        bool listed = false;
        for (std::size_t i = 0; i < std::size(kIntended); ++i) {
            if (matches(kIntended[i], item.name, difference, window)) {
                listed = true;
                used[i] = true;
            }
        }
        EXPECT_TRUE(listed) << item.name << ": " << aspectName(difference.aspect) << " of \""
                            << difference.path << "\" differs: " << difference.detail;
    }
    for (std::size_t i = 0; i < std::size(kIntended); ++i) {
        const Intended& intended = kIntended[i];
        if (intended.pendingItem != 0 && !used[i] &&
            ::fnmatch(intended.cases, item.name.c_str(), 0) == 0) {
            ADD_FAILURE() << item.name << " now matches unrar in its "
                          << aspectName(intended.aspect) << ": remove the pending mark of item "
                          << intended.pendingItem;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ReferenceCorpus, DifferentialTest, ::testing::ValuesIn(referenceCorpus()),
                         paramName);

}  // namespace
}  // namespace tovani::testing
