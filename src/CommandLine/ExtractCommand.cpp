#include "CommandLine/ExtractCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <QCoreApplication>

#include "CommandLine/PasswordSource.h"
#include "CommandLine/ProgressLine.h"
#include "CommandLine/TerminalPasswordPrompt.h"
#include "CommandLine/TerminalText.h"
#include "Messages/ErrorMessage.h"
#include "Messages/SkippedEntriesMessage.h"
#include "TovaniCore/Extractor.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

void printLine(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::string needsPasswordText(const std::string& archiveName) {
    return QCoreApplication::translate("ErrorMessage", "“%1” needs a password.")
        .arg(QString::fromStdString(archiveName))
        .toStdString();
}

std::string incorrectPasswordText(const std::string& archiveName) {
    return QCoreApplication::translate("ErrorMessage", "The password for “%1” is incorrect.")
        .arg(QString::fromStdString(archiveName))
        .toStdString();
}

}  // namespace

int ExtractCommand::run() {
    std::optional<std::string> filePassword;
    if (options_.passwordFile) {
        filePassword = firstLineOf(options_.passwordFile->string());
        if (!filePassword) {
            std::fprintf(stderr, "ostrel-extract: cannot read %s\n",
                         terminalSafe(options_.passwordFile->string()).c_str());
            return 2;
        }
    }

    // Volumes of one set, and the same set named twice, make one job.
    std::vector<fs::path> seen;
    bool anyFailed = false;
    for (const std::string& argument : options_.archives) {
        std::error_code ec;
        fs::path absolute = fs::absolute(argument, ec);
        const fs::path archive = engine_->firstVolume(absolute).lexically_normal();
        if (std::find(seen.begin(), seen.end(), archive) != seen.end()) {
            continue;
        }
        seen.push_back(archive);
        if (!extractOne(argument, archive, absolute, filePassword)) {
            anyFailed = true;
        }
        if (interrupted_.isCancelled()) {
            return interruptedStatus;
        }
    }
    return anyFailed ? someFailed : succeeded;
}

bool ExtractCommand::extractOne(const std::string& argument, const fs::path& archive,
                                const fs::path& opened,
                                const std::optional<std::string>& filePassword) {
    ExtractionOptions extractionOptions{options_.alwaysCreateFolder, std::nullopt};
    if (options_.destination) {
        extractionOptions.destinationDirectory = fs::absolute(*options_.destination);
    }

    PasswordSource passwords(filePassword, TerminalPasswordPrompt::isAvailable()
                                               ? PasswordSource::Prompt(TerminalPasswordPrompt::ask)
                                               : PasswordSource::Prompt());
    ProgressLine line(!options_.quiet && ::isatty(STDERR_FILENO) == 1);
    const std::string displayName = archive.filename().string();

    ExtractionHandlers handlers;
    handlers.password = [&](const PasswordRequest& request) {
        line.clear();
        return passwords.answer(request);
    };
    handlers.progress = [&](const ExtractionProgress& progress) {
        line.update(displayName, progress);
    };
    handlers.cancellation = &interrupted_;

    const Extractor extractor(engine_);
    const QString archiveName = QString::fromStdString(displayName);
    try {
        ExtractionResult result = extractor.extract(opened, extractionOptions, handlers);
        line.clear();
        printLine(stdout, terminalSafe(result.output().string()));
        if (options_.verbose && result.missingConfinement().any()) {
            printLine(stderr, terminalSafe(argument + ": read without " +
                                           result.missingConfinement().describe() +
                                           ", which this system does not offer"));
        }
        // A message of several lines: its names are made safe one by one.
        if (auto skipped =
                skippedEntriesMessage(withTerminalSafePaths(result.skipped()),
                                      QString::fromStdString(terminalSafe(displayName)))) {
            printLine(stderr, (skipped->title + "\n" + skipped->detail).toStdString());
        }
        return true;
    } catch (const ExtractionError& error) {
        line.clear();
        // Ctrl-C reaches the decoder too, which may end the job as damaged
        // before the handler has run: an interrupted job says nothing.
        if (interrupted_.isCancelled()) {
            return false;
        }
        if (error == ExtractionError::cancelled() && passwords.wasUnanswered()) {
            // A password from the file that the archive refused, with no one
            // to ask for another, is an incorrect password, not a missing one.
            printLine(stderr,
                      terminalSafe(argument + ": " +
                                   (passwords.wasRefused() ? incorrectPasswordText(displayName)
                                                           : needsPasswordText(displayName))));
            return false;
        }
        const ErrorMessage message = errorMessage(error, archiveName);
        printLine(stderr, terminalSafe(argument + ": " +
                                       (message.title + " " + message.detail).toStdString()));
        return false;
    } catch (const std::exception& error) {
        line.clear();
        if (interrupted_.isCancelled()) {
            return false;
        }
        const ErrorMessage message = errorMessage(error, archiveName);
        printLine(stderr, terminalSafe(argument + ": " +
                                       (message.title + " " + message.detail).toStdString()));
        return false;
    }
}

}  // namespace tovani
