// CommandLineOptions is what ostrel-extract was asked to do, parsed from its
// arguments.
//
//   ostrel-extract [--always-create-folder] [--destination DIR]
//                  [--password-file FILE] [--quiet] [--verbose] ARCHIVE...
//
//   auto parsed = CommandLineOptions::parse({"--quiet", "a.rar"});
//   if (!parsed) { std::cerr << CommandLineOptions::usage; return 2; }
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tovani {

struct CommandLineOptions {
    bool alwaysCreateFolder = false;
    std::optional<std::filesystem::path> destination;
    std::optional<std::filesystem::path> passwordFile;
    bool quiet = false;
    // Also says on standard error which confinement layers the kernel lacks.
    bool verbose = false;
    // --help (or -h): the usage is asked for, nothing is extracted.
    bool help = false;
    std::vector<std::string> archives;

    // None on a usage error: an unknown option, a missing value, no archive.
    static std::optional<CommandLineOptions> parse(const std::vector<std::string>& arguments);

    static const char* const usage;
};

}  // namespace tovani
