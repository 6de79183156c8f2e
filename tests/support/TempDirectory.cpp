#include "support/TempDirectory.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace tovani::testing {

namespace fs = std::filesystem;

TempDirectory::TempDirectory() {
    std::string pattern = (fs::temp_directory_path() / "ostrel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = fs::canonical(pattern);
}

TempDirectory::~TempDirectory() {
    std::error_code ec;
    // Tests make directories unwritable or unsearchable; open them up first.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            ::chmod(it->path().c_str(), 0700);
        }
    }
    ::chmod(path_.c_str(), 0700);
    fs::remove_all(path_, ec);
}

std::set<std::string> directoryNames(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(directory)) {
        names.insert(item.path().filename().string());
    }
    return names;
}

std::map<std::string, std::string> treeSnapshot(const fs::path& directory,
                                                const std::vector<std::string>& leftOut) {
    std::map<std::string, std::string> items;
    for (auto it = fs::recursive_directory_iterator(directory);
         it != fs::recursive_directory_iterator(); ++it) {
        const fs::directory_entry& item = *it;
        if (it.depth() == 0 && std::find(leftOut.begin(), leftOut.end(),
                                         item.path().filename().string()) != leftOut.end()) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat status {};
        if (::lstat(item.path().c_str(), &status) != 0) {
            throw std::system_error(errno, std::generic_category(), item.path().string());
        }
        std::string value = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid);
        if (S_ISREG(status.st_mode)) {
            value += " " + readFile(item.path());
        } else if (S_ISLNK(status.st_mode)) {
            value += " -> " + fs::read_symlink(item.path()).string();
        }
        // By text: fs::relative resolves every parent of every item, which
        // takes ages in a deep tree.
        items[item.path().string().substr(directory.string().size() + 1)] = value;
    }
    return items;
}

void writeFile(const fs::path& file, const std::string& contents) {
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path());
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

}  // namespace tovani::testing
