// ExtractionQueueDelegate receives everything an ExtractionQueue reports.
// Every call arrives on the main thread. The queue holds its delegate weakly,
// so the delegate must also be a QObject (see ExtractionQueue::setDelegate).
//
//   class AppDelegate : public QObject, public ExtractionQueueDelegate {
//       void didStart(ExtractionQueue&, const std::filesystem::path& archive,
//                     std::int64_t position, std::int64_t total) override {
//           progressWindow.show(archive, position, total);
//       }
//       ...
//   };
//   queue.setDelegate(&appDelegate);
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "App/ExtractionOutcome.h"
#include "TovaniCore/ExtractionOptions.h"
#include "TovaniCore/ExtractionProgress.h"
#include "TovaniCore/PasswordRequest.h"

namespace tovani {

class ExtractionQueue;

class ExtractionQueueDelegate {
public:
    virtual ~ExtractionQueueDelegate() = default;

    // A job left the waiting list and is about to run; position is 1-based
    // and counts the jobs started since the queue was last idle.
    virtual void didStart(ExtractionQueue& queue, const std::filesystem::path& archive,
                          std::int64_t position, std::int64_t total) = 0;
    // The running job needs a password; its worker waits for the answer.
    // Absent gives up, and the job ends as cancelled.
    virtual std::optional<std::string> passwordFor(ExtractionQueue& queue,
                                                   const PasswordRequest& request) = 0;
    // Progress of the running job, already thinned out.
    virtual void didReport(ExtractionQueue& queue, const ExtractionProgress& progress) = 0;
    // A job ended; the queue no longer counts it as running, so an add() made
    // here starts the next waiting job at once.
    virtual void didFinish(ExtractionQueue& queue, const std::filesystem::path& archive,
                           const ExtractionOptions& options, const ExtractionOutcome& outcome) = 0;
    // Nothing runs and nothing waits.
    virtual void didBecomeIdle(ExtractionQueue& queue) = 0;
};

}  // namespace tovani
