#include "CommandLine/CommandLineOptions.h"

namespace tovani {

const char* const CommandLineOptions::usage =
    "usage: ostrel-extract [--always-create-folder] [--destination DIR]\n"
    "                      [--password-file FILE] [--quiet] [--verbose] ARCHIVE...\n";

std::optional<CommandLineOptions> CommandLineOptions::parse(
    const std::vector<std::string>& arguments) {
    CommandLineOptions options;
    bool onlyArchives = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (onlyArchives || argument.empty() || argument[0] != '-' || argument == "-") {
            options.archives.push_back(argument);
        } else if (argument == "--") {
            onlyArchives = true;
        } else if (argument == "--always-create-folder") {
            options.alwaysCreateFolder = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "--verbose") {
            options.verbose = true;
        } else if (argument == "--destination" && hasValue) {
            options.destination = arguments[++i];
        } else if (argument == "--password-file" && hasValue) {
            options.passwordFile = arguments[++i];
        } else {
            return std::nullopt;
        }
    }
    if (options.archives.empty() && !options.help) {
        return std::nullopt;
    }
    return options;
}

}  // namespace tovani
