// ProgressWindowController owns the progress window: which archive is being
// extracted, the entry being written, the share of bytes done with the bytes
// themselves and the time left, the job's place in the batch, and a Cancel
// button (also Escape) for the running job; Shift-click on Cancel (or
// Shift+Escape) cancels the rest of the batch as well. The window comes up
// only when a job still runs one second after it began, without taking the
// focus and never over a dialog of the app, and closes when the queue runs
// dry. One instance serves every batch.
//
//   ProgressWindowController progress;
//   progress.setOnCancel([&queue] { queue.cancelCurrent(); });
//   progress.setOnCancelAll([&queue] { queue.cancelAll(); });
//   progress.begin("movie.part1.rar", 1, 3);   // window due in 1 s
//   progress.update(report);                   // path, fraction, bytes, time left
//   progress.jobEnded();                       // not due any more for this job
//   progress.finish();                         // queue ran dry
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "TovaniCore/ExtractionProgress.h"
#include "UI/DelayTimer.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace tovani {

class ProgressWindowController : public QObject {
    Q_OBJECT

public:
    // Scale of the determinate bar: its value is the fraction done times this.
    static constexpr int barScale = 1000;
    static constexpr std::chrono::milliseconds appearanceDelay{1000};
    // How long a job has to run before the time left is estimated.
    static constexpr std::chrono::seconds estimateAfter{2};

    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Without a clock the steady clock is used, without a timer for the
    // appearance delay a real one; tests pass their own.
    explicit ProgressWindowController(QObject* parent = nullptr, Clock clock = {},
                                      std::unique_ptr<DelayTimer> appearanceTimer = nullptr);
    ~ProgressWindowController() override;

    // What to do when the user cancels; called on the main thread, once per
    // press of Cancel or Escape.
    void setOnCancel(std::function<void()> onCancel);
    // What to do when the user cancels the whole batch (Shift-click on
    // Cancel, or Shift+Escape).
    void setOnCancelAll(std::function<void()> onCancelAll);

    // A job starts: archiveName is the archive's file name, position is
    // 1-based within a batch of total jobs.
    void begin(const QString& archiveName, std::int64_t position, std::int64_t total);
    void update(const ExtractionProgress& progress);
    // The running job ended: a window not yet on screen is no longer due (the
    // next begin() makes it due again).
    void jobEnded();
    // The queue ran dry: hides the window, or keeps a pending one from coming up.
    void finish();

    // The window, kept for the whole process (closed between batches).
    QWidget* window() const;
    bool isAppearancePending() const;

    // Time left, as the detail row shows it ("5 s", "3 min", "1 h 20 min").
    static QString durationText(std::chrono::seconds left);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildContent();
    void fitHeight();
    void appear();
    void cancel();
    void cancelAll();
    QString figures(const ExtractionProgress& progress) const;

    Clock clock_;
    std::chrono::steady_clock::time_point jobStart_;
    bool jobRunning_ = false;
    Qt::KeyboardModifiers clickModifiers_ = Qt::NoModifier;
    // The dialog the window waits behind, to come up once it is gone.
    QPointer<QWidget> waitingBehind_;
    std::function<void()> onCancel_;
    std::function<void()> onCancelAll_;
    std::unique_ptr<QWidget> window_;
    QLabel* titleLabel_ = nullptr;
    QLabel* detailLabel_ = nullptr;
    QLabel* figuresLabel_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QLabel* hintLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::unique_ptr<DelayTimer> appearanceTimer_;
};

}  // namespace tovani
