// ExtractionQueue turns the archives the application is asked to open into a
// strictly sequential series of extraction jobs. Every file is mapped to the
// first volume of its set, a job that is already waiting or running is
// dropped, and one job at a time runs on a background worker thread. The
// delegate hears on the main thread when a job starts, how it progresses, how
// it ended, and when nothing is left to do.
//
//   ExtractionQueue queue;
//   queue.setDelegate(&appDelegate);  // a QObject implementing ExtractionQueueDelegate
//   queue.add({"/home/me/movie.part2.rar"}, [&](const std::filesystem::path&) {
//       return ExtractionOptions{settings.alwaysCreateFolder(), std::nullopt};
//   });
//   queue.cancelCurrent();  // the progress window's Cancel button
//   queue.cancelAll();      // Shift+Cancel: the rest of the batch too
//
// Every operation, and every delegate call, happens on the main thread, whose
// state needs no lock. Destroying the queue cancels the running job and waits
// for it to end; password questions asked meanwhile are answered as absent and
// nothing more reaches the delegate. Do not destroy the queue from inside a
// passwordFor() call (the job waits for that call); deleteLater() is fine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include <QObject>
#include <QPointer>

#include "App/ExtractionQueueDelegate.h"
#include "TovaniCore/ArchiveEngine.h"

class QThread;

namespace tovani {

class ExtractionQueue : public QObject {
    Q_OBJECT

public:
    // Maps a job's archive (first volume, standardized) to its options.
    using OptionsForArchive = std::function<ExtractionOptions(const std::filesystem::path&)>;
    // Makes the engine for one job, called on the worker thread; and once,
    // as the queue is made, the engine that names the volumes of sets.
    using EngineFactory = std::function<std::shared_ptr<const ArchiveEngine>()>;

    // Without a factory every job gets a new AnyArchiveEngine.
    explicit ExtractionQueue(EngineFactory engineFactory = {}, QObject* parent = nullptr);
    ~ExtractionQueue() override;

    // Held weakly: once the delegate object is destroyed, notifications are
    // skipped and password questions are answered as absent.
    template <class Delegate>
    void setDelegate(Delegate* delegate) {
        static_assert(std::is_base_of_v<QObject, Delegate> &&
                          std::is_base_of_v<ExtractionQueueDelegate, Delegate>,
                      "the delegate is a QObject implementing ExtractionQueueDelegate");
        setDelegate(static_cast<QObject*>(delegate),
                    static_cast<ExtractionQueueDelegate*>(delegate));
    }
    void setDelegate(std::nullptr_t) { setDelegate(nullptr, nullptr); }
    ExtractionQueueDelegate* delegate() const;

    // Resolves each file to its set's first volume, asks options for that
    // archive and queues the job unless the same job is waiting or running;
    // then starts the next job if none runs (or reports idle).
    void add(const std::vector<std::filesystem::path>& archives, const OptionsForArchive& options);
    // Asks the running job to stop; waiting jobs are not touched.
    void cancelCurrent();
    // Drops every waiting job and asks the running one to stop; the queue
    // then becomes idle once that job has ended.
    void cancelAll();
    // Nothing runs and nothing waits.
    bool isIdle() const;

private:
    // A job is its set's first volume by name (which need not exist) and
    // its options; it extracts from the file that was opened, which the
    // extractor maps to the first volume when that exists, and else reports
    // the first volume missing.
    struct Job {
        std::filesystem::path archive;
        ExtractionOptions options;
        std::filesystem::path opened;
        bool operator==(const Job& other) const {
            return archive == other.archive && options == other.options;
        }
    };
    struct Current {
        Job job;
        // Null only for a job that failed as it started.
        std::shared_ptr<Cancellation> cancellation;
    };
    friend class ExtractionQueueProbe;  // lets tests replay a late progress report

    void setDelegate(QObject* object, ExtractionQueueDelegate* delegate);
    void startNextIfPossible();
    void submit(const Job& job, const std::shared_ptr<Cancellation>& cancellation);

    // Main-thread ends of the work items' hops; each does nothing once the
    // queue is gone.
    static ExtractionQueue* alive(const QPointer<ExtractionQueue>& queue);
    static std::optional<std::string> answerPassword(const QPointer<ExtractionQueue>& queue,
                                                     const PasswordRequest& request);
    static void deliverProgress(const QPointer<ExtractionQueue>& queue,
                                const std::shared_ptr<Cancellation>& cancellation,
                                const ExtractionProgress& progress);
    static void finish(const QPointer<ExtractionQueue>& queue, const Job& job,
                       const ExtractionOutcome& outcome);

    QPointer<QObject> delegateObject_;
    ExtractionQueueDelegate* delegate_ = nullptr;
    std::deque<Job> pending_;
    std::optional<Current> current_;
    std::int64_t startedCount_ = 0;
    std::int64_t totalCount_ = 0;
    bool closing_ = false;

    EngineFactory engineFactory_;
    // Maps each file added to its set's first volume, on the main thread.
    std::shared_ptr<const ArchiveEngine> namingEngine_;
    // Main-thread receiver of the worker's hops; lives until the worker ended.
    std::unique_ptr<QObject> courier_;
    std::unique_ptr<QThread> worker_;
    // Receiver of work items, living in the worker thread.
    QObject* workerContext_ = nullptr;
};

}  // namespace tovani
