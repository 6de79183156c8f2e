// ProgressWindowController owns the progress window: which archive is being
// extracted, the entry being written, the share of bytes done, the job's place
// in the batch, and a Cancel button (also Escape). The window comes up only
// when a batch still runs one second after it began, without taking the focus,
// and closes when the queue runs dry. One instance serves every batch.
//
//   ProgressWindowController progress;
//   progress.setOnCancel([&queue] { queue.cancelCurrent(); });
//   progress.begin("movie.part1.rar", 1, 3);   // window due in 1 s
//   progress.update(report);                   // path and fraction
//   progress.finish();                         // queue ran dry
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "TovaniCore/ExtractionProgress.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace tovani {

class ProgressWindowController : public QObject {
    Q_OBJECT

public:
    // Scale of the determinate bar: its value is the fraction done times this.
    static constexpr int barScale = 1000;
    static constexpr int appearanceDelayMs = 1000;

    explicit ProgressWindowController(QObject* parent = nullptr);
    ~ProgressWindowController() override;

    // What to do when the user cancels; called on the main thread, once per
    // press of Cancel or Escape.
    void setOnCancel(std::function<void()> onCancel);

    // A job starts: archiveName is the archive's file name, position is
    // 1-based within a batch of total jobs.
    void begin(const QString& archiveName, std::int64_t position, std::int64_t total);
    void update(const ExtractionProgress& progress);
    // The queue ran dry: hides the window, or keeps a pending one from coming up.
    void finish();

    // The window, kept for the whole process (closed between batches).
    QWidget* window() const;
    bool isAppearancePending() const;

private:
    void buildContent();
    void appear();
    void cancel();

    std::function<void()> onCancel_;
    std::unique_ptr<QWidget> window_;
    QLabel* titleLabel_ = nullptr;
    QLabel* detailLabel_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QTimer* appearanceTimer_ = nullptr;
};

}  // namespace tovani
