#include "support/RarTool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <stdexcept>
#include <system_error>

#include "support/TempDirectory.h"

namespace tovani::testing {

namespace fs = std::filesystem;

void makeTree(const fs::path& root, const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [relative, contents] : files) {
        if (!relative.empty() && relative.back() == '/') {
            fs::create_directories(root / relative);
        } else {
            writeFile(root / relative, contents);
        }
    }
}

ToolRun runTool(const fs::path& workingDirectory, const std::string& program,
                const std::vector<std::string>& arguments) {
    // Everything the child needs is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<std::string> args;
    args.push_back(program);
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string directory = workingDirectory.string();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        throw std::system_error(error, std::generic_category(), "fork");
    }
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(pipeFds[1], 1) < 0 ||
            ::dup2(pipeFds[1], 2) < 0 || ::chdir(directory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ToolRun run;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(pipeFds[0], buffer, sizeof buffer);
        if (count > 0) {
            run.output.append(buffer, static_cast<size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (run.exitCode == 127) {
        throw std::system_error(ENOENT, std::generic_category(), "cannot run " + program);
    }
    return run;
}

namespace {

// Splits "name.part07.rar" into ("name", 7); false for other names.
bool splitVolumeName(const std::string& fileName, std::string& stem, unsigned long& number) {
    static const std::regex pattern(R"((.*)\.part([0-9]+)\.rar)", std::regex::icase);
    std::smatch match;
    if (!std::regex_match(fileName, match, pattern)) {
        return false;
    }
    stem = match[1];
    number = std::stoul(match[2]);
    return true;
}

}  // namespace

std::vector<fs::path> volumeFiles(const fs::path& firstVolume) {
    std::string stem;
    unsigned long number = 0;
    if (!splitVolumeName(firstVolume.filename().string(), stem, number)) {
        return {firstVolume};
    }
    std::vector<std::pair<unsigned long, fs::path>> found;
    for (const auto& item : fs::directory_iterator(firstVolume.parent_path())) {
        std::string otherStem;
        if (splitVolumeName(item.path().filename().string(), otherStem, number) &&
            otherStem == stem) {
            found.emplace_back(number, item.path());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> volumes;
    for (auto& [index, path] : found) {
        volumes.push_back(std::move(path));
    }
    return volumes;
}

fs::path rar(const fs::path& workingDirectory, const std::string& archiveName,
             std::vector<std::string> switches, std::vector<std::string> inputs) {
    std::vector<std::string> arguments{"a", "-idq", "-y"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    arguments.push_back(archiveName);
    arguments.insert(arguments.end(), inputs.begin(), inputs.end());
    const ToolRun run = runTool(workingDirectory, "rar", arguments);
    if (run.exitCode != 0) {
        throw std::runtime_error("rar exited with " + std::to_string(run.exitCode) + ": " +
                                 run.output);
    }
    const fs::path archive = workingDirectory / archiveName;
    if (fs::exists(archive)) {
        return archive;
    }
    // A volume set: rar names the volumes name.part1.rar or name.part01.rar ...
    const std::string stem = archive.stem().string();
    for (const auto& item : fs::directory_iterator(archive.parent_path())) {
        std::string otherStem;
        unsigned long number = 0;
        if (splitVolumeName(item.path().filename().string(), otherStem, number) &&
            otherStem == stem && number == 1) {
            return item.path();
        }
    }
    throw std::runtime_error("rar made no archive named " + archive.string() + ": " + run.output);
}

}  // namespace tovani::testing
