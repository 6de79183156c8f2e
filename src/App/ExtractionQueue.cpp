#include "App/ExtractionQueue.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QThread>

#include "App/ProgressThrottle.h"
#include "TovaniCore/AnyArchiveEngine.h"
#include "TovaniCore/Extractor.h"

namespace tovani {

namespace {

namespace fs = std::filesystem;

// The absolute form without "." and ".." segments, so that two spellings of
// one file make one job.
fs::path standardized(const fs::path& file) {
    std::error_code error;
    fs::path absolute = fs::absolute(file, error);
    return (error ? file : absolute).lexically_normal();
}

std::shared_ptr<const ArchiveEngine> makeEngine(const ExtractionQueue::EngineFactory& factory) {
    return factory ? factory() : std::make_shared<const AnyArchiveEngine>();
}

}  // namespace

ExtractionQueue::ExtractionQueue(EngineFactory engineFactory, QObject* parent)
    : QObject(parent),
      engineFactory_(std::move(engineFactory)),
      namingEngine_(makeEngine(engineFactory_)),
      courier_(std::make_unique<QObject>()),
      worker_(std::make_unique<QThread>()),
      workerContext_(new QObject) {
    worker_->setObjectName(QStringLiteral(OSTREL_APP_ID ".extraction"));
    workerContext_->moveToThread(worker_.get());
    connect(worker_.get(), &QThread::finished, workerContext_, &QObject::deleteLater);
    worker_->start();
}

ExtractionQueue::~ExtractionQueue() {
    closing_ = true;
    cancelCurrent();
    worker_->quit();
    // The running job may be waiting for a password question sent to the
    // courier; nothing else serves this thread's events now, so serve the
    // courier's here (closing_ answers them as absent) until the job ended.
    while (!worker_->wait(10)) {
        QCoreApplication::sendPostedEvents(courier_.get(), QEvent::MetaCall);
    }
    // Drops whatever reports and completions are still on their way.
    courier_.reset();
}

void ExtractionQueue::setDelegate(QObject* object, ExtractionQueueDelegate* delegate) {
    delegateObject_ = object;
    delegate_ = object ? delegate : nullptr;
}

ExtractionQueueDelegate* ExtractionQueue::delegate() const {
    return delegateObject_ ? delegate_ : nullptr;
}

void ExtractionQueue::add(const std::vector<fs::path>& archives, const OptionsForArchive& options) {
    for (const fs::path& file : archives) {
        Job job;
        job.opened = standardized(file);
        job.archive = namingEngine_->firstVolume(job.opened);
        job.options = options ? options(job.archive) : ExtractionOptions{};
        if (std::find(pending_.begin(), pending_.end(), job) != pending_.end()) {
            continue;
        }
        if (current_ && current_->job == job) {
            continue;
        }
        pending_.push_back(std::move(job));
        ++totalCount_;
    }
    startNextIfPossible();
}

void ExtractionQueue::cancelCurrent() {
    if (current_ && current_->cancellation) {
        current_->cancellation->cancel();
    }
}

void ExtractionQueue::cancelAll() {
    totalCount_ -= static_cast<std::int64_t>(pending_.size());
    pending_.clear();
    cancelCurrent();
}

bool ExtractionQueue::isIdle() const {
    return !current_ && pending_.empty();
}

void ExtractionQueue::startNextIfPossible() {
    if (current_) {
        return;
    }
    if (pending_.empty()) {
        startedCount_ = 0;
        totalCount_ = 0;
        if (ExtractionQueueDelegate* receiver = delegate()) {
            receiver->didBecomeIdle(*this);
        }
        return;
    }
    Job job = std::move(pending_.front());
    pending_.pop_front();
    // Without a descriptor left for its cancellation the job cannot run
    // safely; it then fails as it starts, and the queue goes on.
    const std::shared_ptr<Cancellation> cancellation = Cancellation::tryMake();
    const std::exception_ptr cannotStart =
        cancellation ? std::exception_ptr()
                     : std::make_exception_ptr(ExtractionError::engineFailure());
    current_ = Current{job, cancellation};
    ++startedCount_;
    const QPointer<ExtractionQueue> self(this);
    if (ExtractionQueueDelegate* receiver = delegate()) {
        receiver->didStart(*this, job.archive, startedCount_, totalCount_);
    }
    if (!alive(self)) {
        return;
    }
    if (cannotStart) {
        QMetaObject::invokeMethod(
            courier_.get(),
            [self, job, outcome = ExtractionOutcome::failure(cannotStart)] {
                finish(self, job, outcome);
            },
            Qt::QueuedConnection);
        return;
    }
    submit(job, cancellation);
}

void ExtractionQueue::submit(const Job& job, const std::shared_ptr<Cancellation>& cancellation) {
    const QPointer<ExtractionQueue> queue(this);
    QObject* courier = courier_.get();
    EngineFactory engineFactory = engineFactory_;
    auto run = [queue, courier, engineFactory, job, cancellation] {
        ProgressThrottle throttle;
        ExtractionHandlers handlers;
        handlers.password = [queue, courier](const PasswordRequest& request) {
            std::optional<std::string> answer;
            QMetaObject::invokeMethod(
                courier, [&] { answer = answerPassword(queue, request); },
                Qt::BlockingQueuedConnection);
            return answer;
        };
        handlers.progress = [&throttle, queue, courier,
                             cancellation](const ExtractionProgress& progress) {
            if (!throttle.shouldReport(progress)) {
                return;
            }
            QMetaObject::invokeMethod(
                courier,
                [queue, cancellation, progress] { deliverProgress(queue, cancellation, progress); },
                Qt::QueuedConnection);
        };
        handlers.cancellation = cancellation.get();

        std::optional<ExtractionOutcome> outcome;
        try {
            std::shared_ptr<const ArchiveEngine> engine = makeEngine(engineFactory);
            outcome = ExtractionOutcome::success(
                Extractor(std::move(engine)).extract(job.opened, job.options, handlers));
        } catch (...) {
            outcome = ExtractionOutcome::failure(std::current_exception());
        }
        QMetaObject::invokeMethod(
            courier, [queue, job, outcome = std::move(*outcome)] { finish(queue, job, outcome); },
            Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(workerContext_, std::move(run), Qt::QueuedConnection);
}

ExtractionQueue* ExtractionQueue::alive(const QPointer<ExtractionQueue>& queue) {
    return queue && !queue->closing_ ? queue.data() : nullptr;
}

std::optional<std::string> ExtractionQueue::answerPassword(const QPointer<ExtractionQueue>& queue,
                                                           const PasswordRequest& request) {
    ExtractionQueue* self = alive(queue);
    ExtractionQueueDelegate* receiver = self ? self->delegate() : nullptr;
    if (!receiver) {
        return std::nullopt;
    }
    return receiver->passwordFor(*self, request);
}

void ExtractionQueue::deliverProgress(const QPointer<ExtractionQueue>& queue,
                                      const std::shared_ptr<Cancellation>& cancellation,
                                      const ExtractionProgress& progress) {
    ExtractionQueue* self = alive(queue);
    // The flag's identity tells whether the report's own job still runs.
    if (!self || !self->current_ || self->current_->cancellation != cancellation) {
        return;
    }
    if (ExtractionQueueDelegate* receiver = self->delegate()) {
        receiver->didReport(*self, progress);
    }
}

void ExtractionQueue::finish(const QPointer<ExtractionQueue>& queue, const Job& job,
                             const ExtractionOutcome& outcome) {
    ExtractionQueue* self = alive(queue);
    if (!self) {
        return;
    }
    self->current_.reset();
    // The app's log is where a kernel without a confinement layer shows.
    if (const ExtractionResult* result = outcome.result();
        result != nullptr && result->missingConfinement().any()) {
        qInfo("%s was read without %s, which this system does not offer",
              job.archive.filename().c_str(), result->missingConfinement().describe().c_str());
    }
    if (ExtractionQueueDelegate* receiver = self->delegate()) {
        receiver->didFinish(*self, job.archive, job.options, outcome);
    }
    if (ExtractionQueue* stillAlive = alive(queue)) {
        stillAlive->startNextIfPossible();
    }
}

}  // namespace tovani
