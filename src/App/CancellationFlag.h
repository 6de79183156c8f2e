// CancellationFlag is the cancel request of one extraction job, shared by the
// main thread, which sets it, and the worker thread, which polls it. Once set
// it stays set; a fresh flag is made for every job.
//
//   auto flag = std::make_shared<CancellationFlag>();
//   handlers.isCancelled = [flag] { return flag->isCancelled(); };
//   flag->cancel();  // from the progress window's Cancel button
#pragma once

#include <mutex>

namespace tovani {

class CancellationFlag {
public:
    CancellationFlag() = default;
    CancellationFlag(const CancellationFlag&) = delete;
    CancellationFlag& operator=(const CancellationFlag&) = delete;

    void cancel();
    bool isCancelled() const;

private:
    mutable std::mutex lock_;
    bool value_ = false;
};

}  // namespace tovani
