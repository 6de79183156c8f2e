// TerminationSignals turns SIGTERM and SIGHUP (logout, a closed terminal,
// `kill`, `timeout`) into a Qt signal on the main thread, so that the app
// can cancel its running job, let it remove its workspace, and quit, instead
// of dying with partial output left behind.
//
//   TerminationSignals signals;
//   QObject::connect(&signals, &TerminationSignals::received, &delegate,
//                    &AppDelegate::terminate);
//
// One instance per process; the handlers stay installed until it is gone.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace tovani {

class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void drain();

    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tovani
